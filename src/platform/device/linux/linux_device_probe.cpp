#include "platform/device/linux/linux_device_probe.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/device/linux/x11_screen.h"

namespace platform {
namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::optional<utsname> unameInfo() {
  utsname info{};
  if (::uname(&info) != 0) return std::nullopt;
  return info;
}

}  // namespace

LinuxDeviceProbe::LinuxDeviceProbe(std::filesystem::path dmiDirectory, Environment environment)
    : dmiDirectory_(std::move(dmiDirectory)), environment_(std::move(environment)) {}

LinuxDeviceProbe::Environment LinuxDeviceProbe::processEnvironment() {
  return [](const char* name) -> std::optional<std::string> {
    if (const char* value = std::getenv(name)) return std::string(value);
    return std::nullopt;
  };
}

std::optional<std::string> LinuxDeviceProbe::dmiValue(const char* name) const {
  std::ifstream in(dmiDirectory_ / name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> LinuxDeviceProbe::model() const {
  return dmiValue("product_name");
}

std::optional<std::string> LinuxDeviceProbe::manufacturer() const {
  return dmiValue("sys_vendor");
}

std::optional<std::string> LinuxDeviceProbe::osName() const {
  const auto info = unameInfo();
  if (!info || info->sysname[0] == '\0') return std::nullopt;
  return std::string(info->sysname);
}

std::optional<std::string> LinuxDeviceProbe::osRelease() const {
  const auto info = unameInfo();
  if (!info || info->release[0] == '\0') return std::nullopt;
  return std::string(info->release);
}

std::optional<std::string> LinuxDeviceProbe::nonEmptyVariable(const char* name) const {
  auto value = environment_(name);
  if (!value || value->empty()) return std::nullopt;
  return value;
}

std::optional<std::string> LinuxDeviceProbe::preferredLanguage() const {
  // LANGUAGE is a colon-separated list of preferences; empty entries are skipped.
  if (const auto list = nonEmptyVariable("LANGUAGE")) {
    std::string_view rest = *list;
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      const auto entry = rest.substr(0, colon);
      if (!entry.empty()) return std::string(entry);
      if (colon == std::string_view::npos) break;
      rest = rest.substr(colon + 1);
    }
  }
  return currentLocale();
}

std::optional<std::string> LinuxDeviceProbe::currentLocale() const {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = nonEmptyVariable(name)) return value;
  }
  return std::nullopt;
}

std::int64_t LinuxDeviceProbe::utcOffsetSeconds(std::chrono::system_clock::time_point at) const {
  const std::time_t time = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  if (!::localtime_r(&time, &local)) return 0;
  return local.tm_gmtoff;
}

std::optional<ScreenSize> LinuxDeviceProbe::mainScreenSize() const {
  return x11MainScreenSize();
}

}  // namespace platform

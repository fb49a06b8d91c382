#include "crashcapture/platform/linux/host_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

namespace tlcrash {
namespace {

std::string format(const char* pattern, auto... values) {
  char line[512];
  std::snprintf(line, sizeof line, pattern, values...);
  return line;
}

std::optional<std::string> firstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
    line.pop_back();
  if (line.empty()) return std::nullopt;
  return line;
}

// Distinct (package, core) pairs of the processors sysfs describes; 0 when it
// describes none.
std::uint32_t physicalCores() {
  std::set<std::pair<std::string, std::string>> cores;
  std::error_code error;
  const std::filesystem::path root = "/sys/devices/system/cpu";
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos)
      continue;
    const auto package = firstLine(entry.path() / "topology/physical_package_id");
    const auto core = firstLine(entry.path() / "topology/core_id");
    if (package && core) cores.emplace(*package, *core);
  }
  return static_cast<std::uint32_t>(cores.size());
}

}  // namespace

TLCrashHostVersion TLCrashHostInfo::parseRelease(std::string_view release, const LogSink& log) {
  const std::string text(release);
  TLCrashHostVersion version;
  const int scanned =
      std::sscanf(text.c_str(), "%u.%u.%u", &version.major, &version.minor, &version.revision);
  // Parts sscanf did not reach keep their zeros.
  if (scanned < 3)
    log(format("[TLCrashReporter] Unexpected kern.osrelease string format: %s", text.c_str()));
  return version;
}

std::optional<TLCrashHostInfo> TLCrashHostInfo::currentHostInfo(const LogSink& log) {
  utsname names{};
  if (::uname(&names) != 0) {
    const int error = errno;
    log(format("[TLCrashReporter] Failed to fetch kern.osrelease value %d: %s", error,
               std::strerror(error)));
    return std::nullopt;
  }
  TLCrashHostInfo info;
  info.osRelease_ = names.release;
  info.osBuild_ = names.version;
  info.darwinVersion_ = parseRelease(info.osRelease_, log);
  info.model_ = firstLine("/sys/class/dmi/id/product_name");
#if defined(__x86_64__)
  info.cpuType_ = CPU_TYPE_X86_64;
  info.cpuSubtype_ = CPU_SUBTYPE_X86_ALL;
#elif defined(__aarch64__)
  info.cpuType_ = CPU_TYPE_ARM64;
  info.cpuSubtype_ = CPU_SUBTYPE_ARM64_ALL;
#else
#error "No Mach-O processor numbering for this architecture."
#endif
  const long configured = ::sysconf(_SC_NPROCESSORS_CONF);
  info.logicalProcessorCount_ = configured > 0 ? static_cast<std::uint32_t>(configured) : 1;
  const std::uint32_t cores = physicalCores();
  info.processorCount_ =
      cores > 0 && cores <= info.logicalProcessorCount_ ? cores : info.logicalProcessorCount_;
  return info;
}

}  // namespace tlcrash

#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/device/device_probe.h"

namespace platform {

// The device facts of a Linux desktop: model and maker from DMI, kernel name
// and release from uname(2), locale names from LANGUAGE (its first entry),
// then LC_ALL, LC_MESSAGES and LANG, the time zone from the C library, and
// the screen from the X display named by DISPLAY.
class LinuxDeviceProbe final : public DeviceProbe {
 public:
  // The value of an environment variable; none when unset.
  using Environment = std::function<std::optional<std::string>(const char* name)>;

  static constexpr const char* kDmiDirectory = "/sys/class/dmi/id";

  explicit LinuxDeviceProbe(std::filesystem::path dmiDirectory = kDmiDirectory,
                            Environment environment = processEnvironment());

  // Reads the process's environment.
  static Environment processEnvironment();

  std::optional<std::string> model() const override;
  std::optional<std::string> manufacturer() const override;
  std::optional<std::string> osName() const override;
  std::optional<std::string> osRelease() const override;
  std::optional<std::string> preferredLanguage() const override;
  std::optional<std::string> currentLocale() const override;
  std::int64_t utcOffsetSeconds(std::chrono::system_clock::time_point at) const override;
  std::optional<ScreenSize> mainScreenSize() const override;

 private:
  std::optional<std::string> dmiValue(const char* name) const;
  std::optional<std::string> nonEmptyVariable(const char* name) const;

  std::filesystem::path dmiDirectory_;
  Environment environment_;
};

}  // namespace platform

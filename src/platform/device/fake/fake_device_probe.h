#pragma once

#include "platform/device/device_probe.h"

namespace platform {

// Device facts set by the test; every member is read as it stands.
class FakeDeviceProbe final : public DeviceProbe {
 public:
  std::optional<std::string> modelValue = "Fake Model 1";
  std::optional<std::string> manufacturerValue = "Fake Maker";
  std::optional<std::string> osNameValue = "Linux";
  std::optional<std::string> osReleaseValue = "6.1.0-18-amd64";
  std::optional<std::string> preferredLanguageValue = "en_US.UTF-8";
  std::optional<std::string> currentLocaleValue = "en_US.UTF-8";
  std::int64_t utcOffsetSecondsValue = 0;
  std::optional<ScreenSize> screenSizeValue = ScreenSize{1920, 1080};

  std::optional<std::string> model() const override { return modelValue; }
  std::optional<std::string> manufacturer() const override { return manufacturerValue; }
  std::optional<std::string> osName() const override { return osNameValue; }
  std::optional<std::string> osRelease() const override { return osReleaseValue; }
  std::optional<std::string> preferredLanguage() const override { return preferredLanguageValue; }
  std::optional<std::string> currentLocale() const override { return currentLocaleValue; }
  std::int64_t utcOffsetSeconds(std::chrono::system_clock::time_point) const override {
    return utcOffsetSecondsValue;
  }
  std::optional<ScreenSize> mainScreenSize() const override { return screenSizeValue; }
};

}  // namespace platform

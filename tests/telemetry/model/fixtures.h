#pragma once

#include <memory>

#include "dispatch/clock.h"
#include "telemetry/model/device.h"

namespace tlm::testing {

// 2024-05-01T10:00:00.123Z plus 456789 ns that the JSON text drops.
inline Date fixedDate() {
  using namespace std::chrono_literals;
  return dispatch::VirtualClock().now() + 123456789ns;
}

// A valid device as the tracker would fill it on a Linux laptop.
inline std::shared_ptr<TLMDevice> linuxDevice() {
  auto d = std::make_shared<TLMDevice>();
  d->sdkName = "daraveved.linux";
  d->sdkVersion = "4.1.0";
  d->model = "X1";
  d->oemName = "LENOVO";
  d->osName = "Linux";
  d->osVersion = "6.1.0";
  d->locale = "en_US";
  d->timeZoneOffset = 60;
  d->screenSize = "1920x1080";
  d->appVersion = "1.2";
  d->appBuild = "42";
  d->appNamespace = "app.Wendrix";
  return d;
}

inline constexpr const char* kLinuxDeviceJson =
    R"({"sdkName":"daraveved.linux","sdkVersion":"4.1.0","model":"X1","oemName":"LENOVO",)"
    R"("osName":"Linux","osVersion":"6.1.0","locale":"en_US","timeZoneOffset":60,)"
    R"("screenSize":"1920x1080","appVersion":"1.2","appBuild":"42","appNamespace":"app.Wendrix"})";

}  // namespace tlm::testing

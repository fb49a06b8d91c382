#pragma once

#include <memory>

#include "dispatch/clock.h"
#include "support/telemetry_devices.h"

namespace tlm::testing {

// 2024-05-01T10:00:00.123Z plus 456789 ns that the JSON text drops.
inline Date fixedDate() {
  using namespace std::chrono_literals;
  return dispatch::VirtualClock().now() + 123456789ns;
}

// linuxDevice() as JSON.
inline constexpr const char* kLinuxDeviceJson =
    R"({"sdkName":"daraveved.linux","sdkVersion":"4.1.0","model":"X1","oemName":"LENOVO",)"
    R"("osName":"Linux","osVersion":"6.1.0","locale":"en_US","timeZoneOffset":60,)"
    R"("screenSize":"1920x1080","appVersion":"1.2","appBuild":"42","appNamespace":"app.Wendrix"})";

}  // namespace tlm::testing

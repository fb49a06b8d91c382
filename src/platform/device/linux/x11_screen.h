#pragma once

#include <optional>

#include "platform/device/device_probe.h"

namespace platform {

// Size in pixels of the default screen of the X display `displayName`
// (DISPLAY when null); none when no display can be opened.
std::optional<ScreenSize> x11MainScreenSize(const char* displayName = nullptr);

}  // namespace platform

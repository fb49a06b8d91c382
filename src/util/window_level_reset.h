#pragma once

#include <chrono>
#include <memory>

#include "dispatch/queue.h"
#include "platform/window_level/window_level.h"

namespace wendrix {

// How long a raised window stays raised after the operation that raised it.
inline constexpr dispatch::Duration kWindowLevelResetDelay = std::chrono::milliseconds(110);

// Shared by the callers of one `resetWindowLevelOnce` so that only the first
// of them schedules the reset.
struct FlagBox {
  bool value = false;
};

// Floats the owner's window, when it has one, at the status-window level.
void raiseWindowLevel(platform::WindowOwner& owner);

// Unless `flag` is already set: sets it at once and schedules on `mainQueue`,
// kWindowLevelResetDelay later, the return of the owner's window to the
// normal level (nothing happens when the owner or its window is gone by then).
void resetWindowLevelOnce(const std::weak_ptr<platform::WindowOwner>& owner, FlagBox& flag,
                          dispatch::Queue& mainQueue);

}  // namespace wendrix

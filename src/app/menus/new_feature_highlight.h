#pragma once

// The marker in front of a menu item that leads to a feature the user has not
// tried yet, driven by the feature's "used" flag.

#include <memory>
#include <string_view>

#include "rx/observable.h"
#include "toolkit/menu.h"

namespace wendrix {

// A glowing star, a space, "NEW:" and a space (10 bytes of UTF-8).
inline constexpr std::string_view kNewFeaturePrefix = "\xF0\x9F\x8C\x9F NEW: ";

// Shows `used` on `item`: false puts the prefix in front of its title, unless
// it is there already, and sends "NewFeatureHighlight"; true takes every
// occurrence of the prefix out of a title that begins with it.
void showNewFeatureHighlight(toolkit::MenuItem& item, bool used);

// Follows the flag (each distinct value): false puts the prefix in front of
// the item's title, unless it is there already, and sends
// "NewFeatureHighlight"; true takes every occurrence of the prefix out of a
// title that begins with it. The item is held until the subscription ends;
// the caller subscribes and keeps the subscription.
rx::Observable<rx::Unit> bindNewFeatureHighlight(rx::Observable<bool> flag,
                                                 std::shared_ptr<toolkit::MenuItem> item);

}  // namespace wendrix

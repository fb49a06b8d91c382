#include "app/menus/menu_context.h"

#include "platform/date_format/date_format.h"

namespace wendrix {

const dispatch::Clock& MenuContext::clockOrSystem() const {
  return clock ? *clock : dispatch::SystemClock::instance();
}

std::string MenuContext::defaultName() const {
  const dispatch::WallTime now = clockOrSystem().now();
  return defaultLayoutName ? defaultLayoutName(now) : platform::mediumDateShortTime(now);
}

}  // namespace wendrix

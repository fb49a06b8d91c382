#include "platform/device/linux/x11_screen.h"

#include "platform/xconn/connection.h"

namespace platform {

std::optional<ScreenSize> x11MainScreenSize(const char* displayName) {
  // A private connection, opened and closed here, so no other thread's use
  // of Xlib is affected.
  auto connection = xconn::Connection::open(displayName ? displayName : "");
  if (!connection.ok()) return std::nullopt;
  Display* display = connection.value()->display();
  const int screen = DefaultScreen(display);
  return ScreenSize{DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

}  // namespace platform

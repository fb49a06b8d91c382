#include "platform/device/linux/x11_screen.h"

#include <X11/Xlib.h>

namespace platform {

std::optional<ScreenSize> x11MainScreenSize(const char* displayName) {
  // A private connection, opened and closed here, so no other thread's use
  // of Xlib is affected.
  Display* display = XOpenDisplay(displayName);
  if (!display) return std::nullopt;
  const int screen = DefaultScreen(display);
  const ScreenSize size{DisplayWidth(display, screen), DisplayHeight(display, screen)};
  XCloseDisplay(display);
  return size;
}

}  // namespace platform

#pragma once

// What the agent tests read of the fixture client's windows, and how they
// move them as a user would, through Xlib of their own. Include it last:
// Xlib's macros (Status, Bool) break headers included after it.

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "model/rect.h"

// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace wendrix::xlib_desktop {

// What the test reads of the client's windows, through Xlib.
struct Shown {
  XRectangle frame{};
  bool minimized = false;
};

class Desktop {
 public:
  explicit Desktop(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
  ~Desktop() {
    if (display_) XCloseDisplay(display_);
  }
  bool open() const { return display_ != nullptr; }

  // The managed windows by their _WENDRIX_DOCUMENT.
  std::map<std::string, Window> windowsByDocument() {
    std::map<std::string, Window> out;
    for (Window w : clientList()) {
      if (auto doc = text(w, "_WENDRIX_DOCUMENT")) out[*doc] = w;
    }
    return out;
  }

  Shown shown(Window w) {
    Shown s;
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = None;
    if (XGetWindowAttributes(display_, w, &attributes)) {
      XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
      s.frame = {static_cast<short>(x), static_cast<short>(y),
                 static_cast<unsigned short>(attributes.width),
                 static_cast<unsigned short>(attributes.height)};
    }
    const Atom wmState = XInternAtom(display_, "WM_STATE", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, w, wmState, 0, 2, False, wmState, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
      if (format == 32 && count >= 1) {
        s.minimized = reinterpret_cast<long*>(data)[0] == IconicState;
      }
      XFree(data);
    }
    return s;
  }

  void move(Window w, int x, int y) {
    XMoveWindow(display_, w, x, y);
    XFlush(display_);
  }
  void minimize(Window w) {
    XIconifyWindow(display_, w, DefaultScreen(display_));
    XFlush(display_);
  }

 private:
  std::vector<Window> clientList() {
    std::vector<Window> out;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                           XInternAtom(display_, "_NET_CLIENT_LIST", False), 0, 1024, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data) {
      if (format == 32) {
        auto* windows = reinterpret_cast<unsigned long*>(data);
        out.assign(windows, windows + count);
      }
      XFree(data);
    }
    return out;
  }
  std::optional<std::string> text(Window w, const char* property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<std::string> out;
    if (XGetWindowProperty(display_, w, XInternAtom(display_, property, False), 0, 1024, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data) {
      if (format == 8) out = std::string(reinterpret_cast<char*>(data), count);
      XFree(data);
    }
    return out;
  }

  Display* display_;
};

inline bool sameFrame(const XRectangle& shown, const Rect& saved) {
  return shown.x == saved.x && shown.y == saved.y && shown.width == saved.width &&
         shown.height == saved.height;
}

inline std::string describe(const XRectangle& r) {
  std::ostringstream out;
  out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
  return out.str();
}

}  // namespace wendrix::xlib_desktop

#pragma once

// What the agent tests read of the fixture client's windows, and how they
// move them as a user would, through Xlib of their own. Include it last:
// Xlib's macros (Status, Bool) break headers included after it.

#include <sys/types.h>

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
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
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

  // The centre of the first managed window of process `pid` no larger than
  // `maxSide` on either side (a tray fallback button), if any.
  std::optional<std::pair<int, int>> smallWindowOf(pid_t pid, int maxSide) {
    for (Window w : clientList()) {
      if (pidOf(w) != pid) continue;
      const Shown s = shown(w);
      if (s.frame.width > 0 && s.frame.width <= maxSide && s.frame.height <= maxSide)
        return std::make_pair(s.frame.x + s.frame.width / 2, s.frame.y + s.frame.height / 2);
    }
    return std::nullopt;
  }

  // Whether a popup (a viewable override-redirect window taller than
  // `minHeight`) is on screen.
  bool popupShown(int minHeight) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    bool found = false;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
      return false;
    for (unsigned int i = 0; i < count && !found; ++i) {
      XWindowAttributes a{};
      if (XGetWindowAttributes(display_, children[i], &a) && a.map_state == IsViewable &&
          a.override_redirect && a.height > minHeight)
        found = true;
    }
    if (children) XFree(children);
    return found;
  }

  // A click of the first button at (x, y), as a user's.
  void click(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
  }

  // Presses and releases the key.
  void key(KeySym symbol) {
    const KeyCode code = XKeysymToKeycode(display_, symbol);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
  }

 private:
  pid_t pidOf(Window w) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    pid_t pid = 0;
    if (XGetWindowProperty(display_, w, XInternAtom(display_, "_NET_WM_PID", False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data) {
      if (format == 32 && count == 1) pid = static_cast<pid_t>(*reinterpret_cast<long*>(data));
      XFree(data);
    }
    return pid;
  }

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

#include "platform/keyboard/linux/x11_keyboard.h"

// XTest's header needs Xlib's Status and Bool macros, which
// platform/xconn/xlib.h removes, so it comes first.
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Status
#undef Bool

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "platform/keyboard/linux/key_table.h"
#include "platform/xconn/connection.h"
#include "platform/xconn/ewmh.h"

namespace platform {

namespace {

base::Error cannotMake(const std::string& why) {
  return base::Error("Wendrix.KeyboardError", 1, "The keystroke cannot be made: " + why + ".");
}

// Whether the server's keyboard focus is `target` or one of its
// subwindows (toolkits focus a child of their top-level window). Keys made
// with XTest go where the focus is, which the window manager may move only
// after it named `target` active.
bool focusWithin(xconn::Connection& connection, ::Window target) {
  bool within = false;
  connection.run([&](Display* d) {
    ::Window focus = None;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    for (int depth = 0; focus != None && focus != PointerRoot && depth < 64; ++depth) {
      if (focus == target) {
        within = true;
        return;
      }
      ::Window root = None;
      ::Window parent = None;
      ::Window* children = nullptr;
      unsigned count = 0;
      if (!XQueryTree(d, focus, &root, &parent, &children, &count)) return;
      if (children) XFree(children);
      if (parent == root) return;
      focus = parent;
    }
  });
  return within;
}

// Asks the window manager to activate `target` and waits, at most `wait`,
// until it is the active window and holds the keyboard focus.
bool activateAndWait(xconn::Connection& connection, ::Window target, ::Window active,
                     std::chrono::milliseconds wait) {
  const long kPager = 2;
  if (active != target) {
    xconn::sendRootMessage(connection, target, connection.atoms().netActiveWindow,
                           {kPager, 0, static_cast<long>(active)});
    connection.flush();
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (xconn::activeWindow(connection) != target || !focusWithin(connection, target)) {
    if (connection.broken() || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// How long a keystroke's new window may take to show.
constexpr auto kSettle = std::chrono::milliseconds(600);

// Waits until the active window has stayed the same for a while, or until
// `deadline`.
void waitForSteadyFocus(xconn::Connection& connection,
                        std::chrono::steady_clock::time_point deadline) {
  constexpr auto kSteady = std::chrono::milliseconds(150);
  ::Window last = xconn::activeWindow(connection);
  auto since = std::chrono::steady_clock::now();
  while (!connection.broken()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || now - since >= kSteady) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const ::Window active = xconn::activeWindow(connection);
    if (active != last) {
      last = active;
      since = std::chrono::steady_clock::now();
    }
  }
}

}  // namespace

X11Keyboard::X11Keyboard(std::shared_ptr<xconn::Connection> connection, ProcessGroup group,
                         Delivery delivery, std::chrono::milliseconds activationWait)
    : connection_(std::move(connection)),
      group_(std::move(group)),
      delivery_(delivery),
      activationWait_(activationWait) {}

base::Status X11Keyboard::post(const Keystroke& keystroke) {
  const auto keysym = keys::keysymForKeyCode(keystroke.keyCode);
  if (!keysym) return cannotMake("key code " + std::to_string(keystroke.keyCode) + " has no X key");
  xconn::Connection& connection = *connection_;
  Display* display = connection.display();
  const KeyCode keycode = connection.broken() ? 0 : XKeysymToKeycode(display, *keysym);
  if (connection.broken()) return cannotMake("the connection to the X display is lost");
  if (keycode == 0) return cannotMake("the keyboard map has no key for it");
  const unsigned state = keys::modifierStateForFlags(keystroke.flags);

  auto pids = group_ ? group_(keystroke.processIdentifier) : std::vector<std::int32_t>{};
  if (std::find(pids.begin(), pids.end(), keystroke.processIdentifier) == pids.end()) {
    pids.push_back(keystroke.processIdentifier);
  }
  const auto windows = xconn::windowsOf(connection, pids);
  if (windows.empty()) return {};  // no such process (or no window to take keys)
  ::Window active = xconn::activeWindow(connection);
  ::Window target = windows.back();
  if (std::find(windows.begin(), windows.end(), active) != windows.end()) {
    target = active;
  } else {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      if (!xconn::iconic(connection, *it).value_or(false)) {
        target = *it;
        break;
      }
    }
  }

  const std::pair<std::int32_t, std::uint16_t> posted{keystroke.processIdentifier,
                                                      keystroke.keyCode};
  bool viaXTest = false;
  if (delivery_ == Delivery::xtest) {
    if (keystroke.keyDown) {
      xtestDown_.reset();
      // The window a keystroke to another program has just opened takes the
      // focus when it shows: let it show before activating this one.
      if (lastProcess_ && *lastProcess_ != keystroke.processIdentifier) {
        waitForSteadyFocus(connection, lastPosted_ + kSettle);
        active = xconn::activeWindow(connection);
        target =
            std::find(windows.begin(), windows.end(), active) != windows.end() ? active : target;
      }
      viaXTest = activateAndWait(connection, target, active, activationWait_);
      if (viaXTest) {
        xtestDown_ = posted;
        lastProcess_ = keystroke.processIdentifier;
        lastPosted_ = std::chrono::steady_clock::now();
      }
    } else {
      viaXTest = xtestDown_ == posted;
      xtestDown_.reset();
    }
  }
  if (viaXTest) {
    std::vector<KeyCode> modifiers;
    for (auto [mask, sym] : {std::pair{ControlMask, XK_Control_L}, std::pair{ShiftMask, XK_Shift_L},
                             std::pair{Mod1Mask, XK_Alt_L}}) {
      if (state & mask) modifiers.push_back(XKeysymToKeycode(display, sym));
    }
    connection.run([&](Display* d) {
      if (keystroke.keyDown) {
        for (KeyCode m : modifiers)
          XTestFakeKeyEvent(d, m, True, CurrentTime);
        XTestFakeKeyEvent(d, keycode, True, CurrentTime);
      } else {
        XTestFakeKeyEvent(d, keycode, False, CurrentTime);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
          XTestFakeKeyEvent(d, *it, False, CurrentTime);
      }
    });
    return {};
  }

  XEvent event;
  std::memset(&event, 0, sizeof(event));
  XKeyEvent& key = event.xkey;
  key.type = keystroke.keyDown ? KeyPress : KeyRelease;
  key.display = display;
  key.window = target;
  key.root = connection.root();
  key.subwindow = None;
  key.time = CurrentTime;
  key.x = key.y = key.x_root = key.y_root = 1;
  key.state = state;
  key.keycode = keycode;
  key.same_screen = True;
  // A window that went away meanwhile is like a process that is gone.
  connection.run([&](Display* d) {
    XSendEvent(d, target, True, keystroke.keyDown ? KeyPressMask : KeyReleaseMask, &event);
  });
  return {};
}

}  // namespace platform

#include "platform/keyboard/linux/x11_keyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

// Xlib names a macro Status, which would rename base::Status below.
#undef Status

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/keyboard/linux/key_table.h"

namespace platform {

namespace {

base::Error cannotMake(const std::string& why) {
  return base::Error("Wendrix.KeyboardError", 1, "The keystroke cannot be made: " + why + ".");
}

}  // namespace

X11Keyboard::X11Keyboard(std::shared_ptr<X11Display> display, ProcessGroup group, Delivery delivery)
    : display_(std::move(display)), group_(std::move(group)), delivery_(delivery) {}

base::Status X11Keyboard::post(const Keystroke& keystroke) {
  const auto keysym = keys::keysymForKeyCode(keystroke.keyCode);
  if (!keysym) return cannotMake("key code " + std::to_string(keystroke.keyCode) + " has no X key");
  Display* display = display_->display();
  const KeyCode keycode = display_->broken() ? 0 : XKeysymToKeycode(display, *keysym);
  if (display_->broken()) return cannotMake("the connection to the X display is lost");
  if (keycode == 0) return cannotMake("the keyboard map has no key for it");
  const unsigned state = keys::modifierStateForFlags(keystroke.flags);

  auto pids = group_ ? group_(keystroke.processIdentifier) : std::vector<std::int32_t>{};
  if (std::find(pids.begin(), pids.end(), keystroke.processIdentifier) == pids.end()) {
    pids.push_back(keystroke.processIdentifier);
  }
  const auto windows = display_->windowsOf(pids);
  if (windows.empty()) return {};  // no such process (or no window to take keys)
  const auto active = display_->activeWindow();
  X11Display::WindowId target = windows.back();
  if (std::find(windows.begin(), windows.end(), active) != windows.end()) {
    target = active;
  } else {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      if (!display_->isIconic(*it)) {
        target = *it;
        break;
      }
    }
  }

  if (delivery_ == Delivery::xtestWhenActive && target == active) {
    std::vector<KeyCode> modifiers;
    for (auto [mask, sym] : {std::pair{ControlMask, XK_Control_L}, std::pair{ShiftMask, XK_Shift_L},
                             std::pair{Mod1Mask, XK_Alt_L}}) {
      if (state & mask) modifiers.push_back(XKeysymToKeycode(display, sym));
    }
    display_->run([&](Display* d) {
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
  key.root = display_->root();
  key.subwindow = None;
  key.time = CurrentTime;
  key.x = key.y = key.x_root = key.y_root = 1;
  key.state = state;
  key.keycode = keycode;
  key.same_screen = True;
  // A window that went away meanwhile is like a process that is gone.
  display_->run([&](Display* d) {
    XSendEvent(d, target, True, keystroke.keyDown ? KeyPressMask : KeyReleaseMask, &event);
  });
  return {};
}

}  // namespace platform

#include "platform/running_apps/linux/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// X errors are reported through one process-wide hook that only gets the
// Display. While a call of ours runs, errors of our display are counted here
// (main thread only); errors of other displays go to the hook that was there.
struct Trap {
  Display* display = nullptr;
  int errors = 0;
  XErrorHandler previous = nullptr;
};
Trap* activeTrap = nullptr;

int onError(Display* display, XErrorEvent* error) {
  if (activeTrap && activeTrap->display == display) {
    ++activeTrap->errors;
    return 0;
  }
  if (activeTrap && activeTrap->previous) return activeTrap->previous(display, error);
  return 0;
}

// Catches the errors of the requests made while it lives, waiting for the
// server at the end so that every error has arrived.
class ScopedTrap {
 public:
  explicit ScopedTrap(Display* display) {
    trap_.display = display;
    outer_ = activeTrap;
    trap_.previous = XSetErrorHandler(onError);
    activeTrap = &trap_;
  }
  ~ScopedTrap() {
    XSync(trap_.display, False);
    activeTrap = outer_;
    XSetErrorHandler(trap_.previous);
  }
  int errors() {
    XSync(trap_.display, False);
    return trap_.errors;
  }

 private:
  Trap trap_;
  Trap* outer_ = nullptr;
};

int onIOError(Display*) {
  return 0;
}

void onIOErrorExit(Display*, void* userData) {
  *static_cast<bool*>(userData) = true;
}

}  // namespace

base::Result<std::shared_ptr<X11Display>> X11Display::open(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (!display) {
    return base::Error("Wendrix.X11Error", 1, "Cannot open the X display.");
  }
  return std::shared_ptr<X11Display>(new X11Display(display));
}

X11Display::X11Display(_XDisplay* display) : display_(display), root_(DefaultRootWindow(display)) {
  // A lost server must not end the process: the connection just breaks.
  XSetIOErrorHandler(onIOError);
  XSetIOErrorExitHandler(display_, onIOErrorExit, &broken_);
}

X11Display::~X11Display() {
  XCloseDisplay(display_);
}

unsigned long X11Display::atom(const char* name) {
  return XInternAtom(display_, name, False);
}

std::optional<std::vector<unsigned long>> X11Display::cardinals(WindowId window,
                                                                const char* property,
                                                                unsigned long type) {
  if (broken_) return std::nullopt;
  ScopedTrap trap(display_);
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display_, window, atom(property), 0, 1L << 16, False, type,
                                        &actualType, &format, &count, &after, &data);
  std::optional<std::vector<unsigned long>> values;
  if (status == Success && data && actualType == type && format == 32) {
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    values.emplace(longs, longs + count);
  }
  if (data) XFree(data);
  return values;
}

std::vector<X11Display::WindowId> X11Display::windowsOf(const std::vector<std::int32_t>& pids) {
  std::vector<WindowId> windows;
  auto list = cardinals(root_, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
  if (!list) list = cardinals(root_, "_NET_CLIENT_LIST", XA_WINDOW);
  if (!list) return windows;
  for (unsigned long window : *list) {
    auto pid = processOf(window);
    if (pid && std::find(pids.begin(), pids.end(), *pid) != pids.end()) windows.push_back(window);
  }
  return windows;
}

X11Display::WindowId X11Display::activeWindow() {
  auto active = cardinals(root_, "_NET_ACTIVE_WINDOW", XA_WINDOW);
  return active && !active->empty() ? active->front() : 0;
}

std::optional<std::int32_t> X11Display::processOf(WindowId window) {
  auto pid = cardinals(window, "_NET_WM_PID", XA_CARDINAL);
  if (!pid || pid->empty() || pid->front() == 0 || pid->front() > 0x7FFFFFFF) return std::nullopt;
  return static_cast<std::int32_t>(pid->front());
}

bool X11Display::isIconic(WindowId window) {
  const Atom wmState = atom("WM_STATE");
  auto state = cardinals(window, "WM_STATE", wmState);
  return state && !state->empty() && state->front() == IconicState;
}

void X11Display::sendRootMessage(WindowId window, const char* type, std::vector<long> data) {
  if (broken_) return;
  XEvent event;
  std::memset(&event, 0, sizeof(event));
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = atom(type);
  event.xclient.format = 32;
  for (std::size_t i = 0; i < data.size() && i < 5; ++i)
    event.xclient.data.l[i] = data[i];
  ScopedTrap trap(display_);
  XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

bool X11Display::run(const std::function<void(_XDisplay*)>& requests) {
  if (broken_) return false;
  ScopedTrap trap(display_);
  requests(display_);
  return trap.errors() == 0 && !broken_;
}

}  // namespace platform

#include "x11/connection.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace wendrix::x11 {

namespace {

// Xlib's error hooks are process-wide and get only the Display, so the open
// connections are found through this registry (main thread; the mutex only
// guards against a connection closed on another thread).
std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<Connection*>& registry() {
  static std::vector<Connection*> connections;
  return connections;
}
Connection* find(Display* display) {
  std::lock_guard lock(registryMutex());
  for (Connection* c : registry()) {
    if (c->display() == display) return c;
  }
  return nullptr;
}

// A failed request never ends the process: errors about our own connections
// are recorded and handled on the loop; any other display's are dropped.
int onXError(Display* display, XErrorEvent* error) {
  if (Connection* c = find(display)) c->recordError(*error);
  return 0;
}

// Returning from the IO-error hook hands over to the per-display exit hook,
// which (unlike Xlib's default) does not exit.
int onIOError(Display*) {
  return 0;
}

void onIOErrorExit(Display*, void* userData) {
  static_cast<Connection*>(userData)->markBroken();
}

constexpr const char* kAtomNames[] = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_MOVERESIZE_WINDOW",
    "_NET_CLOSE_WINDOW",
    "UTF8_STRING",
    "WM_STATE",
    "WM_PROTOCOLS",
    "WM_DELETE_WINDOW",
    "WM_CHANGE_STATE",
    "WM_WINDOW_ROLE",
    "WM_CLIENT_MACHINE",
    "_GTK_APPLICATION_ID",
    "_KDE_NET_WM_DESKTOP_FILE",
    "_WENDRIX_DOCUMENT",
};
static_assert(sizeof(kAtomNames) / sizeof(kAtomNames[0]) == sizeof(Atoms) / sizeof(Atom));

}  // namespace

base::Result<std::shared_ptr<Connection>> Connection::open(dispatch::MainLoop& loop,
                                                           const std::string& displayName) {
  static std::once_flag hooks;
  std::call_once(hooks, [] {
    XSetErrorHandler(onXError);
    XSetIOErrorHandler(onIOError);
  });
  Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (!display) {
    return base::Error(
        "Wendrix.X11Error", 1,
        "Cannot open the X display \"" +
            std::string(XDisplayName(displayName.empty() ? nullptr : displayName.c_str())) + "\".");
  }
  std::shared_ptr<Connection> connection(new Connection(loop, display));
  std::weak_ptr<Connection> weak = connection;
  connection->watch_ =
      loop.watch(ConnectionNumber(display), dispatch::MainLoop::kReadable, [weak](unsigned events) {
        auto self = weak.lock();
        if (!self) return;
        self->drain();
        if (events & (dispatch::MainLoop::kHangup | dispatch::MainLoop::kError)) {
          self->markBroken();
          self->drain();
        }
      });
  return connection;
}

Connection::Connection(dispatch::MainLoop& loop, Display* display)
    : loop_(loop), display_(display), root_(DefaultRootWindow(display)) {
  XInternAtoms(display_, const_cast<char**>(kAtomNames),
               static_cast<int>(sizeof(kAtomNames) / sizeof(kAtomNames[0])), False,
               reinterpret_cast<Atom*>(&atoms_));
  XSetIOErrorExitHandler(display_, onIOErrorExit, this);
  std::lock_guard lock(registryMutex());
  registry().push_back(this);
}

Connection::~Connection() {
  watch_.cancel();
  {
    std::lock_guard lock(registryMutex());
    std::erase(registry(), this);
  }
  XCloseDisplay(display_);
}

void Connection::addListener(ConnectionListener* listener) {
  listeners_.push_back(listener);
}

void Connection::removeListener(ConnectionListener* listener) {
  std::erase(listeners_, listener);
}

template <class F>
void Connection::forEachListener(F f) {
  // A listener may add or remove listeners while it runs.
  const auto snapshot = listeners_;
  for (ConnectionListener* l : snapshot) {
    if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) f(*l);
  }
}

void Connection::selectInput(::Window window, long mask) {
  if (broken_) return;
  auto it = std::find_if(masks_.begin(), masks_.end(), [&](auto& m) { return m.first == window; });
  if (it == masks_.end()) {
    masks_.emplace_back(window, mask);
  } else {
    if ((it->second | mask) == it->second) return;
    it->second |= mask;
    mask = it->second;
  }
  XSelectInput(display_, window, mask);
}

void Connection::forgetWindow(::Window window) {
  std::erase_if(masks_, [&](auto& m) { return m.first == window; });
}

void Connection::flush() {
  if (broken_) return;
  XFlush(display_);
  if (XQLength(display_) > 0 || !goneWindows_.empty()) scheduleDrain();
}

void Connection::scheduleDrain() {
  if (drainPosted_) return;
  drainPosted_ = true;
  std::weak_ptr<Connection> weak = weak_from_this();
  loop_.post([weak] {
    if (auto self = weak.lock()) {
      self->drainPosted_ = false;
      self->drain();
    }
  });
}

void Connection::recordError(const XErrorEvent& error) {
  if (error.error_code == BadWindow || error.error_code == BadDrawable) {
    goneWindows_.push_back(error.resourceid);
  }
}

void Connection::markBroken() {
  broken_ = true;
}

void Connection::dispatchErrors() {
  while (!goneWindows_.empty()) {
    const ::Window window = goneWindows_.front();
    goneWindows_.erase(goneWindows_.begin());
    forEachListener([&](ConnectionListener& l) { l.onWindowGone(window); });
  }
}

void Connection::drain() {
  auto keep = shared_from_this();
  dispatchErrors();
  while (!broken_ && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    forEachListener([&](ConnectionListener& l) { l.onEvent(event); });
    dispatchErrors();
  }
  if (broken_ && !brokenReported_) {
    brokenReported_ = true;
    watch_.cancel();
    forEachListener([](ConnectionListener& l) { l.onBroken(); });
  }
}

::Window Connection::supportingWmCheckWindow() {
  if (broken_) return None;
  auto check = readWindows(display_, root_, atoms_.netSupportingWmCheck);
  if (!check || check->empty() || check->front() == None) return None;
  auto self = readWindows(display_, check->front(), atoms_.netSupportingWmCheck);
  if (!self || self->empty() || self->front() != check->front()) return None;
  return check->front();
}

bool Connection::windowManagerPresent() {
  const bool present = supportingWmCheckWindow() != None;
  flush();
  return present;
}

// --- properties --------------------------------------------------------------

namespace {

struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned char* data = nullptr;
  ~Property() {
    if (data) XFree(data);
  }
};

bool readProperty(Display* display, ::Window window, Atom property, Atom type, Property& out) {
  unsigned long after = 0;
  // Up to 4 MB: far more than any property we read should hold.
  const int status = XGetWindowProperty(display, window, property, 0, 1L << 20, False, type,
                                        &out.type, &out.format, &out.count, &after, &out.data);
  return status == Success && out.data != nullptr && (type == AnyPropertyType || out.type == type);
}

}  // namespace

std::optional<std::vector<unsigned long>> readCardinals(Display* display, ::Window window,
                                                        Atom property, Atom type) {
  Property p;
  if (!readProperty(display, window, property, type, p) || p.format != 32) return std::nullopt;
  // Format-32 data comes as longs in memory.
  const auto* values = reinterpret_cast<const unsigned long*>(p.data);
  return std::vector<unsigned long>(values, values + p.count);
}

std::optional<std::vector<::Window>> readWindows(Display* display, ::Window window, Atom property) {
  auto values = readCardinals(display, window, property, XA_WINDOW);
  if (!values) return std::nullopt;
  return std::vector<::Window>(values->begin(), values->end());
}

std::optional<std::vector<Atom>> readAtoms(Display* display, ::Window window, Atom property) {
  auto values = readCardinals(display, window, property, XA_ATOM);
  if (!values) return std::nullopt;
  return std::vector<Atom>(values->begin(), values->end());
}

std::optional<std::string> readString(Display* display, ::Window window, Atom property, Atom type) {
  Property p;
  if (!readProperty(display, window, property, type, p) || p.format != 8) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(p.data), p.count);
}

void sendRootMessage(Display* display, ::Window root, ::Window window, Atom type,
                     std::vector<long> data) {
  XEvent event;
  std::memset(&event, 0, sizeof(event));
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  for (std::size_t i = 0; i < data.size() && i < 5; ++i)
    event.xclient.data.l[i] = data[i];
  XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace wendrix::x11

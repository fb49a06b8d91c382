#include "platform/xconn/connection.h"

#include <algorithm>
#include <mutex>

namespace platform::xconn {

namespace {

// Xlib's error hooks are process-wide and get only the Display, so the open
// connections are found through this registry (the mutex guards against a
// connection opened or closed on another thread).
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
// are noted and handled on the loop; any other display's are dropped.
int onXError(Display* display, XErrorEvent* error) {
  if (Connection* c = find(display)) {
    c->noteError(error->error_code, error->resourceid, error->serial);
  }
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
    "_NET_RESTACK_WINDOW",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
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

base::Result<std::shared_ptr<Connection>> Connection::open(const std::string& displayName) {
  return openOn(nullptr, displayName);
}

base::Result<std::shared_ptr<Connection>> Connection::open(dispatch::MainLoop& loop,
                                                           const std::string& displayName) {
  return openOn(&loop, displayName);
}

base::Result<std::shared_ptr<Connection>> Connection::openOn(dispatch::MainLoop* loop,
                                                             const std::string& displayName) {
  static std::once_flag hooks;
  std::call_once(hooks, [] {
    XSetErrorHandler(onXError);
    XSetIOErrorHandler(onIOError);
  });
  const char* name = displayName.empty() ? nullptr : displayName.c_str();
  Display* display = XOpenDisplay(name);
  if (!display) {
    return base::Error("Wendrix.X11Error", 1,
                       "Cannot open the X display \"" + std::string(XDisplayName(name)) + "\".");
  }
  std::shared_ptr<Connection> connection(new Connection(loop, display));
  if (!loop) return connection;
  std::weak_ptr<Connection> weak = connection;
  connection->watch_ = loop->watch(
      ConnectionNumber(display), dispatch::MainLoop::kReadable, [weak](unsigned events) {
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

Connection::Connection(dispatch::MainLoop* loop, Display* display)
    : loop_(loop),
      display_(display),
      xcb_(XGetXCBConnection(display)),
      root_(DefaultRootWindow(display)) {
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

bool Connection::run(const std::function<void(Display*)>& requests) {
  if (broken_) return false;
  // Only the errors of these requests count, not those of earlier ones that
  // arrive meanwhile.
  trapping_ = true;
  trapStart_ = NextRequest(display_);
  trappedErrors_ = 0;
  requests(display_);
  XSync(display_, False);
  trapping_ = false;
  const bool failed = trappedErrors_ > 0 || broken_;
  flush();
  return !failed;
}

void Connection::scheduleDrain() {
  if (!loop_ || drainPosted_) return;
  drainPosted_ = true;
  std::weak_ptr<Connection> weak = weak_from_this();
  loop_->post([weak] {
    if (auto self = weak.lock()) {
      self->drainPosted_ = false;
      self->drain();
    }
  });
}

void Connection::noteError(int code, unsigned long resource, unsigned long serial) {
  if (trapping_ && serial >= trapStart_) ++trappedErrors_;
  if (loop_ && (code == BadWindow || code == BadDrawable)) goneWindows_.push_back(resource);
}

void Connection::noteReplyWaited() {
  if (xcb_connection_has_error(xcb_)) markBroken();
  scheduleDrain();
}

void Connection::markBroken() {
  broken_ = true;
  scheduleDrain();
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

}  // namespace platform::xconn

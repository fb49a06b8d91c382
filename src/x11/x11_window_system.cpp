#include "x11/x11_window_system.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <utility>

#include "base/utf8.h"
#include "winsys/errors.h"
#include "winsys/event_notifier.h"
#include "winsys/events.h"

// Design note. The model (applications and windows) is built from the X
// server's answers and kept current from events: _NET_CLIENT_LIST and
// _NET_ACTIVE_WINDOW changes on the root, property, configure and destroy
// events on each window, BadWindow errors, and the exit of each application
// process (a pidfd on the loop). Every change updates the model first and then
// notifies, in the order it happened. Writes send their request and wait, as a
// list of targets per window, for the event that shows the change; a timer on
// the loop bounds each wait, after which the state is read once more and the
// promise settles on that. An event a write call causes itself is queued on
// the loop before its request goes out, so it precedes what the reply brings.

namespace wendrix::x11 {
namespace detail {

using winsys::ApplicationPtr;
using winsys::Promise;
using winsys::Rect;
using winsys::Resolver;
using winsys::WindowPtr;
using winsys::WindowSystemError;
using winsys::WindowSystemErrorCode;

namespace {

base::Error gone() {
  return WindowSystemError::make(WindowSystemErrorCode::invalidObject);
}
base::Error refused() {
  return WindowSystemError::make(WindowSystemErrorCode::failed);
}

template <class T>
struct Wait {
  std::uint64_t id;
  T target;
  Resolver<T> resolver;
  dispatch::TimerHandle timer;
};

template <class T>
void settleAll(std::vector<Wait<T>>& waits, const base::Result<T>& result) {
  auto pending = std::move(waits);
  waits.clear();
  for (auto& w : pending) {
    w.timer.cancel();
    w.resolver.settle(result);
  }
}

std::string latin1ToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

class Desktop;
class XApplication;

class XWindow final : public winsys::Window, public std::enable_shared_from_this<XWindow> {
 public:
  XWindow(std::weak_ptr<Desktop> desktop, dispatch::Queue& queue, ::Window xid,
          std::uint64_t identity)
      : desktop_(std::move(desktop)), queue_(queue), xid(xid), identity_(identity) {}

  ApplicationPtr application() const override;
  std::string title() const override { return title_; }
  Rect frame() const override { return pendingFrame.value_or(frame_); }
  Promise<Rect> setFrame(Rect frame) override;
  bool isMinimized() const override { return minimized; }
  Promise<bool> setMinimized(bool minimized) override;
  std::optional<std::string> document() const override { return document_; }
  winsys::UIElementPtr uiElement() const override;
  base::Status close() override;
  std::uint64_t identity() const override { return identity_; }

  std::weak_ptr<Desktop> desktop_;
  dispatch::Queue& queue_;
  const ::Window xid;
  const std::uint64_t identity_;
  std::weak_ptr<XApplication> app;
  std::string title_;
  Rect frame_;
  bool minimized = false;
  std::optional<std::string> document_;
  std::optional<std::string> role;
  bool dialog = false;
  bool closable = false;
  bool alive = true;
  // A frame written while minimized, applied again once shown; frame() reads
  // it until the window has it.
  std::optional<Rect> pendingFrame;
  bool reapplying = false;
  dispatch::TimerHandle reapplyTimer;
  std::vector<Wait<Rect>> frameWaits;
  std::vector<Wait<bool>> minimizedWaits;
};

class XApplication final : public winsys::Application,
                           public std::enable_shared_from_this<XApplication> {
 public:
  XApplication(std::weak_ptr<Desktop> desktop, dispatch::Queue& queue, std::string key,
               std::uint64_t identity)
      : desktop_(std::move(desktop)), queue_(queue), key(std::move(key)), identity_(identity) {}

  std::optional<std::string> bundleIdentifier() const override { return bundleId; }
  std::optional<base::Url> bundleURL() const override { return bundleUrl; }
  std::int32_t processIdentifier() const override { return pids.empty() ? 0 : pids.front(); }
  std::vector<WindowPtr> knownWindows() const override { return {windows.begin(), windows.end()}; }
  WindowPtr mainWindow() const override;
  bool isHidden() const override { return hidden; }
  Promise<bool> setHidden(bool hidden) override;
  void quit() override;
  std::uint64_t identity() const override { return identity_; }

  struct ProcessWatch {
    std::int32_t pid = 0;
    int fd = -1;
    dispatch::WatchHandle watch;
    ~ProcessWatch() {
      watch.cancel();
      if (fd >= 0) ::close(fd);
    }
  };

  std::weak_ptr<Desktop> desktop_;
  dispatch::Queue& queue_;
  const std::string key;
  const std::uint64_t identity_;
  std::optional<std::string> bundleId;
  std::optional<base::Url> bundleUrl;
  std::vector<std::int32_t> pids;
  std::vector<std::unique_ptr<ProcessWatch>> processes;
  std::vector<std::shared_ptr<XWindow>> windows;
  bool running = true;
  bool hidden = false;
  bool hiding = false;
  std::vector<::Window> hiddenByUs;
  std::vector<Wait<bool>> hideWaits;
  ::Window lastActive = None;
  ::Window lastMain = None;
  ::Window lastFocused = None;
};

class LiveState final : public winsys::State {
 public:
  explicit LiveState(std::weak_ptr<Desktop> desktop) : desktop_(std::move(desktop)) {}
  std::vector<ApplicationPtr> runningApplications() const override;

 private:
  std::weak_ptr<Desktop> desktop_;
};

// A window's few accessibility-like attributes, read live.
class XUIElement final : public winsys::UIElement {
 public:
  explicit XUIElement(std::weak_ptr<const XWindow> window) : window_(std::move(window)) {}

  std::optional<std::string> attribute(winsys::UIAttribute attribute) const override {
    auto w = window_.lock();
    if (!w || !w->alive) return std::nullopt;
    switch (attribute) {
      case winsys::UIAttribute::role:
        return "AXWindow";
      case winsys::UIAttribute::subrole:
        return w->dialog ? "AXDialog" : "AXStandardWindow";
      case winsys::UIAttribute::title:
        return w->title_;
      case winsys::UIAttribute::identifier:
        return w->role;
      case winsys::UIAttribute::document:
        return w->document_;
      case winsys::UIAttribute::path:
        return std::nullopt;
    }
    return std::nullopt;
  }
  std::optional<std::vector<winsys::UIElementPtr>> children() const override {
    return std::vector<winsys::UIElementPtr>{};
  }
  winsys::UIElementPtr parent() const override { return nullptr; }

 private:
  std::weak_ptr<const XWindow> window_;
};

class Desktop final : public ConnectionListener, public std::enable_shared_from_this<Desktop> {
 public:
  Desktop(std::shared_ptr<Connection> connection, const platform::BundleIdResolver& resolver,
          const platform::BundleProvider* bundles, X11WindowSystemOptions options)
      : conn_(std::move(connection)),
        display_(conn_->display()),
        atoms_(conn_->atoms()),
        resolver_(resolver),
        bundles_(bundles),
        options_(std::move(options)) {}

  ~Desktop() override {
    if (started_) conn_->removeListener(this);
  }

  dispatch::Queue& queue() { return conn_->queue(); }

  Promise<winsys::StatePtr> initialize(winsys::EventNotifier& notifier) {
    if (conn_->broken()) return Promise<winsys::StatePtr>::error(queue(), refused());
    if (!conn_->windowManagerPresent()) {
      return Promise<winsys::StatePtr>::error(
          queue(), WindowSystemError::make(WindowSystemErrorCode::notTrusted));
    }
    notifier_ = &notifier;
    if (!started_) {
      started_ = true;
      conn_->addListener(this);
      conn_->selectInput(conn_->root(), PropertyChangeMask);
      loading_ = true;
      syncClientList();
      syncActive();
      loading_ = false;
      conn_->flush();
    }
    return Promise<winsys::StatePtr>::value(queue(), std::make_shared<LiveState>(weak_from_this()));
  }

  std::vector<ApplicationPtr> running() const { return {apps_.begin(), apps_.end()}; }

  std::vector<std::int32_t> processesOf(std::int32_t pid) const {
    for (const auto& app : apps_) {
      if (std::find(app->pids.begin(), app->pids.end(), pid) != app->pids.end()) return app->pids;
    }
    return {pid};
  }

  ::Window active() const { return active_; }

  // --- writes -----------------------------------------------------------------

  Promise<Rect> setFrame(XWindow& w, Rect frame) {
    auto [promise, resolver] = Promise<Rect>::pending(queue());
    if (!w.alive || conn_->broken()) {
      resolver.reject(gone());
      return promise;
    }
    const Rect target{std::round(frame.x), std::round(frame.y), std::round(frame.width),
                      std::round(frame.height)};
    // X coordinates are 16-bit signed, sizes 16-bit unsigned.
    auto fits = [](double v, double lo, double hi) {
      return std::isfinite(v) && v >= lo && v <= hi;
    };
    if (!fits(target.x, -32768, 32767) || !fits(target.y, -32768, 32767) ||
        !fits(target.width, 1, 32767) || !fits(target.height, 1, 32767)) {
      resolver.reject(base::Error(std::string(WindowSystemError::kDomain),
                                  static_cast<std::int64_t>(WindowSystemErrorCode::failed),
                                  "The frame is outside what the window system can set."));
      return promise;
    }
    if (w.minimized) {
      // Window managers may ignore a configure request while a window is
      // iconic, so the frame is applied again when it is shown.
      const Rect before = w.frame();
      w.pendingFrame = target;
      if (before != target) emitLater<winsys::WindowFrameChangedEvent>(w.shared_from_this());
      sendMoveResize(w.xid, target);
      conn_->flush();
      resolver.fulfill(target);
      return promise;
    }
    sendMoveResize(w.xid, target);
    conn_->flush();
    // A new frame replaces one still being applied after de-iconifying.
    if (w.reapplying) w.pendingFrame = target;
    if (w.frame_ == target) {
      if (w.reapplying) finishReapply(w);
      resolver.fulfill(target);
      return promise;
    }
    addWait(w, &XWindow::frameWaits, target, resolver, [this](XWindow& win, Wait<Rect>& wait) {
      refreshFrame(win);
      if (win.frame() == wait.target) {
        wait.resolver.fulfill(wait.target);
      } else {
        wait.resolver.reject(refused());
      }
    });
    return promise;
  }

  Promise<bool> setMinimized(XWindow& w, bool minimized) {
    auto [promise, resolver] = Promise<bool>::pending(queue());
    if (!w.alive || conn_->broken()) {
      resolver.reject(gone());
      return promise;
    }
    if (w.minimized == minimized && !(!minimized && w.reapplying)) {
      resolver.fulfill(minimized);
      return promise;
    }
    if (w.minimized != minimized) {
      if (minimized) {
        XIconifyWindow(display_, w.xid, DefaultScreen(display_));
      } else {
        // Mapping an iconic window asks the window manager to show it.
        XMapWindow(display_, w.xid);
      }
    }
    conn_->flush();
    addWait(w, &XWindow::minimizedWaits, minimized, resolver,
            [this](XWindow& win, Wait<bool>& wait) {
              refreshMinimized(win);
              if (win.minimized == wait.target && !win.reapplying) {
                wait.resolver.fulfill(wait.target);
              } else {
                wait.resolver.reject(refused());
              }
            });
    return promise;
  }

  base::Status close(XWindow& w) {
    if (!w.alive || conn_->broken()) return gone();
    if (!w.closable) return WindowSystemError::make(WindowSystemErrorCode::cannotClose);
    sendRootMessage(display_, conn_->root(), w.xid, atoms_.netCloseWindow,
                    {static_cast<long>(CurrentTime), 2});
    conn_->flush();
    return {};
  }

  Promise<bool> setHidden(XApplication& app, bool hidden) {
    auto [promise, resolver] = Promise<bool>::pending(queue());
    if (!app.running || conn_->broken()) {
      resolver.reject(gone());
      return promise;
    }
    if (!hidden) {
      if (app.hidden) unhide(app, /*later=*/true);
      resolver.fulfill(false);
      return promise;
    }
    if (app.hidden && !app.hiding) {
      resolver.fulfill(true);
      return promise;
    }
    if (!app.hidden) {
      app.hidden = true;
      app.hiding = true;
      // Queued before anything the requests bring in, so it comes first.
      emitLater<winsys::ApplicationIsHiddenChangedEvent>(app.shared_from_this());
      for (const auto& w : app.windows) {
        if (w->minimized) continue;
        app.hiddenByUs.push_back(w->xid);
        XIconifyWindow(display_, w->xid, DefaultScreen(display_));
      }
      conn_->flush();
    }
    const std::uint64_t id = nextWait_++;
    std::weak_ptr<XApplication> weakApp = app.weak_from_this();
    auto timer = queue().after(options_.writeTimeout, [this, weak = weak_from_this(), weakApp, id] {
      auto self = weak.lock();
      auto a = weakApp.lock();
      if (!self || !a) return;
      auto it = std::find_if(a->hideWaits.begin(), a->hideWaits.end(),
                             [&](auto& w) { return w.id == id; });
      if (it == a->hideWaits.end()) return;
      auto wait = std::move(*it);
      a->hideWaits.erase(it);
      if (allHiddenIconic(*a)) {
        wait.resolver.fulfill(true);
      } else {
        wait.resolver.reject(refused());
      }
      if (a->hideWaits.empty()) a->hiding = false;
      self->conn_->flush();
    });
    app.hideWaits.push_back(Wait<bool>{id, true, resolver, timer});
    settleHide(app);
    return promise;
  }

  void quit(XApplication& app) {
    for (std::int32_t pid : app.pids) {
      if (pid > 0 && pid != ::getpid()) ::kill(pid, SIGTERM);
    }
  }

  WindowPtr mainWindowOf(const XApplication& app) const {
    auto visible = [](const std::shared_ptr<XWindow>& w) { return w && !w->minimized; };
    for (::Window candidate : {active_, app.lastActive}) {
      if (candidate == None) continue;
      for (const auto& w : app.windows) {
        if (w->xid == candidate && visible(w)) return w;
      }
    }
    for (const auto& w : app.windows) {
      if (visible(w)) return w;
    }
    return nullptr;
  }

  // --- events -----------------------------------------------------------------

  void onEvent(const XEvent& event) override {
    switch (event.type) {
      case PropertyNotify: {
        const XPropertyEvent& p = event.xproperty;
        if (p.window == conn_->root()) {
          if (p.atom == atoms_.netClientList) syncClientList();
          if (p.atom == atoms_.netActiveWindow) syncActive();
          return;
        }
        auto w = find(p.window);
        if (!w) return;
        if (p.atom == atoms_.netWmName || p.atom == XA_WM_NAME) {
          refreshTitle(*w);
        } else if (p.atom == atoms_.wmState || p.atom == atoms_.netWmState) {
          refreshMinimized(*w);
        } else if (p.atom == atoms_.wendrixDocument) {
          w->document_ = readDocument(w->xid);
        } else if (p.atom == atoms_.wmProtocols) {
          w->closable = readClosable(w->xid);
        }
        return;
      }
      case ConfigureNotify:
        if (auto w = find(event.xconfigure.window)) refreshFrame(*w);
        return;
      case DestroyNotify:
        if (find(event.xdestroywindow.window)) removeWindow(event.xdestroywindow.window);
        return;
      default:
        return;
    }
  }

  void onWindowGone(::Window window) override {
    if (find(window)) removeWindow(window);
  }

  void onBroken() override {
    for (const auto& [xid, w] : windows_) {
      settleAll(w->frameWaits, base::Result<Rect>(refused()));
      settleAll(w->minimizedWaits, base::Result<bool>(refused()));
    }
    for (const auto& app : apps_)
      settleAll(app->hideWaits, base::Result<bool>(refused()));
  }

 private:
  template <class E, class S>
  void emit(S subject) {
    if (notifier_ && !loading_) notifier_->notify(E(std::move(subject)));
  }
  // From inside a write call: the caller's code must not be re-entered.
  template <class E, class S>
  void emitLater(S subject) {
    queue().async([weak = weak_from_this(), subject = std::move(subject)] {
      if (auto self = weak.lock()) self->emit<E>(subject);
    });
  }

  std::shared_ptr<XWindow> find(::Window xid) const {
    auto it = windows_.find(xid);
    return it == windows_.end() ? nullptr : it->second;
  }

  // Waits on `list` of `w` for `target`; `onTimeout` settles the wait when
  // no event showed the change in time.
  template <class T, class OnTimeout>
  void addWait(XWindow& w, std::vector<Wait<T>> XWindow::*list, T target, Resolver<T> resolver,
               OnTimeout onTimeout) {
    const std::uint64_t id = nextWait_++;
    auto timer =
        queue().after(options_.writeTimeout, [weak = weak_from_this(), win = w.weak_from_this(),
                                              list, id, onTimeout = std::move(onTimeout)] {
          auto self = weak.lock();
          auto window = win.lock();
          if (!self || !window) return;
          auto& waits = (*window).*list;
          auto it = std::find_if(waits.begin(), waits.end(), [&](auto& x) { return x.id == id; });
          if (it == waits.end()) return;
          auto wait = std::move(*it);
          waits.erase(it);
          onTimeout(*window, wait);
          self->conn_->flush();
        });
    (w.*list).push_back(Wait<T>{id, target, std::move(resolver), timer});
  }

  void sendMoveResize(::Window xid, const Rect& r) {
    // Static gravity: x and y place the client area itself. Source: a pager.
    constexpr long kFlags =
        StaticGravity | (1L << 8) | (1L << 9) | (1L << 10) | (1L << 11) | (2L << 12);
    sendRootMessage(display_, conn_->root(), xid, atoms_.netMoveresizeWindow,
                    {kFlags, static_cast<long>(r.x), static_cast<long>(r.y),
                     static_cast<long>(r.width), static_cast<long>(r.height)});
  }

  // --- reading windows ----------------------------------------------------------

  std::optional<Rect> readFrame(::Window xid) {
    ::Window rootReturn = None;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display_, xid, &rootReturn, &x, &y, &width, &height, &border, &depth)) {
      return std::nullopt;
    }
    ::Window child = None;
    if (!XTranslateCoordinates(display_, xid, conn_->root(), 0, 0, &x, &y, &child)) {
      return std::nullopt;
    }
    return Rect{static_cast<double>(x), static_cast<double>(y), static_cast<double>(width),
                static_cast<double>(height)};
  }

  std::string readTitle(::Window xid) {
    if (auto name = readString(display_, xid, atoms_.netWmName, atoms_.utf8String)) {
      return base::repairUtf8(*name);
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display_, xid, XA_WM_NAME, 0, 1L << 20, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 8) {
      std::string raw(reinterpret_cast<const char*>(data), count);
      title = type == XA_STRING ? latin1ToUtf8(raw) : base::repairUtf8(raw);
    }
    if (data) XFree(data);
    return title;
  }

  std::optional<std::string> readDocument(::Window xid) {
    auto doc = readString(display_, xid, atoms_.wendrixDocument, atoms_.utf8String);
    if (!doc || doc->empty()) return std::nullopt;
    return base::repairUtf8(*doc);
  }

  bool readClosable(::Window xid) {
    Atom* protocols = nullptr;
    int count = 0;
    bool closable = false;
    if (XGetWMProtocols(display_, xid, &protocols, &count)) {
      closable =
          std::find(protocols, protocols + count, atoms_.wmDeleteWindow) != protocols + count;
      XFree(protocols);
    }
    return closable;
  }

  bool readMinimized(::Window xid) {
    if (auto state = readCardinals(display_, xid, atoms_.wmState, atoms_.wmState)) {
      return !state->empty() && state->front() == IconicState;
    }
    auto states = readAtoms(display_, xid, atoms_.netWmState);
    return states &&
           std::find(states->begin(), states->end(), atoms_.netWmStateHidden) != states->end();
  }

  // Normal and dialog windows; a window without a type is normal (or a
  // dialog when transient).
  bool isAppWindow(::Window xid, bool& dialog) {
    auto types = readAtoms(display_, xid, atoms_.netWmWindowType);
    if (!types || types->empty()) {
      ::Window owner = None;
      dialog = XGetTransientForHint(display_, xid, &owner) && owner != None;
      return true;
    }
    for (Atom type : *types) {
      if (type == atoms_.netWmWindowTypeNormal) return true;
      if (type == atoms_.netWmWindowTypeDialog) return dialog = true;
    }
    return false;
  }

  platform::WindowOwnerHints readHints(::Window xid) {
    platform::WindowOwnerHints hints;
    if (auto pid = readCardinals(display_, xid, atoms_.netWmPid, XA_CARDINAL);
        pid && !pid->empty() && pid->front() > 0 && pid->front() < 0x7FFFFFFF) {
      hints.pid = static_cast<std::int32_t>(pid->front());
    }
    XClassHint classHint{nullptr, nullptr};
    if (XGetClassHint(display_, xid, &classHint)) {
      if (classHint.res_name) hints.wmInstance = classHint.res_name;
      if (classHint.res_class) hints.wmClass = classHint.res_class;
      if (classHint.res_name) XFree(classHint.res_name);
      if (classHint.res_class) XFree(classHint.res_class);
    }
    hints.gtkApplicationId = readString(display_, xid, atoms_.gtkApplicationId, AnyPropertyType);
    hints.kdeDesktopFile = readString(display_, xid, atoms_.kdeNetWmDesktopFile, AnyPropertyType);
    return hints;
  }

  // Whether the window's process runs on this machine, so its pid means
  // something here.
  bool isLocal(::Window xid) {
    auto machine = readString(display_, xid, atoms_.wmClientMachine, XA_STRING);
    if (!machine) return true;
    char host[256] = {};
    if (::gethostname(host, sizeof(host) - 1) != 0) return true;
    return *machine == host;
  }

  // --- the model ------------------------------------------------------------------

  void syncClientList() {
    const auto list = readWindows(display_, conn_->root(), atoms_.netClientList)
                          .value_or(std::vector<::Window>{});
    std::vector<::Window> removed;
    for (const auto& [xid, w] : windows_) {
      if (std::find(list.begin(), list.end(), xid) == list.end()) removed.push_back(xid);
    }
    for (::Window xid : removed)
      removeWindow(xid);
    std::erase_if(ignored_, [&](::Window xid) {
      return std::find(list.begin(), list.end(), xid) == list.end();
    });
    for (::Window xid : list) {
      if (!windows_.count(xid) &&
          std::find(ignored_.begin(), ignored_.end(), xid) == ignored_.end()) {
        addWindow(xid);
      }
    }
    // Each application's windows in client-list (mapping) order.
    std::map<::Window, std::size_t> order;
    for (std::size_t i = 0; i < list.size(); ++i)
      order[list[i]] = i;
    for (const auto& app : apps_) {
      std::stable_sort(app->windows.begin(), app->windows.end(),
                       [&](auto& a, auto& b) { return order[a->xid] < order[b->xid]; });
    }
  }

  void addWindow(::Window xid) {
    // Select first, so no change between the reads and the selection is lost.
    conn_->selectInput(xid, PropertyChangeMask | StructureNotifyMask);
    bool dialog = false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, xid, &attributes) || !isAppWindow(xid, dialog)) {
      ignored_.push_back(xid);
      return;
    }
    auto frame = readFrame(xid);
    if (!frame) {
      ignored_.push_back(xid);
      return;
    }
    auto window = std::make_shared<XWindow>(weak_from_this(), queue(), xid, nextIdentity_++);
    window->dialog = dialog;
    window->frame_ = *frame;
    window->title_ = readTitle(xid);
    window->minimized = readMinimized(xid);
    window->document_ = readDocument(xid);
    window->closable = readClosable(xid);
    window->role = readString(display_, xid, atoms_.wmWindowRole, XA_STRING);

    platform::WindowOwnerHints hints = readHints(xid);
    const bool local = isLocal(xid);
    if (!local) hints.pid = 0;  // another machine's process number means nothing here
    auto app = applicationFor(hints);
    window->app = app;
    windows_[xid] = window;
    app->windows.push_back(window);
    emit<winsys::WindowCreatedEvent>(WindowPtr(window));
    // The window manager may name a window active before listing it.
    if (xid == active_) app->lastActive = xid;
    updateFocus(*app);
    if (xid == active_) setFrontmost(app);
  }

  std::shared_ptr<XApplication> applicationFor(const platform::WindowOwnerHints& hints) {
    std::optional<std::string> bundleId;
    std::optional<base::Url> bundleUrl;
    if (hints.pid > 0 && hints.pid == ::getpid()) {
      bundleId = options_.selfBundleIdentifier;
      if (bundles_) bundleUrl = bundles_->mainBundle().url;
    } else {
      bundleId = resolver_.bundleIdentifierFor(hints);
      if (bundleId && bundles_) {
        if (auto bundle = bundles_->bundleWithIdentifier(*bundleId)) bundleUrl = bundle->url;
      }
    }
    if (!bundleUrl && hints.pid > 0) {
      char path[4096];
      const std::string link = "/proc/" + std::to_string(hints.pid) + "/exe";
      const ssize_t n = ::readlink(link.c_str(), path, sizeof(path) - 1);
      if (n > 0) bundleUrl = base::Url::fromFilePath(std::string(path, static_cast<size_t>(n)));
    }
    std::string key = bundleId ? "id:" + *bundleId
                               : (hints.pid > 0 ? "pid:" + std::to_string(hints.pid)
                                                : "class:" + hints.wmClass.value_or(""));
    std::shared_ptr<XApplication> app;
    for (const auto& a : apps_) {
      if (a->key == key) app = a;
    }
    const bool launched = !app;
    if (!app) {
      app = std::make_shared<XApplication>(weak_from_this(), queue(), key, nextIdentity_++);
      app->bundleId = bundleId;
      app->bundleUrl = bundleUrl;
      apps_.push_back(app);
    }
    if (hints.pid > 0 &&
        std::find(app->pids.begin(), app->pids.end(), hints.pid) == app->pids.end()) {
      app->pids.push_back(hints.pid);
      watchProcess(*app, hints.pid);
    }
    if (launched) emit<winsys::ApplicationLaunchedEvent>(ApplicationPtr(app));
    return app;
  }

  void watchProcess(XApplication& app, std::int32_t pid) {
    // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return;
    auto watch = std::make_unique<XApplication::ProcessWatch>();
    watch->pid = pid;
    watch->fd = fd;
    std::weak_ptr<XApplication> weakApp = app.weak_from_this();
    watch->watch = conn_->loop().watch(fd, dispatch::MainLoop::kReadable,
                                       [weak = weak_from_this(), weakApp, pid](unsigned) {
                                         auto self = weak.lock();
                                         auto a = weakApp.lock();
                                         if (self && a) self->processExited(*a, pid);
                                       });
    app.processes.push_back(std::move(watch));
  }

  void processExited(XApplication& app, std::int32_t pid) {
    auto keep = app.shared_from_this();
    std::erase_if(app.processes, [&](auto& p) { return p->pid == pid; });
    // The application's process identifier becomes that of a process still there.
    std::erase(app.pids, pid);
    terminateIfIdle(app);
  }

  // An application runs while it has windows or a live process we follow.
  void terminateIfIdle(XApplication& app) {
    if (!app.running || !app.windows.empty() || !app.processes.empty()) return;
    auto keep = app.shared_from_this();
    app.running = false;
    std::erase(apps_, keep);
    settleAll(app.hideWaits, base::Result<bool>(gone()));
    emit<winsys::ApplicationTerminatedEvent>(ApplicationPtr(keep));
    if (frontmost_ == keep) setFrontmost(nullptr);
  }

  void removeWindow(::Window xid) {
    auto it = windows_.find(xid);
    if (it == windows_.end()) return;
    auto window = it->second;
    windows_.erase(it);
    conn_->forgetWindow(xid);
    window->alive = false;
    window->reapplyTimer.cancel();
    settleAll(window->frameWaits, base::Result<Rect>(gone()));
    settleAll(window->minimizedWaits, base::Result<bool>(gone()));
    auto app = window->app.lock();
    if (app) std::erase(app->windows, window);
    emit<winsys::WindowDestroyedEvent>(WindowPtr(window));
    if (!app) return;
    std::erase(app->hiddenByUs, xid);
    settleHide(*app);
    updateFocus(*app);
    terminateIfIdle(*app);
  }

  void refreshTitle(XWindow& w) {
    std::string title = readTitle(w.xid);
    if (title == w.title_) return;
    w.title_ = std::move(title);
    emit<winsys::WindowTitleChangedEvent>(WindowPtr(w.shared_from_this()));
  }

  void refreshFrame(XWindow& w) {
    auto frame = readFrame(w.xid);
    if (!frame) return;  // gone: the error or destroy event follows
    const Rect before = w.frame();
    w.frame_ = *frame;
    if (w.reapplying && w.pendingFrame == w.frame_) finishReapply(w);
    if (w.frame() != before) {
      emit<winsys::WindowFrameChangedEvent>(WindowPtr(w.shared_from_this()));
    }
    std::vector<Wait<Rect>> done;
    std::erase_if(w.frameWaits, [&](Wait<Rect>& wait) {
      if (wait.target != w.frame_) return false;
      done.push_back(std::move(wait));
      return true;
    });
    settleAll(done, base::Result<Rect>(w.frame_));
  }

  void finishReapply(XWindow& w) {
    w.reapplying = false;
    w.pendingFrame.reset();
    w.reapplyTimer.cancel();
    settleMinimized(w);
  }

  void refreshMinimized(XWindow& w) {
    const bool minimized = readMinimized(w.xid);
    if (minimized == w.minimized) return;
    w.minimized = minimized;
    if (minimized && w.reapplying) {
      // Minimized again before its frame came back: apply it at the next show.
      w.reapplying = false;
      w.reapplyTimer.cancel();
    }
    auto self = w.shared_from_this();
    emit<winsys::WindowMinimizedChangedEvent>(WindowPtr(self));
    auto app = w.app.lock();
    if (!minimized && w.pendingFrame) {
      refreshFrame(w);
      if (w.pendingFrame == w.frame_) {
        w.pendingFrame.reset();
      } else {
        sendMoveResize(w.xid, *w.pendingFrame);
        conn_->flush();
        w.reapplying = true;
        w.reapplyTimer = queue().after(options_.writeTimeout,
                                       [weak = weak_from_this(), win = w.weak_from_this()] {
                                         auto s = weak.lock();
                                         auto x = win.lock();
                                         if (!s || !x || !x->reapplying) return;
                                         s->refreshFrame(*x);
                                         if (x->reapplying) {
                                           const Rect before = x->frame();
                                           x->reapplying = false;
                                           x->pendingFrame.reset();
                                           if (x->frame() != before)
                                             s->emit<winsys::WindowFrameChangedEvent>(WindowPtr(x));
                                           s->settleMinimized(*x);
                                         }
                                         s->conn_->flush();
                                       });
      }
    }
    if (!minimized && app && app->hidden && !app->hiding) unhide(*app, false);
    settleMinimized(w);
    if (app) {
      settleHide(*app);
      updateFocus(*app);
    }
  }

  void settleMinimized(XWindow& w) {
    std::vector<Wait<bool>> done;
    std::erase_if(w.minimizedWaits, [&](Wait<bool>& wait) {
      if (wait.target != w.minimized || (!wait.target && w.reapplying)) return false;
      done.push_back(std::move(wait));
      return true;
    });
    settleAll(done, base::Result<bool>(w.minimized));
  }

  bool allHiddenIconic(const XApplication& app) const {
    for (::Window xid : app.hiddenByUs) {
      auto w = find(xid);
      if (w && !w->minimized) return false;
    }
    return true;
  }

  void settleHide(XApplication& app) {
    if (!app.hiding || !allHiddenIconic(app)) return;
    app.hiding = false;
    settleAll(app.hideWaits, base::Result<bool>(true));
  }

  // Clears the hidden flag and shows the windows the hide iconified.
  void unhide(XApplication& app, bool later) {
    app.hidden = false;
    app.hiding = false;
    settleAll(app.hideWaits, base::Result<bool>(refused()));
    if (later) {
      emitLater<winsys::ApplicationIsHiddenChangedEvent>(app.shared_from_this());
    } else {
      emit<winsys::ApplicationIsHiddenChangedEvent>(ApplicationPtr(app.shared_from_this()));
    }
    for (::Window xid : app.hiddenByUs) {
      auto w = find(xid);
      if (w && w->minimized) XMapWindow(display_, xid);
    }
    app.hiddenByUs.clear();
    conn_->flush();
  }

  void syncActive() {
    auto list = readWindows(display_, conn_->root(), atoms_.netActiveWindow);
    const ::Window active = list && !list->empty() ? list->front() : None;
    if (active == active_) return;
    auto oldWindow = find(active_);
    active_ = active;
    auto newWindow = find(active);
    auto oldApp = oldWindow ? oldWindow->app.lock() : nullptr;
    auto newApp = newWindow ? newWindow->app.lock() : nullptr;
    if (newApp) {
      newApp->lastActive = active;
      // Activating a hidden application shows it.
      if (newApp->hidden && !newApp->hiding) unhide(*newApp, false);
    }
    if (oldApp) updateFocus(*oldApp);
    if (newApp && newApp != oldApp) updateFocus(*newApp);
    setFrontmost(newApp);
  }

  void updateFocus(XApplication& app) {
    auto self = app.shared_from_this();
    auto main = mainWindowOf(app);
    const ::Window mainId = main ? static_cast<XWindow&>(*main).xid : None;
    if (mainId != app.lastMain) {
      app.lastMain = mainId;
      emit<winsys::ApplicationMainWindowChangedEvent>(ApplicationPtr(self));
    }
    ::Window focused = None;
    for (const auto& w : app.windows) {
      if (w->xid == active_) focused = active_;
    }
    if (focused != app.lastFocused) {
      app.lastFocused = focused;
      emit<winsys::ApplicationFocusedWindowChangedEvent>(ApplicationPtr(self));
    }
  }

  void setFrontmost(std::shared_ptr<XApplication> app) {
    if (app == frontmost_) return;
    frontmost_ = std::move(app);
    emit<winsys::FrontmostApplicationChangedEvent>(ApplicationPtr(frontmost_));
  }

  std::shared_ptr<Connection> conn_;
  Display* display_;
  const Atoms& atoms_;
  const platform::BundleIdResolver& resolver_;
  const platform::BundleProvider* bundles_;
  X11WindowSystemOptions options_;
  winsys::EventNotifier* notifier_ = nullptr;
  bool started_ = false;
  bool loading_ = false;
  std::map<::Window, std::shared_ptr<XWindow>> windows_;
  std::vector<::Window> ignored_;
  std::vector<std::shared_ptr<XApplication>> apps_;
  std::shared_ptr<XApplication> frontmost_;
  ::Window active_ = None;
  std::uint64_t nextIdentity_ = 1;
  std::uint64_t nextWait_ = 1;
};

// --- the public objects forward to the desktop ----------------------------------

ApplicationPtr XWindow::application() const {
  return app.lock();
}

Promise<Rect> XWindow::setFrame(Rect frame) {
  auto desktop = desktop_.lock();
  if (!desktop) return Promise<Rect>::error(queue_, gone());
  return desktop->setFrame(*this, frame);
}

Promise<bool> XWindow::setMinimized(bool value) {
  auto desktop = desktop_.lock();
  if (!desktop) return Promise<bool>::error(queue_, gone());
  return desktop->setMinimized(*this, value);
}

base::Status XWindow::close() {
  auto desktop = desktop_.lock();
  if (!desktop) return gone();
  return desktop->close(*this);
}

winsys::UIElementPtr XWindow::uiElement() const {
  return std::make_shared<XUIElement>(weak_from_this());
}

WindowPtr XApplication::mainWindow() const {
  auto desktop = desktop_.lock();
  return desktop && running ? desktop->mainWindowOf(*this) : nullptr;
}

Promise<bool> XApplication::setHidden(bool value) {
  auto desktop = desktop_.lock();
  if (!desktop) return Promise<bool>::error(queue_, gone());
  return desktop->setHidden(*this, value);
}

void XApplication::quit() {
  if (auto desktop = desktop_.lock()) desktop->quit(*this);
}

std::vector<ApplicationPtr> LiveState::runningApplications() const {
  auto desktop = desktop_.lock();
  return desktop ? desktop->running() : std::vector<ApplicationPtr>{};
}

}  // namespace detail

X11WindowSystem::X11WindowSystem(std::shared_ptr<Connection> connection,
                                 const platform::BundleIdResolver& resolver,
                                 const platform::BundleProvider* bundles,
                                 X11WindowSystemOptions options)
    : desktop_(std::make_shared<detail::Desktop>(std::move(connection), resolver, bundles,
                                                 std::move(options))) {}

X11WindowSystem::~X11WindowSystem() = default;

winsys::Promise<winsys::StatePtr> X11WindowSystem::initialize(winsys::EventNotifier& notifier) {
  return desktop_->initialize(notifier);
}

std::vector<std::int32_t> X11WindowSystem::processesOf(std::int32_t pid) const {
  return desktop_->processesOf(pid);
}

}  // namespace wendrix::x11

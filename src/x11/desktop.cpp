#include "x11/desktop.h"

#include <unistd.h>

#include <algorithm>
#include <map>

#include "platform/xconn/ewmh.h"
#include "winsys/errors.h"

namespace wendrix::x11::detail {

using winsys::ApplicationPtr;
using winsys::Promise;
using winsys::Rect;
using winsys::WindowPtr;
using winsys::WindowSystemError;
using winsys::WindowSystemErrorCode;

Desktop::Desktop(std::shared_ptr<xconn::Connection> connection,
                 const platform::BundleIdResolver& resolver,
                 const platform::BundleProvider* bundles, X11WindowSystemOptions options)
    : conn_(std::move(connection)),
      loop_(*conn_->loop()),
      display_(conn_->display()),
      atoms_(conn_->atoms()),
      properties_(*conn_),
      resolver_(resolver),
      bundles_(bundles),
      options_(std::move(options)),
      events_(std::make_shared<DesktopEvents>(loop_)) {}

Desktop::~Desktop() {
  if (started_) conn_->removeListener(this);
}

Promise<winsys::StatePtr> Desktop::initialize(winsys::EventNotifier& notifier) {
  if (conn_->broken()) return Promise<winsys::StatePtr>::error(queue(), refused());
  if (!xconn::windowManagerPresent(*conn_)) {
    return Promise<winsys::StatePtr>::error(
        queue(), WindowSystemError::make(WindowSystemErrorCode::notTrusted));
  }
  events_->setNotifier(notifier);
  if (!started_) {
    started_ = true;
    conn_->addListener(this);
    conn_->selectInput(conn_->root(), PropertyChangeMask);
    events_->setLoading(true);
    syncClientList();
    syncActive();
    events_->setLoading(false);
    conn_->flush();
  }
  return Promise<winsys::StatePtr>::value(queue(), std::make_shared<LiveState>(weak_from_this()));
}

std::vector<std::int32_t> Desktop::processesOf(std::int32_t pid) const {
  for (const auto& app : apps_) {
    if (std::find(app->pids.begin(), app->pids.end(), pid) != app->pids.end()) return app->pids;
  }
  return {pid};
}

WindowPtr Desktop::mainWindowOf(const XApplication& app) const {
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

std::shared_ptr<XWindow> Desktop::find(::Window xid) const {
  auto it = windows_.find(xid);
  return it == windows_.end() ? nullptr : it->second;
}

// --- events ---------------------------------------------------------------------

void Desktop::onEvent(const XEvent& event) {
  events_->emitDeferred();
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
        w->document_ = properties_.document(w->xid);
      } else if (p.atom == atoms_.wmProtocols) {
        w->closable = properties_.closable(w->xid);
      }
      return;
    }
    case ConfigureNotify:
      if (auto w = find(event.xconfigure.window)) refreshFrame(*w);
      return;
    case DestroyNotify:
      if (find(event.xdestroywindow.window)) {
        removeWindow(event.xdestroywindow.window);
      } else {
        forgetIgnored(event.xdestroywindow.window);
      }
      return;
    default:
      return;
  }
}

void Desktop::onWindowGone(::Window window) {
  events_->emitDeferred();
  if (find(window)) {
    removeWindow(window);
  } else {
    forgetIgnored(window);
  }
}

void Desktop::forgetIgnored(::Window xid) {
  if (std::erase(ignored_, xid) != 0) conn_->forgetWindow(xid);
}

void Desktop::onBroken() {
  events_->emitDeferred();
  for (const auto& [xid, w] : windows_) {
    w->frameWaits.settleAll(base::Result<Rect>(refused()));
    w->minimizedWaits.settleAll(base::Result<bool>(refused()));
  }
  for (const auto& app : apps_)
    app->hideWaits.settleAll(base::Result<bool>(refused()));
}

// --- windows and applications ----------------------------------------------------

void Desktop::syncClientList() {
  const auto list = xconn::clientList(*conn_).value_or(std::vector<::Window>{});
  std::vector<::Window> removed;
  for (const auto& [xid, w] : windows_) {
    if (std::find(list.begin(), list.end(), xid) == list.end()) removed.push_back(xid);
  }
  for (::Window xid : removed)
    removeWindow(xid);
  // An ignored window that left the list forgets its event selection too: the
  // server may give its id to a later window, whose events must be selected.
  std::vector<::Window> unlisted;
  for (::Window xid : ignored_) {
    if (std::find(list.begin(), list.end(), xid) == list.end()) unlisted.push_back(xid);
  }
  for (::Window xid : unlisted)
    forgetIgnored(xid);
  std::vector<::Window> added;
  for (::Window xid : list) {
    if (!windows_.count(xid) &&
        std::find(ignored_.begin(), ignored_.end(), xid) == ignored_.end()) {
      added.push_back(xid);
    }
  }
  addWindows(added);
  // Each application's windows in client-list (mapping) order.
  std::map<::Window, std::size_t> order;
  for (std::size_t i = 0; i < list.size(); ++i)
    order[list[i]] = i;
  for (const auto& app : apps_) {
    std::stable_sort(app->windows.begin(), app->windows.end(),
                     [&](auto& a, auto& b) { return order[a->xid] < order[b->xid]; });
  }
}

void Desktop::addWindows(const std::vector<::Window>& xids) {
  if (xids.empty()) return;
  // Select first, so no change between the reads and the selection is lost.
  for (::Window xid : xids)
    conn_->selectInput(xid, PropertyChangeMask | StructureNotifyMask);
  auto facts = properties_.readAll(xids);
  for (std::size_t i = 0; i < xids.size(); ++i) {
    if (facts[i]) {
      addWindow(xids[i], std::move(*facts[i]));
    } else if (properties_.frame(xids[i])) {
      // A window of a kind not listed (a dock, a splash): it stays ignored
      // until it is destroyed or leaves the list.
      ignored_.push_back(xids[i]);
    } else {
      // Gone while still listed: the window manager may list a new window
      // under the same id before it updates the list, so it is read again
      // at the next change of the list.
      conn_->forgetWindow(xids[i]);
    }
  }
}

void Desktop::addWindow(::Window xid, WindowFacts facts) {
  auto window = std::make_shared<XWindow>(weak_from_this(), queue(), xid, nextIdentity_++);
  window->type = facts.type;
  window->frame_ = facts.frame;
  window->title_ = std::move(facts.title);
  window->minimized = facts.minimized;
  window->document_ = std::move(facts.document);
  window->closable = facts.closable;
  window->role = std::move(facts.role);

  auto app = applicationFor(facts.hints);
  window->app = app;
  windows_[xid] = window;
  app->windows.push_back(window);
  events_->emit<winsys::WindowCreatedEvent>(WindowPtr(window));
  // The window manager may name a window active before listing it.
  if (xid == active_) app->lastActive = xid;
  updateFocus(*app);
  if (xid == active_) setFrontmost(app);
}

std::shared_ptr<XApplication> Desktop::applicationFor(const platform::WindowOwnerHints& hints) {
  std::optional<std::string> bundleId;
  std::optional<base::Url> bundleUrl;
  if (hints.pid > 0 && hints.pid == ::getpid()) {
    bundleId = options_.selfBundleIdentifier;
    if (bundles_) bundleUrl = bundles_->mainBundle().url;
  } else {
    bundleId = resolver_.bundleIdentifierFor(hints);
    // A program without a desktop entry is named by its executable.
    if (bundleId && bundleId->starts_with('/')) {
      bundleUrl = base::Url::fromFilePath(*bundleId);
    } else if (bundleId && bundles_) {
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
  if (launched) events_->emit<winsys::ApplicationLaunchedEvent>(ApplicationPtr(app));
  return app;
}

void Desktop::watchProcess(XApplication& app, std::int32_t pid) {
  auto watch = ProcessWatch::start(loop_, pid,
                                   [weak = weak_from_this(), weakApp = app.weak_from_this(), pid] {
                                     auto self = weak.lock();
                                     auto a = weakApp.lock();
                                     if (self && a) self->processExited(*a, pid);
                                   });
  if (watch) app.processes.push_back(std::move(watch));
}

void Desktop::processExited(XApplication& app, std::int32_t pid) {
  events_->emitDeferred();
  auto keep = app.shared_from_this();
  std::erase_if(app.processes, [&](auto& p) { return p->pid() == pid; });
  // The application's process identifier becomes that of a process still there.
  std::erase(app.pids, pid);
  terminateIfIdle(app);
}

// An application runs while it has windows or a live process we follow.
void Desktop::terminateIfIdle(XApplication& app) {
  if (!app.running || !app.windows.empty() || !app.processes.empty()) return;
  auto keep = app.shared_from_this();
  app.running = false;
  std::erase(apps_, keep);
  app.hideWaits.settleAll(base::Result<bool>(gone()));
  events_->emit<winsys::ApplicationTerminatedEvent>(ApplicationPtr(keep));
  if (frontmost_ == keep) setFrontmost(nullptr);
}

void Desktop::removeWindow(::Window xid) {
  auto it = windows_.find(xid);
  if (it == windows_.end()) return;
  auto window = it->second;
  windows_.erase(it);
  conn_->forgetWindow(xid);
  window->alive = false;
  window->reapplyTimer.cancel();
  window->frameWaits.settleAll(base::Result<Rect>(gone()));
  window->minimizedWaits.settleAll(base::Result<bool>(gone()));
  auto app = window->app.lock();
  if (app) std::erase(app->windows, window);
  events_->emit<winsys::WindowDestroyedEvent>(WindowPtr(window));
  if (!app) return;
  std::erase(app->hiddenByUs, xid);
  writer_.settleHide(*app);
  updateFocus(*app);
  terminateIfIdle(*app);
}

// --- changes the server announces -------------------------------------------------

void Desktop::refreshTitle(XWindow& w) {
  std::string title = properties_.title(w.xid);
  if (title == w.title_) return;
  w.title_ = std::move(title);
  events_->emit<winsys::WindowTitleChangedEvent>(WindowPtr(w.shared_from_this()));
}

void Desktop::refreshFrame(XWindow& w) {
  auto frame = properties_.frame(w.xid);
  if (!frame) return;  // gone: the error or destroy event follows
  const Rect before = w.frame();
  w.frame_ = *frame;
  if (w.written == w.frame_) w.written.reset();
  if (writer_.correctPlacement(w)) return;
  if (w.reapplying && w.pendingFrame == w.frame_) writer_.finishReapply(w);
  if (w.frame() != before) {
    events_->emit<winsys::WindowFrameChangedEvent>(WindowPtr(w.shared_from_this()));
  }
  w.frameWaits.settleIf([&](const Rect& target) { return target == w.frame_; },
                        base::Result<Rect>(w.frame_));
}

void Desktop::refreshMinimized(XWindow& w) {
  const bool minimized = properties_.minimized(w.xid);
  if (minimized == w.minimized) return;
  w.minimized = minimized;
  if (minimized && w.reapplying) {
    // Minimized again before its frame came back: apply it at the next show.
    w.reapplying = false;
    w.reapplyTimer.cancel();
  }
  auto self = w.shared_from_this();
  events_->emit<winsys::WindowMinimizedChangedEvent>(WindowPtr(self));
  auto app = w.app.lock();
  if (!minimized && w.pendingFrame) writer_.reapplyFrame(w);
  if (!minimized && app && app->hidden && !app->hiding) writer_.unhide(*app, false);
  writer_.settleMinimized(w);
  if (app) {
    writer_.settleHide(*app);
    updateFocus(*app);
  }
}

void Desktop::syncActive() {
  const ::Window active = xconn::activeWindow(*conn_);
  if (active == active_) return;
  auto oldWindow = find(active_);
  active_ = active;
  auto newWindow = find(active);
  auto oldApp = oldWindow ? oldWindow->app.lock() : nullptr;
  auto newApp = newWindow ? newWindow->app.lock() : nullptr;
  if (newApp) {
    newApp->lastActive = active;
    // Activating a hidden application shows it.
    if (newApp->hidden && !newApp->hiding) writer_.unhide(*newApp, false);
  }
  if (oldApp) updateFocus(*oldApp);
  if (newApp && newApp != oldApp) updateFocus(*newApp);
  setFrontmost(newApp);
}

void Desktop::updateFocus(XApplication& app) {
  auto self = app.shared_from_this();
  auto main = mainWindowOf(app);
  const ::Window mainId = main ? static_cast<XWindow&>(*main).xid : None;
  if (mainId != app.lastMain) {
    app.lastMain = mainId;
    events_->emit<winsys::ApplicationMainWindowChangedEvent>(ApplicationPtr(self));
  }
  ::Window focused = None;
  for (const auto& w : app.windows) {
    if (w->xid == active_) focused = active_;
  }
  if (focused != app.lastFocused) {
    app.lastFocused = focused;
    events_->emit<winsys::ApplicationFocusedWindowChangedEvent>(ApplicationPtr(self));
  }
}

void Desktop::setFrontmost(std::shared_ptr<XApplication> app) {
  if (app == frontmost_) return;
  frontmost_ = std::move(app);
  events_->emit<winsys::FrontmostApplicationChangedEvent>(ApplicationPtr(frontmost_));
}

}  // namespace wendrix::x11::detail

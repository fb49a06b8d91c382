#include "winsys/fake/fake_desktop.h"

#include <algorithm>
#include <utility>

#include "winsys/errors.h"

namespace wendrix::winsys::fake {

// --- the window-system layer over the desktop -------------------------------

class FakeDesktop::LiveState final : public State {
 public:
  explicit LiveState(FakeDesktop& desktop) : desktop_(desktop) {}

  std::vector<ApplicationPtr> runningApplications() const override {
    return {desktop_.apps_.begin(), desktop_.apps_.end()};
  }

 private:
  FakeDesktop& desktop_;
};

class FakeDesktop::System final : public WindowSystem {
 public:
  explicit System(FakeDesktop& desktop) : desktop_(desktop) {}
  Promise<StatePtr> initialize(EventNotifier& notifier) override {
    return desktop_.initialize(notifier);
  }

 private:
  FakeDesktop& desktop_;
};

// --- windows and applications -----------------------------------------------

FakeWindow::FakeWindow(FakeDesktop& desktop, std::weak_ptr<FakeApplication> app, WindowSetup setup,
                       std::uint64_t identity)
    : desktop_(&desktop), app_(std::move(app)), setup_(std::move(setup)), identity_(identity) {}

ApplicationPtr FakeWindow::application() const {
  return app_.lock();
}

Promise<Rect> FakeWindow::setFrame(Rect frame) {
  ++frameWrites_;
  auto self = shared_from_this();
  return desktop_->answerWrite<Rect>(frameScript_, [self, frame]() -> base::Result<Rect> {
    if (!self->alive_) return WindowSystemError::make(WindowSystemErrorCode::invalidObject);
    self->desktop_->moveWindow(self, frame);
    return self->setup_.frame;
  });
}

Promise<bool> FakeWindow::setMinimized(bool minimized) {
  ++minimizedWrites_;
  auto self = shared_from_this();
  return desktop_->answerWrite<bool>(minimizedScript_, [self, minimized]() -> base::Result<bool> {
    if (!self->alive_) {
      return WindowSystemError::make(WindowSystemErrorCode::invalidObject);
    }
    self->desktop_->setMinimized(self, minimized);
    return self->setup_.minimized;
  });
}

base::Status FakeWindow::close() {
  if (!alive_) return WindowSystemError::make(WindowSystemErrorCode::invalidObject);
  if (!setup_.closable) return WindowSystemError::make(WindowSystemErrorCode::cannotClose);
  // The window goes away a moment later, as a real one does.
  desktop_->queue_.async([self = shared_from_this()] {
    if (self->alive_) self->desktop_->destroyWindow(self);
  });
  return {};
}

FakeApplication::FakeApplication(FakeDesktop& desktop, AppSetup setup, std::uint64_t identity)
    : desktop_(&desktop), setup_(std::move(setup)), identity_(identity) {}

std::vector<WindowPtr> FakeApplication::knownWindows() const {
  return {windows_.begin(), windows_.end()};
}

Promise<bool> FakeApplication::setHidden(bool hidden) {
  auto self = shared_from_this();
  return desktop_->answerWrite<bool>(hiddenScript_, [self, hidden]() -> base::Result<bool> {
    if (!self->running_) return WindowSystemError::make(WindowSystemErrorCode::invalidObject);
    self->desktop_->setHidden(self, hidden);
    return self->setup_.hidden;
  });
}

void FakeApplication::quit() {
  ++quitRequests_;
  if (setup_.ignoresQuit) return;
  desktop_->queue_.async([self = shared_from_this()] {
    if (self->running_) self->desktop_->terminate(self);
  });
}

// --- the desktop ------------------------------------------------------------

FakeDesktop::FakeDesktop(dispatch::Queue& mainQueue)
    : queue_(mainQueue), system_(std::make_unique<System>(*this)) {
  keyboard_.setListener([this](const platform::Keystroke& k) { onKeystroke(k); });
  workspace_.setHandler(
      [this](const platform::FakeWorkspace::Request& request, platform::OpenCompletion done) {
        onOpenRequest(request, std::move(done));
      });
  runningApps_.setActivationHandler(
      [this](const platform::FakeRunningApplications::Activation& a) { onActivation(a); });
}

FakeDesktop::~FakeDesktop() = default;

WindowSystem& FakeDesktop::windowSystem() {
  return *system_;
}

template <class E, class P>
void FakeDesktop::emit(P subject) {
  if (notifier_) notifier_->notify(E(std::move(subject)));
}

template <class T, class Apply>
Promise<T> FakeDesktop::answerWrite(const WriteScript& script, Apply apply) {
  auto [promise, resolver] = Promise<T>::pending(queue_);
  queue_.after(script.delay, [resolver = resolver, error = script.error, apply = std::move(apply)] {
    if (error) {
      resolver.reject(*error);
    } else {
      resolver.settle(apply());
    }
  });
  return promise;
}

Promise<StatePtr> FakeDesktop::initialize(EventNotifier& notifier) {
  ++initializations_;
  if (!trust_.trusted()) {
    return Promise<StatePtr>::error(queue_,
                                    WindowSystemError::make(WindowSystemErrorCode::notTrusted));
  }
  return answerWrite<StatePtr>(initScript_, [this, &notifier]() -> base::Result<StatePtr> {
    notifier_ = &notifier;
    return StatePtr(std::make_shared<LiveState>(*this));
  });
}

std::int32_t FakeDesktop::freePid() {
  while (applicationWithPid(nextPid_) || nextPid_ == runningApps_.current().processIdentifier) {
    ++nextPid_;
  }
  return nextPid_++;
}

std::shared_ptr<FakeApplication> FakeDesktop::launch(AppSetup setup,
                                                     std::vector<WindowSetup> windows) {
  if (setup.processIdentifier == 0) setup.processIdentifier = freePid();
  if (setup.info) {
    platform::Bundle bundle{
        setup.bundleURL.value_or(base::Url::fromFilePath(
            "/fake/applications/" + setup.bundleIdentifier.value_or("unnamed") + ".desktop")),
        *setup.info};
    if (setup.bundleIdentifier && !bundle.info.contains(platform::kBundleIdentifierKey)) {
      bundle.info.set(std::string(platform::kBundleIdentifierKey), *setup.bundleIdentifier);
    }
    bundles_.add(std::move(bundle));
  }
  auto app = std::make_shared<FakeApplication>(*this, std::move(setup), nextIdentity_++);
  apps_.push_back(app);
  runningApps_.addProcess(app->processIdentifier());
  emit<ApplicationLaunchedEvent>(ApplicationPtr(app));
  for (auto& window : windows)
    addWindow(app, std::move(window));
  return app;
}

void FakeDesktop::terminate(const std::shared_ptr<FakeApplication>& app) {
  if (!app->running_) return;
  while (!app->windows_.empty()) {
    // A copy: removing the window erases the element it was read from.
    const std::shared_ptr<FakeWindow> window = app->windows_.back();
    removeWindow(window);
  }
  app->running_ = false;
  std::erase(apps_, app);
  runningApps_.removeProcess(app->processIdentifier());
  emit<ApplicationTerminatedEvent>(ApplicationPtr(app));
  if (frontmost_ == app) setFrontmost(nullptr);
}

std::shared_ptr<FakeWindow> FakeDesktop::addWindow(const std::shared_ptr<FakeApplication>& app,
                                                   WindowSetup setup) {
  auto window = std::make_shared<FakeWindow>(*this, app, std::move(setup), nextIdentity_++);
  app->windows_.push_back(window);
  emit<WindowCreatedEvent>(WindowPtr(window));
  if (!app->mainWindow_) setMainWindow(app, window);
  return window;
}

void FakeDesktop::destroyWindow(const std::shared_ptr<FakeWindow>& window) {
  if (window->alive_) removeWindow(window);
}

void FakeDesktop::removeWindow(const std::shared_ptr<FakeWindow>& window) {
  window->alive_ = false;
  auto app = window->app_.lock();
  if (!app) return;
  std::erase(app->windows_, window);
  emit<WindowDestroyedEvent>(WindowPtr(window));
  if (app->mainWindow_ == window) {
    setMainWindow(app, app->windows_.empty() ? nullptr : app->windows_.front());
  }
}

void FakeDesktop::setTitle(const std::shared_ptr<FakeWindow>& window, std::string title) {
  if (window->setup_.title == title) return;
  window->setup_.title = std::move(title);
  emit<WindowTitleChangedEvent>(WindowPtr(window));
}

void FakeDesktop::moveWindow(const std::shared_ptr<FakeWindow>& window, Rect frame) {
  if (window->setup_.frame == frame) return;
  window->setup_.frame = frame;
  emit<WindowFrameChangedEvent>(WindowPtr(window));
}

void FakeDesktop::setMinimized(const std::shared_ptr<FakeWindow>& window, bool minimized) {
  if (window->setup_.minimized == minimized) return;
  window->setup_.minimized = minimized;
  emit<WindowMinimizedChangedEvent>(WindowPtr(window));
}

void FakeDesktop::setHidden(const std::shared_ptr<FakeApplication>& app, bool hidden) {
  if (app->setup_.hidden == hidden) return;
  app->setup_.hidden = hidden;
  emit<ApplicationIsHiddenChangedEvent>(ApplicationPtr(app));
}

void FakeDesktop::setMainWindow(const std::shared_ptr<FakeApplication>& app,
                                const std::shared_ptr<FakeWindow>& window) {
  if (app->mainWindow_ == window) return;
  app->mainWindow_ = window;
  emit<ApplicationMainWindowChangedEvent>(ApplicationPtr(app));
}

void FakeDesktop::setFrontmost(const std::shared_ptr<FakeApplication>& app) {
  if (frontmost_ == app) return;
  frontmost_ = app;
  runningApps_.setFrontmost(app ? std::optional(app->processIdentifier()) : std::nullopt);
  emit<FrontmostApplicationChangedEvent>(ApplicationPtr(app));
}

std::shared_ptr<FakeApplication> FakeDesktop::applicationWithPid(std::int32_t pid) const {
  for (const auto& app : apps_) {
    if (app->processIdentifier() == pid) return app;
  }
  return nullptr;
}

std::shared_ptr<FakeApplication> FakeDesktop::applicationWithURL(const base::Url& url) const {
  for (const auto& app : apps_) {
    if (app->setup_.bundleURL == url) return app;
  }
  return nullptr;
}

void FakeDesktop::scriptNewWindow(std::int32_t pid, NewWindowScript script) {
  if (!script.keyCode) {
    std::erase_if(newWindowScripts_, [pid](const auto& entry) { return entry.first.first == pid; });
  }
  const auto key = std::make_pair(pid, script.keyCode);
  newWindowScripts_.insert_or_assign(key, std::move(script));
}

void FakeDesktop::scriptLaunch(const base::Url& applicationURL, LaunchScript script) {
  launchScripts_.insert_or_assign(applicationURL.absoluteString(), std::move(script));
}

void FakeDesktop::scriptActivation(std::int32_t pid, ActivationScript script) {
  activationScripts_.insert_or_assign(pid, std::move(script));
}

void FakeDesktop::onKeystroke(const platform::Keystroke& keystroke) {
  if (!keystroke.keyDown) return;
  auto it = newWindowScripts_.find({keystroke.processIdentifier, keystroke.keyCode});
  if (it == newWindowScripts_.end()) {
    it = newWindowScripts_.find({keystroke.processIdentifier, std::nullopt});
  }
  if (it == newWindowScripts_.end()) return;
  const NewWindowScript script = it->second;
  queue_.after(script.delay, [this, script, pid = keystroke.processIdentifier] {
    auto app = applicationWithPid(pid);
    if (!app) return;
    std::vector<std::shared_ptr<FakeWindow>> burst;
    for (int i = 0; i < script.count; ++i) {
      WindowSetup setup = script.window;
      if (setup.title.empty()) setup.title = "Untitled " + std::to_string(++untitled_);
      if (!script.inOneBurst) {
        addWindow(app, std::move(setup));
        continue;
      }
      burst.push_back(std::make_shared<FakeWindow>(*this, app, std::move(setup), nextIdentity_++));
      app->windows_.push_back(burst.back());
    }
    for (const auto& window : burst) {
      emit<WindowCreatedEvent>(WindowPtr(window));
      if (!app->mainWindow_) setMainWindow(app, window);
    }
  });
}

namespace {

platform::LaunchedApplication describe(const FakeApplication& app) {
  return {app.processIdentifier(), app.bundleIdentifier(), app.bundleURL()};
}

}  // namespace

void FakeDesktop::onOpenRequest(const platform::FakeWorkspace::Request& request,
                                platform::OpenCompletion completion) {
  auto it = launchScripts_.find(request.applicationURL.absoluteString());
  if (it == launchScripts_.end()) {
    // Unscripted: a running application at that URL is reached; any other
    // URL has no application.
    queue_.async([this, request, completion = std::move(completion)] {
      if (auto app = applicationWithURL(request.applicationURL)) {
        completion(describe(*app), std::nullopt);
      } else {
        completion(std::nullopt,
                   platform::FakeWorkspace::noApplicationError(request.applicationURL));
      }
    });
    return;
  }
  // The script as it is now: a later one applies to later requests.
  queue_.after(it->second.delay,
               [this, script = it->second, request, completion = std::move(completion)] {
                 switch (script.outcome) {
                   case LaunchScript::Outcome::fail:
                     completion(std::nullopt, script.error);
                     return;
                   case LaunchScript::Outcome::neither:
                     completion(std::nullopt, std::nullopt);
                     return;
                   case LaunchScript::Outcome::launch:
                     break;
                 }
                 auto app = applicationWithURL(request.applicationURL);
                 if (app) {
                   for (const auto& setup : script.reopenWindows)
                     addWindow(app, setup);
                 } else {
                   AppSetup setup = script.app;
                   if (!setup.bundleURL) setup.bundleURL = request.applicationURL;
                   app = launch(std::move(setup), script.windows);
                 }
                 if (request.documents && script.windowPerDocument) {
                   for (const auto& url : *request.documents) {
                     if (script.documentWindow) {
                       if (auto spec = script.documentWindow(url)) addWindow(app, std::move(*spec));
                       continue;
                     }
                     const std::string path = url.filePath().value_or(url.absoluteString());
                     const auto slash = path.find_last_of('/');
                     WindowSetup setup;
                     setup.title = slash == std::string::npos ? path : path.substr(slash + 1);
                     setup.document = path;
                     addWindow(app, std::move(setup));
                   }
                 }
                 completion(describe(*app), std::nullopt);
               });
}

void FakeDesktop::onActivation(const platform::FakeRunningApplications::Activation& activation) {
  auto app = applicationWithPid(activation.processIdentifier);
  if (!app) {
    // A process without windows here (such as the program itself).
    runningApps_.setFrontmost(activation.processIdentifier);
    return;
  }
  ActivationScript script;
  if (auto it = activationScripts_.find(activation.processIdentifier);
      it != activationScripts_.end()) {
    script = it->second;
  }
  if (!script.delay) return;
  queue_.after(*script.delay, [this, app] {
    if (!app->running_) return;
    setHidden(app, false);
    setFrontmost(app);
  });
}

}  // namespace wendrix::winsys::fake

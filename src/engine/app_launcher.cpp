#include "engine/app_launcher.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "analytics/track.h"
#include "engine/new_window_shortcut.h"
#include "engine/restore_errors.h"
#include "engine/windows_provider.h"
#include "platform/keyboard/keyboard.h"
#include "platform/workspace/workspace.h"
#include "rx/disposable.h"
#include "rx/hand_written.h"
#include "rx/observable.h"
#include "rx/scheduler.h"
#include "rx/single.h"
#include "storage/defaults_storage.h"

namespace wendrix {

using platform::LaunchedApplication;
using rx::Unit;
using winsys::ApplicationPtr;
using winsys::WindowPtr;
using Windows = std::vector<WindowPtr>;

namespace {

// The counters of one wait, alive as long as its subscription.
struct WindowCounters {
  // The window count of the last list let through.
  std::int64_t lastCount = -1;
  // Windows on screen or requested.
  std::int64_t asked = 0;
  // Keystrokes and reopen requests issued.
  std::int64_t opened = 0;
};

// "Error" without a location when the application ended up with more
// windows than wanted after we asked for some.
void reportTooManyWindows(const Windows& windows, std::int64_t wanted, std::int64_t opened) {
  const auto actual = static_cast<std::int64_t>(windows.size());
  if (actual <= wanted || opened < 1) return;
  Track::tooManyWindowsRestored(wanted, actual, opened);
}

const AppSettingsMap kNoSettings;

}  // namespace

struct AppLauncher::SettingsFollower {
  using Shared = std::shared_ptr<const AppSettingsMap>;

  ~SettingsFollower() { subscription.dispose(); }

  // The current settings, or the store's error.
  base::Result<Shared> current(DefaultsStorage& storage) {
    if (!following) {
      following = true;
      // The subject hands its current value at once, then every change.
      subscription = storage.appSettingsSubject().asObservable().subscribe(
          rx::observer<AppSettingsMap>([this](const rx::Event<AppSettingsMap>& e) {
            if (e.isNext()) {
              settings = std::make_shared<const AppSettingsMap>(e.element());
            } else if (e.isError()) {
              settings = e.error();
            }
          }));
    }
    return settings;
  }

  base::Result<Shared> settings = Shared();
  rx::Disposable subscription;
  bool following = false;
};

AppLauncher::AppLauncher(AppLauncherContext context)
    : windowsProvider_(std::move(context.windowsProvider)),
      storage_(std::move(context.storage)),
      scheduler_(*context.scheduler),
      workspace_(context.workspace),
      keyboard_(context.keyboard),
      aliases_(context.aliases ? std::move(context.aliases)
                               : std::make_shared<const BundleIdAliases>()),
      mainThread_(std::this_thread::get_id()),
      settings_(std::make_shared<SettingsFollower>()) {}

// --- finding and launching --------------------------------------------------------

rx::Single<FoundApp> AppLauncher::findOrLaunchApp(const IApp& app) {
  return findOrLaunchApp(std::make_shared<const IApp>(app));
}

namespace {

// One subscription of `findOrLaunchApp`: follows the application's stream,
// whose first value decides whether to launch it, until it gives a running
// application and the launch (if any) succeeded. It is also the state of the
// subscription's handle.
class AppLookup final : public rx::Disposable::Target,
                        public std::enable_shared_from_this<AppLookup> {
 public:
  using Launch = rx::Single<LaunchedApplication> (*)(const std::shared_ptr<AppLauncher>& launcher,
                                                     const std::shared_ptr<const IApp>& app);

  AppLookup(rx::AnyObserver<FoundApp> observer, std::weak_ptr<AppLauncher> launcher,
            std::shared_ptr<const IApp> app, Launch launch)
      : observer_(std::move(observer)),
        launcher_(std::move(launcher)),
        app_(std::move(app)),
        launch_(launch) {}

  void start(const rx::Observable<ApplicationPtr>& running) {
    auto self = shared_from_this();
    running_.set(running.subscribe(rx::observer<ApplicationPtr>(
        [self](const rx::Event<ApplicationPtr>& e) { self->runningEvent(e); })));
  }

 protected:
  void disposeOnce() override {
    ended_ = true;
    observer_ = rx::AnyObserver<FoundApp>();
    running_.dispose();
    launching_.dispose();
  }

 private:
  void runningEvent(const rx::Event<ApplicationPtr>& e) {
    if (ended_) return;
    if (!e.isNext()) {
      fail(e.isError() ? e.error() : rx::RxError::noElements());
      return;
    }
    const ApplicationPtr& found = e.element();
    if (!ready_ && found) ready_ = found;
    if (!decided_) {
      decided_ = true;
      auto launcher = found ? nullptr : launcher_.lock();
      if (launcher) {
        auto self = shared_from_this();
        launching_.set(
            launch_(launcher, app_)
                .asObservable()
                .subscribe(rx::observer<LaunchedApplication>(
                    [self](const rx::Event<LaunchedApplication>& l) { self->launchEvent(l); })));
        return;
      }
      launchDone_ = true;
    }
    finishIfDone();
  }

  void launchEvent(const rx::Event<LaunchedApplication>& e) {
    if (ended_ || launchDone_) return;
    if (e.isError()) {
      fail(e.error());
      return;
    }
    if (e.isCompleted()) return;
    launchDone_ = true;
    launched_ = true;
    finishIfDone();
  }

  void finishIfDone() {
    if (ended_ || !ready_ || !launchDone_) return;
    ended_ = true;
    const rx::AnyObserver<FoundApp> observer = observer_;
    observer.onNext(FoundApp{ready_, launched_});
    observer.onCompleted();
  }

  void fail(const base::Error& error) {
    if (ended_) return;
    ended_ = true;
    const rx::AnyObserver<FoundApp> observer = observer_;
    observer.onError(error);
  }

  rx::AnyObserver<FoundApp> observer_;
  std::weak_ptr<AppLauncher> launcher_;
  std::shared_ptr<const IApp> app_;
  Launch launch_;
  rx::SerialSlot running_;
  rx::SerialSlot launching_;
  ApplicationPtr ready_;
  bool decided_ = false;
  bool launchDone_ = false;
  bool launched_ = false;
  bool ended_ = false;
};

}  // namespace

rx::Single<FoundApp> AppLauncher::findOrLaunchApp(std::shared_ptr<const IApp> app) {
  if (!app->bundleId) return rx::Single<FoundApp>::error(InvalidAppError{*app}.asError());
  // The first value tells whether the application runs; a launched one is
  // awaited until it shows in the stream.
  const rx::Observable<ApplicationPtr> running = windowsProvider_->application(*app->bundleId);
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  return rx::singleOf(rx::Observable<FoundApp>(
      [running, weak, app = std::move(app)](const rx::AnyObserver<FoundApp>& o) {
        auto lookup = std::make_shared<AppLookup>(o, weak, app, &AppLauncher::launchShared);
        lookup->start(running);
        return rx::Disposable::of(lookup);
      }));
}

rx::Single<LaunchedApplication> AppLauncher::launchShared(
    const std::shared_ptr<AppLauncher>& launcher, const std::shared_ptr<const IApp>& app) {
  return launcher->openApp(app, std::nullopt);
}

rx::Single<LaunchedApplication> AppLauncher::launchApp(const IApp& app) {
  return openApp(std::make_shared<const IApp>(app), std::nullopt);
}

rx::Single<LaunchedApplication> AppLauncher::reopenApp(const IApp& app) {
  return openApp(std::make_shared<const IApp>(app), std::nullopt, /*reopen=*/true);
}

rx::Single<LaunchedApplication> AppLauncher::openURLsWithApp(const IApp& app,
                                                             std::vector<base::Url> urls) {
  return openApp(std::make_shared<const IApp>(app), std::move(urls));
}

rx::Single<LaunchedApplication> AppLauncher::openApp(
    std::shared_ptr<const IApp> app, std::optional<std::vector<base::Url>> documents, bool reopen) {
  using Result = rx::Single<LaunchedApplication>;
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  // Where the bundle identifier leads, if anywhere.
  platform::Workspace* workspace = workspace_;
  auto resolve = [workspace, bundleId = app->bundleId]() -> std::optional<base::Url> {
    if (!workspace || !bundleId) return std::nullopt;
    return workspace->urlForApplication(*bundleId);
  };
  return Result::deferred([weak, shared = std::move(app), documents, resolve, reopen]() -> Result {
    auto self = weak.lock();
    if (!self) return Result::error(NilWeakSelfError{}.asError());
    const IApp& saved = *shared;
    if (saved.bundleURL) {
      return self->openAt(*saved.bundleURL, documents, reopen)
          .catchError([weak, documents, resolve, reopen](const base::Error& first) -> Result {
            const auto fallback = resolve();
            if (!fallback) return Result::error(first);
            auto launcher = weak.lock();
            if (!launcher) return Result::error(NilWeakSelfError{}.asError());
            return launcher->openAt(*fallback, documents, reopen);
          });
    }
    const auto url = resolve();
    if (!url) return Result::error(InvalidAppError{saved}.asError());
    return self->openAt(*url, documents, reopen);
  });
}

rx::Single<LaunchedApplication> AppLauncher::openAt(
    const base::Url& applicationURL, const std::optional<std::vector<base::Url>>& documents,
    bool reopen) {
  using Result = rx::Single<LaunchedApplication>;
  if (!workspace_) return Result::error(FailedToOpenApp{}.asError());
  platform::Workspace* workspace = workspace_;
  rx::Scheduler* scheduler = &scheduler_;
  const std::thread::id mainThread = mainThread_;
  return Result::create([workspace, scheduler, mainThread, applicationURL, documents,
                         reopen](const Result::SingleObserver& observer) {
    // Disposing stops the delivery; the request itself goes on.
    auto disposed = std::make_shared<bool>(false);
    auto deliver = [observer, disposed](std::optional<LaunchedApplication> launched,
                                        std::optional<base::Error> error) {
      if (*disposed) return;
      if (error) {
        observer(std::move(*error));
      } else if (!launched) {
        observer(FailedToOpenApp{}.asError());
      } else {
        observer(std::move(*launched));
      }
    };
    // The system may complete on any thread; the streams live on the main
    // thread, so the result is handed over there.
    platform::OpenCompletion completion = [deliver, scheduler, mainThread](
                                              std::optional<LaunchedApplication> launched,
                                              std::optional<base::Error> error) {
      if (std::this_thread::get_id() == mainThread) {
        deliver(std::move(launched), std::move(error));
        return;
      }
      scheduler->schedule(
          [deliver, launched = std::move(launched), error = std::move(error)]() mutable {
            deliver(std::move(launched), std::move(error));
          });
    };
    if (documents) {
      workspace->openURLs(*documents, applicationURL, std::move(completion));
    } else if (reopen) {
      workspace->reopenApplication(applicationURL, std::move(completion));
    } else {
      workspace->openApplication(applicationURL, std::move(completion));
    }
    return rx::Disposable([disposed] { *disposed = true; });
  });
}

// --- opening missing windows -----------------------------------------------------
// Opening missing windows: while an application has fewer windows than the
// layout saved, post its "New Window" keystroke, one per change of its window
// list, and wait for the list to change; an application without any window
// and without a keystroke is asked to reopen. An application this restore
// launched counts its launch as one asked window: it is not asked to reopen,
// and its keystrokes wait for its first window.

rx::Single<Windows> AppLauncher::openAppWindows(const IApp& app, std::int64_t wanted) {
  return openAppWindows(std::make_shared<const IApp>(app), wanted);
}

namespace {

// One subscription of `openAppWindows`: the lookup, then the settings as
// they are now (both as a zip of them would start), then the wait for the
// windows. It is also the state of the subscription's handle.
class WindowOpening final : public rx::Disposable::Target,
                            public std::enable_shared_from_this<WindowOpening> {
 public:
  using SharedSettings = std::shared_ptr<const AppSettingsMap>;
  using Wait = rx::Single<Windows> (*)(const std::shared_ptr<AppLauncher>& launcher,
                                       const FoundApp& found, SharedSettings settings,
                                       std::int64_t wanted, std::shared_ptr<const IApp> app);
  using Settings = base::Result<SharedSettings> (*)(const std::weak_ptr<AppLauncher>& launcher,
                                                    DefaultsStorage& storage);

  WindowOpening(rx::AnyObserver<Windows> observer, std::weak_ptr<AppLauncher> launcher,
                std::shared_ptr<const IApp> app, std::int64_t wanted, Wait wait)
      : observer_(std::move(observer)),
        launcher_(std::move(launcher)),
        app_(std::move(app)),
        wanted_(wanted),
        wait_(wait) {}

  void start(const rx::Single<FoundApp>& lookup, DefaultsStorage& storage, Settings settings) {
    auto self = shared_from_this();
    rx::Disposable found = lookup.asObservable().subscribe(
        rx::observer<FoundApp>([self](const rx::Event<FoundApp>& e) {
          if (self->stopped_ || e.isCompleted()) return;
          if (e.isError()) {
            self->fail(e.error());
            return;
          }
          self->found_ = e.element();
          self->next();
        }));
    if (stopped_) {
      found.dispose();
    } else {
      lookup_.set(std::move(found));
    }
    if (stopped_) return;
    base::Result<SharedSettings> current = settings(launcher_, storage);
    if (!current.ok()) {
      fail(current.error());
      return;
    }
    settings_ = std::move(current).value();
    settingsRead_ = true;
    next();
  }

 protected:
  void disposeOnce() override {
    stopped_ = true;
    observer_ = rx::AnyObserver<Windows>();
    lookup_.dispose();
    waiting_.dispose();
  }

 private:
  // Both are there: the wait for the windows.
  void next() {
    if (stopped_ || !found_ || !settingsRead_) return;
    stopped_ = true;
    auto launcher = launcher_.lock();
    if (!launcher) {
      const rx::AnyObserver<Windows> observer = observer_;
      observer.onNext({});
      observer.onCompleted();
      return;
    }
    waiting_.set(
        wait_(launcher, *found_, settings_, wanted_, app_).asObservable().subscribe(observer_));
  }

  void fail(const base::Error& error) {
    if (stopped_) return;
    stopped_ = true;
    const rx::AnyObserver<Windows> observer = observer_;
    observer.onError(error);
  }

  rx::AnyObserver<Windows> observer_;
  std::weak_ptr<AppLauncher> launcher_;
  std::shared_ptr<const IApp> app_;
  std::int64_t wanted_;
  Wait wait_;
  rx::SerialSlot lookup_;
  rx::SerialSlot waiting_;
  std::optional<FoundApp> found_;
  SharedSettings settings_;
  bool settingsRead_ = false;
  bool stopped_ = false;
};

}  // namespace

base::Result<std::shared_ptr<const AppSettingsMap>> AppLauncher::currentSettings(
    const std::weak_ptr<AppLauncher>& launcher, DefaultsStorage& storage) {
  // The settings as the settings stream would give them first: the current
  // ones, shared rather than copied at every step.
  if (auto self = launcher.lock()) return self->settings_->current(storage);
  base::Result<AppSettingsMap> current = storage.appSettingsSubject().value();
  if (!current.ok()) return current.error();
  return std::make_shared<const AppSettingsMap>(std::move(current).value());
}

rx::Single<Windows> AppLauncher::waitForFound(const std::shared_ptr<AppLauncher>& launcher,
                                              const FoundApp& found,
                                              std::shared_ptr<const AppSettingsMap> settings,
                                              std::int64_t wanted,
                                              std::shared_ptr<const IApp> app) {
  // The wait starts now: what `waitForWindows` would do once subscribed.
  return launcher->waitingFor(found.application, found.launched, settings, wanted, app);
}

rx::Single<Windows> AppLauncher::openAppWindows(std::shared_ptr<const IApp> app,
                                                std::int64_t wanted) {
  const rx::Single<FoundApp> lookup = findOrLaunchApp(app);
  return rx::singleOf(
      rx::Observable<Windows>([lookup, weak = weak_from_this(), storage = storage_,
                               app = std::move(app), wanted](const rx::AnyObserver<Windows>& o) {
        auto opening =
            std::make_shared<WindowOpening>(o, weak, app, wanted, &AppLauncher::waitForFound);
        opening->start(lookup, *storage, &AppLauncher::currentSettings);
        return rx::Disposable::of(opening);
      }));
}

// The waits for windows under way, each told of the creations, destructions
// and title changes of its application's windows, in the order the waits
// started. One subscription per event type serves them all while any is
// registered, so that an event costs one look-up of its window's
// application rather than one per wait.
class AppLauncher::WindowWatch {
 public:
  class Watcher {
   public:
    virtual ~Watcher() = default;
    virtual void windowsChanged() = 0;
  };

  explicit WindowWatch(RxEventNotifier& notifier) : notifier_(notifier) {}
  ~WindowWatch() { unsubscribe(); }
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  std::uint64_t add(const winsys::Application& application, std::shared_ptr<Watcher> watcher) {
    const std::uint64_t key = nextKey_++;
    entries_.push_back({key, application.identity(), std::move(watcher)});
    if (entries_.size() == 1) {
      created_ = follow<winsys::WindowCreatedEvent>();
      destroyed_ = follow<winsys::WindowDestroyedEvent>();
      retitled_ = follow<winsys::WindowTitleChangedEvent>();
    }
    return key;
  }
  void remove(std::uint64_t key) {
    std::erase_if(entries_, [key](const Entry& entry) { return entry.key == key; });
    if (entries_.empty()) unsubscribe();
  }

 private:
  struct Entry {
    std::uint64_t key;
    std::uint64_t application;
    std::shared_ptr<Watcher> watcher;
  };

  template <class E>
  rx::Disposable follow() {
    return notifier_.onEach<E>([this](const E& e) { changed(e.window); });
  }
  void changed(const WindowPtr& window) {
    if (!window) return;
    const ApplicationPtr owner = window->application();
    if (!owner) return;
    const std::uint64_t identity = owner->identity();
    // The waits to tell, taken first: a wait that ends meanwhile ignores
    // what it is told. Mostly there is one.
    std::shared_ptr<Watcher> first;
    std::vector<std::shared_ptr<Watcher>> more;
    for (const auto& entry : entries_) {
      if (entry.application != identity) continue;
      if (!first) {
        first = entry.watcher;
      } else {
        more.push_back(entry.watcher);
      }
    }
    if (first) first->windowsChanged();
    for (const auto& watcher : more)
      watcher->windowsChanged();
  }
  void unsubscribe() {
    created_.dispose();
    destroyed_.dispose();
    retitled_.dispose();
  }

  RxEventNotifier& notifier_;
  std::vector<Entry> entries_;
  std::uint64_t nextKey_ = 0;
  rx::Disposable created_;
  rx::Disposable destroyed_;
  rx::Disposable retitled_;
};

namespace {

// Posts key down then key up of the keystroke to the application's process.
// A key the keyboard cannot make is skipped.
void postKeys(platform::Keyboard* keyboard, const IShortcut& shortcut,
              const ApplicationPtr& application) {
  if (!keyboard || !application) return;
  const std::int32_t pid = application->processIdentifier();
  for (bool down : {true, false})
    (void)keyboard->post(platform::Keystroke{pid, shortcut.key, shortcut.flagsValue, down});
}

// One subscription of `waitForWindows`. Each change of the application's
// window list that changes its count starts a step that replaces the one
// before it (its timers are cancelled): ask for one more window and hand the
// list on `kNewWindowWait` later, or hand the list on at once. The first
// non-empty list handed on ends the wait. It is also the state of the
// subscription's handle.
class WindowWait final : public rx::Disposable::Target,
                         public AppLauncher::WindowWatch::Watcher,
                         public std::enable_shared_from_this<WindowWait> {
 public:
  struct Setup {
    std::weak_ptr<AppLauncher> launcher;
    ApplicationPtr application;
    bool launched = false;
    std::int64_t wanted = 0;
    std::shared_ptr<const IApp> app;
    std::optional<IShortcut> shortcut;
    platform::Keyboard* keyboard = nullptr;
    rx::Scheduler* scheduler = nullptr;
  };

  WindowWait(Setup setup, rx::AnyObserver<Windows> observer)
      : setup_(std::move(setup)), observer_(std::move(observer)) {
    // The launch asked for the program's first window: it is not asked to
    // reopen while that window is on its way.
    if (setup_.launched) counters_.asked = 1;
  }
  // The timers' actions refer to the wait: they go first.
  ~WindowWait() override { step_.dispose(); }

  // Follows creations, destructions and title changes of the application's
  // windows, then looks at the list as it is now. A list that ends the wait
  // at once needs nothing followed: nothing that follows could change the
  // outcome.
  static void start(const std::shared_ptr<WindowWait>& self,
                    const std::shared_ptr<AppLauncher::WindowWatch>& watch) {
    Windows windows = self->setup_.application->knownWindows();
    if (self->endsAtOnce(windows)) {
      self->changed(std::move(windows));
      return;
    }
    self->watch_ = watch;
    self->watchKey_ = watch->add(*self->setup_.application, self);
    self->changed(std::move(windows));
  }

  void windowsChanged() override {
    if (!ended_) changed(setup_.application->knownWindows());
  }

 protected:
  void disposeOnce() override {
    ended_ = true;
    observer_ = rx::AnyObserver<Windows>();
    if (watchKey_) {
      if (auto watch = watch_.lock()) watch->remove(*watchKey_);
      watchKey_.reset();
    }
    step_.dispose();
    reopen_.dispose();
  }

 private:
  // Whether the first list is handed on at once and ends the wait: it has
  // windows and its step asks for none.
  bool endsAtOnce(const Windows& windows) const {
    if (windows.empty()) return false;
    if (setup_.launcher.expired()) return true;
    const auto count = static_cast<std::int64_t>(windows.size());
    const std::int64_t asked = std::max(counters_.asked, count);
    return !(count < setup_.wanted && setup_.shortcut && asked < setup_.wanted);
  }

  // The window list now; a step when its count changed.
  void changed(Windows windows) {
    if (ended_) return;
    const auto count = static_cast<std::int64_t>(windows.size());
    if (count == counters_.lastCount) return;
    counters_.lastCount = count;
    counters_.asked = std::max(counters_.asked, count);
    const std::uint64_t id = ++latest_;
    // The previous step ends here.
    step_.set(rx::Disposable());
    reopen_.set(rx::Disposable());
    startStep(id, std::move(windows));
  }

  void startStep(std::uint64_t id, Windows windows) {
    auto launcher = setup_.launcher.lock();
    if (!launcher) {
      handOn(windows);
      return;
    }
    const auto count = static_cast<std::int64_t>(windows.size());
    const std::int64_t wanted = setup_.wanted;
    // A program this restore launched has no window to take a keystroke
    // yet; its launch is its one asked window.
    if (count < wanted && setup_.shortcut && counters_.asked < wanted &&
        !(setup_.launched && count == 0)) {
      ++counters_.opened;
      ++counters_.asked;
      pending_ = std::move(windows);
      if (!setup_.launched) {
        keystroke(id);
        return;
      }
      // A launched program needs time to take keyboard input.
      step_.set(setup_.scheduler->scheduleAfter(kLaunchedKeystrokeDelay, [this, id] {
        if (latest_ == id) keystroke(id);
      }));
      return;
    }
    if (count >= 1) {
      handOn(windows);
      return;
    }
    if (counters_.asked <= 0) {
      ++counters_.opened;
      ++counters_.asked;
      pending_ = std::move(windows);
      auto self = shared_from_this();
      rx::Disposable reopen = launcher->reopenApp(*setup_.app)
                                  .asObservable()
                                  .subscribe(rx::observer<LaunchedApplication>(
                                      [self, id](const rx::Event<LaunchedApplication>& e) {
                                        if (self->ended_ || self->latest_ != id) return;
                                        if (e.isNext()) {
                                          self->waitThenHandOn(id);
                                        } else if (e.isError()) {
                                          self->fail(e.error());
                                        }
                                      }));
      // A later step may have started meanwhile.
      if (latest_ == id) {
        reopen_.set(std::move(reopen));
      } else {
        reopen.dispose();
      }
      return;
    }
    handOn(windows);
  }

  // Posts the keystroke, then waits for the list to change.
  void keystroke(std::uint64_t id) {
    postKeys(setup_.keyboard, *setup_.shortcut, setup_.application);
    if (ended_ || latest_ != id) return;
    waitThenHandOn(id);
  }

  // The list of the step again after the wait, unless it changed meanwhile.
  void waitThenHandOn(std::uint64_t id) {
    step_.set(setup_.scheduler->scheduleAfter(kNewWindowWait, [this, id] {
      if (ended_ || latest_ != id) return;
      const Windows windows = std::move(pending_);
      pending_.clear();
      handOn(windows);
    }));
  }

  // A list a step hands on: the report of too many windows, then the end of
  // the wait unless it is empty.
  void handOn(const Windows& windows) {
    if (ended_) return;
    reportTooManyWindows(windows, setup_.wanted, counters_.opened);
    if (windows.empty()) return;
    ended_ = true;
    const rx::AnyObserver<Windows> observer = observer_;
    observer.onNext(windows);
    observer.onCompleted();
  }

  void fail(const base::Error& error) {
    if (ended_) return;
    ended_ = true;
    const rx::AnyObserver<Windows> observer = observer_;
    observer.onError(error);
  }

  Setup setup_;
  rx::AnyObserver<Windows> observer_;
  WindowCounters counters_;
  std::weak_ptr<AppLauncher::WindowWatch> watch_;
  std::optional<std::uint64_t> watchKey_;
  // The current step's timer or reopen request, and its list.
  rx::SerialSlot step_;
  rx::SerialSlot reopen_;
  Windows pending_;
  std::uint64_t latest_ = 0;
  bool ended_ = false;
};

}  // namespace

rx::Single<Windows> AppLauncher::waitForWindows(ApplicationPtr application, bool launched,
                                                std::shared_ptr<const AppSettingsMap> settings,
                                                std::int64_t wanted,
                                                std::shared_ptr<const IApp> app) {
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  return rx::Single<Windows>::deferred([weak, application, launched, settings = std::move(settings),
                                        wanted, app = std::move(app)]() -> rx::Single<Windows> {
    auto self = weak.lock();
    if (!self) return rx::Single<Windows>::just({});
    return self->waitingFor(application, launched, settings, wanted, app);
  });
}

rx::Single<Windows> AppLauncher::waitingFor(const ApplicationPtr& application, bool launched,
                                            const std::shared_ptr<const AppSettingsMap>& settings,
                                            std::int64_t wanted,
                                            const std::shared_ptr<const IApp>& app) {
  if (!application) return rx::Single<Windows>::just({});
  const std::optional<std::string> bundleId = application->bundleIdentifier();
  WindowWait::Setup setup{
      .launcher = weak_from_this(),
      .application = application,
      .launched = launched,
      .wanted = wanted,
      .app = app,
      .shortcut = bundleId
                      ? newWindowShortcut(settings ? *settings : kNoSettings, *bundleId, aliases())
                      : std::nullopt,
      .keyboard = keyboard_,
      .scheduler = &scheduler_,
  };
  RxEventNotifier& notifier = windowsProvider_->notifier();
  if (!windowWatch_) windowWatch_ = std::make_shared<WindowWatch>(notifier);
  return rx::singleOf(rx::Observable<Windows>(
      [setup = std::move(setup), watch = windowWatch_](const rx::AnyObserver<Windows>& o) {
        auto wait = std::make_shared<WindowWait>(setup, o);
        WindowWait::start(wait, watch);
        return rx::Disposable::of(wait);
      }));
}

rx::Observable<Unit> AppLauncher::postShortcut(IShortcut shortcut,
                                               const ApplicationPtr& application) {
  platform::Keyboard* keyboard = keyboard_;
  return rx::Observable<Unit>::deferred([keyboard, shortcut, application] {
    postKeys(keyboard, shortcut, application);
    return rx::Observable<Unit>::just({});
  });
}

}  // namespace wendrix

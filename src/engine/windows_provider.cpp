#include "engine/windows_provider.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/shared_slot.h"
#include "engine/capture.h"
#include "rx/hand_written.h"
#include "winsys/events.h"
#include "winsys/promise_single.h"

namespace wendrix {

using winsys::ApplicationPtr;
using winsys::StatePtr;
using winsys::WindowPtr;

namespace {

// Delay of the access check that follows an access notification.
constexpr auto kRecheckDelay = std::chrono::milliseconds(100);

// What the shared instance is made from (main thread only).
struct SharedConfiguration {
  winsys::WindowSystem* windowSystem = nullptr;
  winsys::AccessibilityTrust* trust = nullptr;
  const platform::BundleProvider* bundles = nullptr;
  rx::Scheduler* scheduler = nullptr;
};

SharedConfiguration& sharedConfiguration() {
  static SharedConfiguration configuration;
  return configuration;
}

base::SharedSlot<WindowsProvider>& sharedSlot() {
  static base::SharedSlot<WindowsProvider> slot;
  return slot;
}

// A value that a property list would read as the integer 1: the number 1 or
// the boolean true.
bool readsAsOne(const coding::Value& value) {
  if (const auto* b = value.getIf<bool>()) return *b;
  if (const auto* i = value.getIf<std::int64_t>()) return *i == 1;
  if (const auto* u = value.getIf<std::uint64_t>()) return *u == 1;
  if (const auto* d = value.getIf<double>()) return *d == 1.0;
  return false;
}

bool isRegularApp(const platform::BundleProvider& bundles, const winsys::Application& app) {
  if (auto bundle = bundleOfApplication(bundles, app)) {
    const coding::Value* agent = bundle->info.find(platform::kUIElementKey);
    if (agent && readsAsOne(*agent)) return false;
  }
  if (app.isHidden()) return false;
  return !app.knownWindows().empty();
}

// A stream that holds `stream` for as long as a copy of it exists or one of
// its subscriptions is live.
template <class T>
rx::Observable<T> holding(std::shared_ptr<const rx::Observable<T>> stream) {
  return rx::Observable<T>([stream](const rx::AnyObserver<T>& o) {
    return stream->subscribe(rx::AnyObserver<T>([stream, o](const rx::Event<T>& e) { o.on(e); }));
  });
}

// One connection of an application's stream: the latest of the tracking
// stream `keep` and of the application, once both have a value (as
// combineLatest gives them); the application comes from the first list of
// the running applications, then from `later`. It is also the state of the
// connection's handle.
class AppFollower final : public rx::Disposable::Target {
 public:
  explicit AppFollower(rx::AnyObserver<ApplicationPtr> observer) : observer_(std::move(observer)) {}

  static void start(const std::shared_ptr<AppFollower>& self, const rx::Observable<rx::Unit>& keep,
                    const rx::Observable<ApplicationList>& running,
                    const rx::Observable<ApplicationPtr>& later,
                    const std::shared_ptr<const std::string>& id) {
    self->keep_.set(keep.subscribe(rx::observer<rx::Unit>([self](const rx::Event<rx::Unit>& e) {
      if (e.isNext()) {
        self->kept_ = true;
        if (self->app_) self->emit();
      } else {
        self->stopped(e.isError() ? &e.error() : nullptr);
      }
    })));
    if (self->ended_) return;
    auto subscribeLater = [self, later] {
      self->running_.dispose();
      self->later_.set(
          later.subscribe(rx::observer<ApplicationPtr>([self](const rx::Event<ApplicationPtr>& e) {
            if (e.isNext()) {
              self->value(e.element());
            } else {
              self->stopped(e.isError() ? &e.error() : nullptr);
            }
          })));
    };
    rx::Disposable first = running.subscribe(rx::observer<ApplicationList>(
        [self, id, subscribeLater](const rx::Event<ApplicationList>& e) {
          if (self->listed_) return;
          self->listed_ = true;
          if (e.isError()) {
            self->stopped(&e.error());
            return;
          }
          if (e.isNext()) {
            ApplicationPtr found;
            for (const auto& app : e.element()) {
              if (app && app->bundleIdentifier() == *id) {
                found = app;
                break;
              }
            }
            self->value(found);
          }
          if (!self->ended_) subscribeLater();
        }));
    // The first list may have come already.
    if (self->listed_) {
      first.dispose();
    } else {
      self->running_.set(std::move(first));
    }
  }

 protected:
  void disposeOnce() override {
    ended_ = true;
    observer_ = rx::AnyObserver<ApplicationPtr>();
    keep_.dispose();
    running_.dispose();
    later_.dispose();
  }

 private:
  void value(const ApplicationPtr& app) {
    if (ended_) return;
    app_ = app;
    if (kept_) emit();
  }
  void emit() {
    const rx::AnyObserver<ApplicationPtr> observer = observer_;
    observer.onNext(*app_);
  }
  // An error ends the stream; a completion is kept until both sources ended.
  void stopped(const base::Error* error) {
    if (ended_) return;
    if (!error && ++completed_ < 2) return;
    ended_ = true;
    const rx::AnyObserver<ApplicationPtr> observer = observer_;
    if (error) {
      observer.onError(*error);
    } else {
      observer.onCompleted();
    }
  }

  rx::AnyObserver<ApplicationPtr> observer_;
  rx::SerialSlot keep_;
  rx::SerialSlot running_;
  rx::SerialSlot later_;
  std::optional<ApplicationPtr> app_;
  bool listed_ = false;
  bool kept_ = false;
  int completed_ = 0;
  bool ended_ = false;
};

}  // namespace

struct WindowsProvider::AppCaches {
  using Subject = rx::PublishSubject<ApplicationPtr>;
  using Stream = rx::Observable<ApplicationPtr>;

  // Both hold their values weakly: an entry lives while something else holds
  // its value.
  std::map<std::string, std::weak_ptr<Subject>, std::less<>> subjects;
  std::map<std::string, std::weak_ptr<const Stream>, std::less<>> listeners;

  void prune() {
    std::erase_if(subjects, [](const auto& entry) { return entry.second.expired(); });
    std::erase_if(listeners, [](const auto& entry) { return entry.second.expired(); });
  }
};

WindowsProvider::WindowsProvider(winsys::WindowSystem& windowSystem,
                                 winsys::AccessibilityTrust& trust,
                                 const platform::BundleProvider& bundles, rx::Scheduler& scheduler)
    : windowSystem_(windowSystem),
      trust_(trust),
      bundles_(bundles),
      scheduler_(scheduler),
      caches_(std::make_shared<AppCaches>()) {}

WindowsProvider::~WindowsProvider() = default;

std::shared_ptr<WindowsProvider> WindowsProvider::shared() {
  return sharedSlot().getOrMake([] {
    const auto& configuration = sharedConfiguration();
    if (!configuration.windowSystem) {
      std::fputs("WindowsProvider::shared() used before configureShared()\n", stderr);
      std::abort();
    }
    return std::make_shared<WindowsProvider>(*configuration.windowSystem, *configuration.trust,
                                             *configuration.bundles, *configuration.scheduler);
  });
}

void WindowsProvider::configureShared(winsys::WindowSystem& windowSystem,
                                      winsys::AccessibilityTrust& trust,
                                      const platform::BundleProvider& bundles,
                                      rx::Scheduler& scheduler) {
  sharedConfiguration() = SharedConfiguration{&windowSystem, &trust, &bundles, &scheduler};
  sharedSlot().exchange(nullptr);
}

void WindowsProvider::setSharedForTesting(std::shared_ptr<WindowsProvider> instance) {
  if (!instance) sharedConfiguration() = SharedConfiguration{};
  sharedSlot().exchange(std::move(instance));
}

std::shared_ptr<RxEventNotifier> WindowsProvider::notifierPtr() {
  if (!notifier_) notifier_ = std::make_shared<RxEventNotifier>();
  return notifier_;
}

RxEventNotifier& WindowsProvider::notifier() {
  return *notifierPtr();
}

rx::Observable<bool> WindowsProvider::accessibilityAccessStream() {
  if (accessibilityAccess_) return *accessibilityAccess_;
  winsys::AccessibilityTrust& trust = trust_;
  rx::Scheduler& scheduler = scheduler_;
  accessibilityAccess_ =
      rx::Observable<bool>::create([&trust, &scheduler](const rx::AnyObserver<bool>& o) {
        o.onNext(trust.checkIsProcessTrusted(true));
        // Pending re-checks; disposing the subscription cancels them, so that
        // none runs or emits after it.
        rx::CompositeDisposable rechecks;
        const auto token = trust.addChangeObserver([&trust, &scheduler, o, rechecks] {
          auto key = std::make_shared<std::optional<rx::CompositeDisposable::Key>>();
          rx::Disposable timer = scheduler.scheduleAfter(kRecheckDelay, [&trust, o, rechecks, key] {
            if (*key) rechecks.remove(**key);
            o.onNext(trust.checkIsProcessTrusted(false));
          });
          *key = rechecks.insert(timer);
        });
        return rx::Disposable([&trust, token, rechecks] {
          trust.removeChangeObserver(token);
          rechecks.dispose();
        });
      }).share(1, rx::SubjectLifetimeScope::forever);
  return *accessibilityAccess_;
}

rx::Observable<StatePtr> WindowsProvider::swindlerStream() {
  if (swindler_) return *swindler_;
  winsys::WindowSystem* windowSystem = &windowSystem_;
  auto notifier = notifierPtr();
  swindler_ = accessibilityAccessStream()
                  .flatMapLatest([windowSystem, notifier](bool granted) {
                    if (!granted) return rx::Observable<StatePtr>::never();
                    // Disposal drops the result but lets the initialization
                    // finish.
                    return rx::Observable<StatePtr>::deferred([windowSystem, notifier] {
                      return winsys::toSingle(windowSystem->initialize(*notifier)).asObservable();
                    });
                  })
                  .share(1, rx::SubjectLifetimeScope::forever);
  return *swindler_;
}

rx::Observable<ApplicationList> WindowsProvider::makeListStream(
    std::vector<std::string_view> eventTypes, bool filtered) {
  const rx::Observable<rx::Unit> changes =
      notifier().mergedEvents(eventTypes).startWith(rx::Unit{});
  const platform::BundleProvider* bundles = &bundles_;
  return swindlerStream()
      .flatMapLatest([changes, bundles, filtered](const StatePtr& state) {
        return changes.map([state, bundles, filtered](const rx::Unit&) {
          ApplicationList apps;
          if (state) apps = state->runningApplications();
          if (filtered) {
            std::erase_if(apps, [bundles](const ApplicationPtr& app) {
              return !app || !isRegularApp(*bundles, *app);
            });
          }
          return apps;
        });
      })
      .share(1, rx::SubjectLifetimeScope::whileConnected);
}

rx::Observable<ApplicationList> WindowsProvider::runningApplicationsStream() {
  if (!runningApplications_) {
    runningApplications_ = makeListStream(
        {winsys::ApplicationLaunchedEvent::typeName, winsys::ApplicationTerminatedEvent::typeName},
        false);
  }
  return *runningApplications_;
}

rx::Observable<ApplicationList> WindowsProvider::appsWithWindowsStream() {
  if (!appsWithWindows_) {
    appsWithWindows_ = makeListStream(
        {winsys::WindowCreatedEvent::typeName, winsys::WindowDestroyedEvent::typeName,
         winsys::ApplicationLaunchedEvent::typeName, winsys::ApplicationTerminatedEvent::typeName,
         winsys::ApplicationIsHiddenChangedEvent::typeName},
        true);
  }
  return *appsWithWindows_;
}

rx::Observable<ApplicationList> WindowsProvider::appsIncludingWindowsStream() {
  if (!appsIncludingWindows_) {
    appsIncludingWindows_ = makeListStream(
        {winsys::WindowCreatedEvent::typeName, winsys::WindowDestroyedEvent::typeName,
         winsys::ApplicationMainWindowChangedEvent::typeName,
         winsys::ApplicationFocusedWindowChangedEvent::typeName,
         winsys::ApplicationLaunchedEvent::typeName, winsys::ApplicationTerminatedEvent::typeName,
         winsys::ApplicationIsHiddenChangedEvent::typeName,
         winsys::WindowMinimizedChangedEvent::typeName, winsys::WindowTitleChangedEvent::typeName,
         winsys::WindowFrameChangedEvent::typeName},
        true);
  }
  return *appsIncludingWindows_;
}

bool WindowsProvider::isRegularAppWithWindows(const winsys::Application& application) const {
  return isRegularApp(bundles_, application);
}

rx::Observable<rx::Unit> WindowsProvider::makeTrackingStream(bool launched) {
  std::weak_ptr<AppCaches> weakCaches = caches_;
  // Sends `value` to the subject of the application's identifier, when the
  // provider still exists and a stream of that identifier is held.
  auto tell = [weakCaches](const ApplicationPtr& app, const ApplicationPtr& value) {
    if (!app) return;
    const auto id = app->bundleIdentifier();
    if (!id) return;
    auto caches = weakCaches.lock();
    if (!caches) return;
    auto it = caches->subjects.find(*id);
    if (it == caches->subjects.end()) return;
    if (auto subject = it->second.lock()) subject->onNext(value);
  };
  if (launched) {
    return notifier().observable<winsys::ApplicationLaunchedEvent>().map(
        [tell](const winsys::ApplicationLaunchedEvent& e) {
          tell(e.application, e.application);
          return rx::Unit{};
        });
  }
  return notifier().observable<winsys::ApplicationTerminatedEvent>().map(
      [tell](const winsys::ApplicationTerminatedEvent& e) {
        tell(e.application, nullptr);
        return rx::Unit{};
      });
}

rx::Observable<rx::Unit> WindowsProvider::appLaunchedStream() {
  if (!appLaunched_) appLaunched_ = makeTrackingStream(true);
  return *appLaunched_;
}

rx::Observable<rx::Unit> WindowsProvider::appTerminatedStream() {
  if (!appTerminated_) appTerminated_ = makeTrackingStream(false);
  return *appTerminated_;
}

rx::Observable<rx::Unit> WindowsProvider::keepAppsUpdatedStream() {
  if (!keepAppsUpdated_) {
    keepAppsUpdated_ = rx::Observable<rx::Unit>::merge({appLaunchedStream(), appTerminatedStream()})
                           .filter([](const rx::Unit&) { return false; })
                           .startWith(rx::Unit{})
                           .share(1, rx::SubjectLifetimeScope::whileConnected);
  }
  return *keepAppsUpdated_;
}

rx::Observable<ApplicationPtr> WindowsProvider::application(const std::string& bundleIdentifier) {
  caches_->prune();
  if (auto it = caches_->listeners.find(bundleIdentifier); it != caches_->listeners.end()) {
    if (auto held = it->second.lock()) return holding(std::move(held));
  }

  auto subject = std::make_shared<AppCaches::Subject>();
  caches_->subjects.insert_or_assign(bundleIdentifier, subject);

  // While the launches and terminations are followed: the application from
  // the running applications once, then what the subject is told.
  auto stream = std::make_shared<const AppCaches::Stream>(
      rx::Observable<ApplicationPtr>([keep = keepAppsUpdatedStream(),
                                      running = runningApplicationsStream(), subject,
                                      id = std::make_shared<const std::string>(bundleIdentifier)](
                                         const rx::AnyObserver<ApplicationPtr>& o) {
        auto follower = std::make_shared<AppFollower>(o);
        AppFollower::start(follower, keep, running, subject->asObservable(), id);
        return rx::Disposable::of(follower);
      }).share(1, rx::SubjectLifetimeScope::whileConnected));
  caches_->listeners.insert_or_assign(bundleIdentifier, stream);
  return holding<ApplicationPtr>(std::move(stream));
}

std::size_t WindowsProvider::heldApplicationStreams() const {
  return static_cast<std::size_t>(
      std::count_if(caches_->listeners.begin(), caches_->listeners.end(),
                    [](const auto& entry) { return !entry.second.expired(); }));
}

void WindowsProvider::warmUp() {
  swindlerStream().take(1).subscribe().disposed(disposeBag_);
}

rx::Observable<std::vector<WindowPtr>> knownWindowsStream(RxEventNotifier& notifier,
                                                          const ApplicationPtr& application) {
  using WindowList = std::vector<WindowPtr>;
  if (!application) return rx::Observable<WindowList>::just(WindowList());
  auto ofApplication = [application](const WindowPtr& window) {
    return window && winsys::sameApplication(window->application(), application);
  };
  auto changes = [&notifier, ofApplication]<class E>() {
    return notifier.signals<E>([ofApplication](const E& e) { return ofApplication(e.window); });
  };
  return rx::Observable<rx::Unit>::merge({
                                             changes.operator()<winsys::WindowCreatedEvent>(),
                                             changes.operator()<winsys::WindowDestroyedEvent>(),
                                             changes.operator()<winsys::WindowTitleChangedEvent>(),
                                             rx::Observable<rx::Unit>::just(rx::Unit{}),
                                         })
      .map([application](const rx::Unit&) { return application->knownWindows(); });
}

}  // namespace wendrix

#include "engine/app_launcher.h"

#include <algorithm>
#include <memory>
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

AppLauncher::AppLauncher(AppLauncherContext context)
    : windowsProvider_(std::move(context.windowsProvider)),
      storage_(std::move(context.storage)),
      scheduler_(*context.scheduler),
      workspace_(context.workspace),
      keyboard_(context.keyboard),
      aliases_(context.aliases ? std::move(context.aliases)
                               : std::make_shared<const BundleIdAliases>()),
      mainThread_(std::this_thread::get_id()) {}

// --- finding and launching --------------------------------------------------------

rx::Single<FoundApp> AppLauncher::findOrLaunchApp(const IApp& app) {
  if (!app.bundleId) return rx::Single<FoundApp>::error(InvalidAppError{app}.asError());
  const rx::Observable<ApplicationPtr> running = windowsProvider_->application(*app.bundleId);
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  auto shared = std::make_shared<const IApp>(app);
  const rx::Single<bool> launch =
      running.take(1).asSingle().flatMap([weak, shared](const ApplicationPtr& found) {
        if (!found) {
          if (auto self = weak.lock()) {
            return self->launchApp(*shared).map([](const LaunchedApplication&) { return true; });
          }
        }
        return rx::Single<bool>::just(false);
      });
  const rx::Single<ApplicationPtr> ready =
      running.skipWhile([](const ApplicationPtr& a) { return a == nullptr; }).take(1).asSingle();
  return rx::zip(ready, launch, [](const ApplicationPtr& application, bool launched) {
    return FoundApp{application, launched};
  });
}

rx::Single<LaunchedApplication> AppLauncher::launchApp(const IApp& app) {
  return openApp(app, std::nullopt);
}

rx::Single<LaunchedApplication> AppLauncher::reopenApp(const IApp& app) {
  return openApp(app, std::nullopt, /*reopen=*/true);
}

rx::Single<LaunchedApplication> AppLauncher::openURLsWithApp(const IApp& app,
                                                             std::vector<base::Url> urls) {
  return openApp(app, std::move(urls));
}

rx::Single<LaunchedApplication> AppLauncher::openApp(
    const IApp& app, std::optional<std::vector<base::Url>> documents, bool reopen) {
  using Result = rx::Single<LaunchedApplication>;
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  // Where the bundle identifier leads, if anywhere.
  platform::Workspace* workspace = workspace_;
  auto resolve = [workspace, bundleId = app.bundleId]() -> std::optional<base::Url> {
    if (!workspace || !bundleId) return std::nullopt;
    return workspace->urlForApplication(*bundleId);
  };
  auto shared = std::make_shared<const IApp>(app);
  return Result::deferred([weak, shared, documents, resolve, reopen]() -> Result {
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
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  auto shared = std::make_shared<const IApp>(app);
  // The settings as the settings stream would give them first: the current
  // ones when subscribed. Read once and shared from here on rather than
  // copied at every step.
  using SharedSettings = std::shared_ptr<const AppSettingsMap>;
  std::shared_ptr<DefaultsStorage> storage = storage_;
  auto settings = rx::Single<SharedSettings>::deferred([storage] {
    base::Result<AppSettingsMap> current = storage->appSettingsSubject().value();
    if (!current.ok()) return rx::Single<SharedSettings>::error(current.error());
    return rx::Single<SharedSettings>::just(
        std::make_shared<const AppSettingsMap>(std::move(current).value()));
  });
  using Found = std::tuple<FoundApp, SharedSettings>;
  return rx::zip(findOrLaunchApp(app), settings)
      .flatMap([weak, shared, wanted](const Found& found) {
        auto self = weak.lock();
        if (!self) return rx::Single<Windows>::just({});
        const auto& [running, appSettings] = found;
        return self->waitForWindows(running.application, running.launched, appSettings, wanted,
                                    shared);
      });
}

rx::Single<Windows> AppLauncher::waitForWindows(ApplicationPtr application, bool launched,
                                                std::shared_ptr<const AppSettingsMap> settings,
                                                std::int64_t wanted,
                                                std::shared_ptr<const IApp> app) {
  std::weak_ptr<AppLauncher> weak = weak_from_this();
  return rx::Single<Windows>::deferred([weak, application, launched, settings = std::move(settings),
                                        wanted, app = std::move(app)]() -> rx::Single<Windows> {
    auto self = weak.lock();
    if (!self || !application) return rx::Single<Windows>::just({});
    auto counters = std::make_shared<WindowCounters>();
    // The launch asked for the program's first window: it is not asked to
    // reopen while that window is on its way.
    if (launched) counters->asked = 1;
    const std::optional<std::string> bundleId = application->bundleIdentifier();
    const std::optional<IShortcut> shortcut =
        bundleId ? newWindowShortcut(settings ? *settings : kNoSettings, *bundleId, self->aliases())
                 : std::nullopt;
    rx::Scheduler* scheduler = &self->scheduler_;

    // One step per window list let through: ask for one more window, or
    // hand the list on.
    auto openMissingWindows = [weak, application, launched, wanted, app, counters, shortcut,
                               scheduler](const Windows& windows) -> rx::Observable<Windows> {
      using Lists = rx::Observable<Windows>;
      auto launcher = weak.lock();
      if (!launcher) return Lists::just(windows);
      const auto count = static_cast<std::int64_t>(windows.size());
      // The list again after the wait; made only on the paths that wait, and
      // sharing one copy of the list however often the step is copied.
      const auto later = [&windows, scheduler] {
        return [shared = std::make_shared<const Windows>(windows), scheduler](const auto&) {
          return Lists::just(*shared).delay(kNewWindowWait, *scheduler);
        };
      };
      // A program this restore launched has no window to take a keystroke
      // yet; its launch is its one asked window.
      if (count < wanted && shortcut && counters->asked < wanted && !(launched && count == 0)) {
        ++counters->opened;
        ++counters->asked;
        rx::Observable<Unit> post = launcher->postShortcut(*shortcut, application);
        if (launched) post = post.delaySubscription(kLaunchedKeystrokeDelay, *scheduler);
        return post.take(1).concatMap(later());
      }
      if (count >= 1) return Lists::just(windows);
      if (counters->asked <= 0) {
        ++counters->opened;
        ++counters->asked;
        return launcher->reopenApp(*app).asObservable().concatMap(later());
      }
      return Lists::just(windows);
    };

    return knownWindowsStream(self->windowsProvider_->notifier(), application)
        .filter([counters](const Windows& windows) {
          const auto count = static_cast<std::int64_t>(windows.size());
          if (count == counters->lastCount) return false;
          counters->lastCount = count;
          counters->asked = std::max(counters->asked, count);
          return true;
        })
        .flatMapLatest(openMissingWindows)
        .doOn({.onNext =
                   [wanted, counters](const Windows& windows) {
                     reportTooManyWindows(windows, wanted, counters->opened);
                   }})
        .filter([](const Windows& windows) { return !windows.empty(); })
        .take(1)
        .asSingle();
  });
}

rx::Observable<Unit> AppLauncher::postShortcut(IShortcut shortcut,
                                               const ApplicationPtr& application) {
  platform::Keyboard* keyboard = keyboard_;
  return rx::Observable<Unit>::deferred([keyboard, shortcut, application] {
    if (keyboard && application) {
      const std::int32_t pid = application->processIdentifier();
      for (bool down : {true, false}) {
        // A key the keyboard cannot make is skipped.
        (void)keyboard->post(platform::Keystroke{pid, shortcut.key, shortcut.flagsValue, down});
      }
    }
    return rx::Observable<Unit>::just({});
  });
}

}  // namespace wendrix

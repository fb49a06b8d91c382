// Restoring one application: through its addon, or by finding or launching
// it, opening its missing windows and pairing them with the saved ones; and
// launching applications or handing them documents.

#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "analytics/track.h"
#include "engine/actions.h"
#include "engine/addon_restore.h"
#include "engine/capture.h"
#include "engine/display_matching.h"
#include "engine/restore_errors.h"
#include "engine/windows_provider.h"
#include "platform/workspace/workspace.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/scheduler.h"
#include "rx/single.h"

namespace wendrix {

using platform::LaunchedApplication;
using rx::Unit;
using winsys::ApplicationPtr;
using winsys::WindowPtr;

rx::Single<MatchedWindows> Actions::restoreApp(const IApp& app) {
  std::weak_ptr<Actions> weak = weak_from_this();
  auto shared = std::make_shared<const IApp>(app);
  return rx::Single<MatchedWindows>::deferred([weak, shared]() -> rx::Single<MatchedWindows> {
    auto self = weak.lock();
    if (!self) return rx::Single<MatchedWindows>::just({});
    const IApp& saved = *shared;
    if (saved.bundleId) {
      if (const AddonRestore* addon = self->addonRestores_->addonRestore(*saved.bundleId)) {
        return addon->restore(saved, self).doOn({.onSuccess = [](const MatchedWindows&) {
          Track::restoredWithAddon();
        }});
      }
    }
    return self->openAppWindows(saved, static_cast<std::int64_t>(saved.windows.size()))
        .map([shared](const std::vector<WindowPtr>& live) {
          return DisplayMatching::match(shared->windows, live, DisplayMatching::documentKey);
        });
  });
}

rx::Single<FoundApp> Actions::findOrLaunchApp(const IApp& app) {
  if (!app.bundleId) return rx::Single<FoundApp>::error(InvalidAppError{app}.asError());
  const rx::Observable<ApplicationPtr> running = windowsProvider_->application(*app.bundleId);
  std::weak_ptr<Actions> weak = weak_from_this();
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

rx::Single<LaunchedApplication> Actions::launchApp(const IApp& app) {
  return openApp(app, std::nullopt);
}

rx::Single<LaunchedApplication> Actions::reopenApp(const IApp& app) {
  return openApp(app, std::nullopt, /*reopen=*/true);
}

rx::Single<LaunchedApplication> Actions::openURLsWithApp(const IApp& app,
                                                         std::vector<base::Url> urls) {
  return openApp(app, std::move(urls));
}

rx::Single<LaunchedApplication> Actions::openApp(const IApp& app,
                                                 std::optional<std::vector<base::Url>> documents,
                                                 bool reopen) {
  using Result = rx::Single<LaunchedApplication>;
  std::weak_ptr<Actions> weak = weak_from_this();
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
            auto actions = weak.lock();
            if (!actions) return Result::error(NilWeakSelfError{}.asError());
            return actions->openAt(*fallback, documents, reopen);
          });
    }
    const auto url = resolve();
    if (!url) return Result::error(InvalidAppError{saved}.asError());
    return self->openAt(*url, documents, reopen);
  });
}

rx::Single<LaunchedApplication> Actions::openAt(
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

}  // namespace wendrix

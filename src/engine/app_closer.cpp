#include "engine/app_closer.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "analytics/track.h"
#include "engine/application_replacements.h"
#include "engine/capture.h"
#include "engine/windows_provider.h"
#include "platform/bundle/bundle.h"
#include "rx/single.h"
#include "storage/defaults_storage.h"
#include "winsys/promise_single.h"

namespace wendrix {

using winsys::ApplicationPtr;
using Statuses = std::vector<base::Status>;

namespace {

bool belongsTo(const Layout& layout, const winsys::Application& application) {
  return std::any_of(layout.apps.begin(), layout.apps.end(), [&](const IApp& saved) {
    return iapp::matchesApplication(saved, application);
  });
}

ApplicationList keep(const ApplicationList& apps, const Layout& layout, bool inLayout) {
  ApplicationList kept;
  for (const auto& app : apps) {
    if (app && belongsTo(layout, *app) == inLayout) kept.push_back(app);
  }
  return kept;
}

Statuses closeWindows(const winsys::Application& app) {
  Statuses results;
  for (const auto& window : app.knownWindows())
    results.push_back(window->close());
  return results;
}

// The outcome of a property write as a status, so that one failure does not
// end the others.
template <class T>
rx::Single<base::Status> settled(winsys::Promise<T> write) {
  return winsys::toSingle(std::move(write))
      .map([](const T&) { return base::Status(); })
      .catchError([](const base::Error& e) { return rx::Single<base::Status>::just(e); });
}

}  // namespace

AppCloser::AppCloser(std::shared_ptr<WindowsProvider> windowsProvider,
                     std::shared_ptr<DefaultsStorage> storage,
                     const platform::BundleProvider& bundles,
                     std::shared_ptr<const BundleIdAliases> aliases)
    : windowsProvider_(std::move(windowsProvider)),
      storage_(std::move(storage)),
      bundles_(bundles),
      aliases_(std::move(aliases)) {}

rx::Single<ApplicationList> AppCloser::currentAppsWithWindows() {
  return windowsProvider_->appsWithWindowsStream().take(1).asSingle();
}

rx::Single<ApplicationList> AppCloser::putAway(std::weak_ptr<AppCloser> weak,
                                               ApplicationList kept) {
  auto self = weak.lock();
  if (!self) return rx::Single<ApplicationList>::just(std::move(kept));
  return self->applyCloseBehavior(kept).map([kept](rx::Unit) { return kept; });
}

rx::Single<rx::Unit> AppCloser::closeLayoutApps(const Layout& layout) {
  std::weak_ptr<AppCloser> weak = weak_from_this();
  return currentAppsWithWindows()
      .flatMap([weak, layout](const ApplicationList& apps) {
        return putAway(weak, keep(apps, layout, true));
      })
      .map([](const ApplicationList& closed) {
        Track::closedLayoutApps(static_cast<std::int64_t>(closed.size()));
        return rx::Unit{};
      });
}

rx::Single<ApplicationList> AppCloser::closeOtherApps(const Layout& layout) {
  std::weak_ptr<AppCloser> weak = weak_from_this();
  return currentAppsWithWindows().flatMap([weak, layout](const ApplicationList& apps) {
    return putAway(weak, keep(apps, layout, false));
  });
}

rx::Single<rx::Unit> AppCloser::autoCloseOtherApps(const Layout& layout) {
  if (!layout.alwaysCloseOtherApps.value_or(false)) return rx::Single<rx::Unit>::just({});
  return closeOtherApps(layout).map([](const ApplicationList& closed) {
    Track::closedAppsAutomatically(static_cast<std::int64_t>(closed.size()));
    return rx::Unit{};
  });
}

rx::Single<Statuses> AppCloser::closeApplication(const ApplicationPtr& app) {
  return rx::Single<Statuses>::deferred(
      [storage = storage_, aliases = aliases_, app,
       ownId = bundles_.mainBundle().identifier()]() -> rx::Single<Statuses> {
        if (!app) return rx::Single<Statuses>::just({});
        // Read for each application as its turn starts: the setting may change
        // between two calls.
        switch (storage->closeBehavior().value()) {
          case CloseBehavior::close:
            return rx::Single<Statuses>::just(closeWindows(*app));
          case CloseBehavior::quit: {
            const auto id = app->bundleIdentifier();
            if (id && (aliases->tableId(*id) == kFinderBundleId || *id == ownId)) {
              return rx::Single<Statuses>::just(closeWindows(*app));
            }
            app->quit();
            return rx::Single<Statuses>::just({});
          }
          case CloseBehavior::hide:
            if (app->isHidden()) return rx::Single<Statuses>::just({});
            return settled(app->setHidden(true)).map([](const base::Status& s) {
              return Statuses{s};
            });
          case CloseBehavior::minimize: {
            std::vector<rx::Single<base::Status>> windows;
            for (const auto& window : app->knownWindows()) {
              windows.push_back(window->isMinimized() ? rx::Single<base::Status>::just({})
                                                      : settled(window->setMinimized(true)));
            }
            return rx::zip(std::move(windows));
          }
        }
        return rx::Single<Statuses>::just({});
      });
}

rx::Single<rx::Unit> AppCloser::applyCloseBehavior(ApplicationList applications) {
  std::vector<rx::Single<Statuses>> operations;
  operations.reserve(applications.size());
  for (const auto& app : applications)
    operations.push_back(closeApplication(app));
  const AnonymizingReplacements replacements =
      anonymizingReplacementsForApplications(applications, bundles_);
  return rx::zip(std::move(operations)).map([replacements](const std::vector<Statuses>& results) {
    for (const auto& perApp : results) {
      for (const auto& result : perApp) {
        if (!result.ok()) {
          Track::errorWithLocation(result.error(), error_location::kActionsCloseApps000,
                                   replacements);
        }
      }
    }
    return rx::Unit{};
  });
}

}  // namespace wendrix

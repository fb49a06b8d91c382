// Restoring a layout or some of its applications: every application at once,
// each bounded by the restore time limit and counted as a success, a time-out
// or an error.

#include <memory>
#include <utility>
#include <vector>

#include "analytics/record_replacements.h"
#include "analytics/restore_statistics.h"
#include "analytics/track.h"
#include "engine/actions.h"
#include "engine/actions_internal.h"
#include "engine/display_matching.h"
#include "rx/event.h"
#include "rx/scheduler.h"
#include "rx/single.h"

namespace wendrix {

namespace {

using rx::Unit;

// The statistics of a restore, sent as `event` with the seconds from the
// subscription to the result.
rx::Single<Unit> restoreAndSend(const rx::Single<RestoreStatistics>& restore,
                                std::string_view event, const dispatch::Clock& clock) {
  auto start = std::make_shared<dispatch::WallTime>(clock.now());
  const dispatch::Clock* c = &clock;
  return restore.doOn({.onSubscribe = [start, c] { *start = c->now(); }})
      .map([start, c, event](const RestoreStatistics& statistics) {
        Track::restored(event, statistics, *start, *c);
        return Unit{};
      });
}

}  // namespace

rx::Single<Unit> Actions::restoreLayout(const Layout& layout) {
  std::weak_ptr<Actions> weak = weak_from_this();
  auto apps = std::make_shared<const std::vector<IApp>>(layout.apps);
  return autoCloseOtherApps(layout).flatMap([weak, apps](Unit) {
    auto self = weak.lock();
    if (!self) return rx::Single<Unit>::just({});
    return restoreAndSend(self->restoreAppsWithStatistics(*apps), events::kLayoutRestored,
                          self->clock_);
  });
}

rx::Single<Unit> Actions::restoreApps(std::vector<IApp> apps) {
  return restoreAndSend(restoreAppsWithStatistics(apps), events::kAppRestored, clock_);
}

rx::Single<rx::Event<Unit>> Actions::restoreAppChain(const IApp& app) {
  std::weak_ptr<Actions> weak = weak_from_this();
  const AnonymizingReplacements replacements = anonymizingReplacements(app, bundles_);
  auto shared = std::make_shared<const IApp>(app);
  return restoreApp(app)
      .flatMap([weak, shared](const MatchedWindows& matched) {
        auto self = weak.lock();
        if (!self) return rx::Single<Unit>::just({});
        return self->restoreWindows(matched, *shared);
      })
      .timeout(kRestoreTimeout, scheduler_)
      .doOn({.onError =
                 [replacements](const base::Error& error) {
                   Track::errorWithLocation(error, error_location::kActionsRestoreApp000,
                                            replacements);
                 }})
      .asObservable()
      .materialize()
      .take(1)
      .asSingle();
}

rx::Single<RestoreStatistics> Actions::restoreAppsWithStatistics(const std::vector<IApp>& apps) {
  std::vector<rx::Single<rx::Event<Unit>>> chains;
  chains.reserve(apps.size());
  for (const auto& app : apps)
    chains.push_back(restoreAppChain(app));
  return rx::zip(std::move(chains)).map([](const std::vector<rx::Event<Unit>>& outcomes) {
    RestoreStatistics statistics;
    statistics.total = static_cast<std::int64_t>(outcomes.size());
    for (const auto& outcome : outcomes) {
      if (outcome.isNext()) {
        ++statistics.success;
      } else if (outcome.isError() && rx::RxError::isTimeout(outcome.error())) {
        ++statistics.timeouts;
      } else {
        ++statistics.errors;
      }
    }
    return statistics;
  });
}

}  // namespace wendrix

#include "engine/layout_restorer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "analytics/record_replacements.h"
#include "analytics/restore_statistics.h"
#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "engine/addon_restore.h"
#include "engine/app_closer.h"
#include "engine/app_launcher.h"
#include "engine/display_matching.h"
#include "engine/windows_provider.h"
#include "rx/event.h"
#include "rx/hand_written.h"
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

LayoutRestorer::LayoutRestorer(LayoutRestorerContext context)
    : launcher_(std::move(context.launcher)),
      placer_(std::move(context.placer)),
      closer_(std::move(context.closer)),
      addonRestores_(std::move(context.addonRestores)),
      bundles_(*context.bundles),
      scheduler_(*context.scheduler),
      clock_(*context.clock) {}

namespace {

// One subscription of `restoreAppsWithStatistics`: every application's
// restore at once, each bounded by kRestoreTimeout from its start, and the
// statistics once every one has ended. Each application's first event is its
// outcome; an error (the time-out too) is reported on the way. It is also the
// state of the subscription's handle.
class AppsRestore final : public rx::Disposable::Target,
                          public std::enable_shared_from_this<AppsRestore> {
 public:
  // What the restore of application `index` subscribes to.
  using Source = rx::Single<Unit> (*)(const std::shared_ptr<LayoutRestorer>& restorer,
                                      const std::shared_ptr<const IApp>& app);

  AppsRestore(rx::AnyObserver<RestoreStatistics> observer, std::weak_ptr<LayoutRestorer> restorer,
              Source source, std::shared_ptr<const std::vector<std::shared_ptr<const IApp>>> apps,
              std::shared_ptr<const std::vector<AnonymizingReplacements>> replacements,
              rx::Scheduler& scheduler)
      : observer_(std::move(observer)),
        restorer_(std::move(restorer)),
        source_(source),
        apps_(std::move(apps)),
        replacements_(std::move(replacements)),
        scheduler_(scheduler),
        restores_(apps_->size()),
        remaining_(apps_->size()) {}

  // Starts every application in list order: its time limit, then its
  // restore. `hold` is subscribed first and kept until the end.
  void start(const rx::Observable<ApplicationList>& hold) {
    if (apps_->empty()) {
      finish();
      return;
    }
    held_.set(
        hold.subscribe(rx::observer<ApplicationList>([](const rx::Event<ApplicationList>&) {})));
    auto self = shared_from_this();
    for (std::size_t i = 0; i < apps_->size() && !stopped_; ++i) {
      AppRestore& restore = restores_[i];
      restore.timer.set(
          scheduler_.scheduleAfter(kRestoreTimeout, [self, i] { self->timedOut(i); }));
      rx::Disposable subscription;
      if (auto restorer = restorer_.lock()) {
        subscription = source_(restorer, (*apps_)[i])
                           .asObservable()
                           .subscribe(rx::observer<Unit>(
                               [self, i](const rx::Event<Unit>& e) { self->sourceEvent(i, e); }));
      } else {
        sourceEvent(i, rx::Event<Unit>::next({}));
      }
      if (restore.ended || restore.timedOut) {
        subscription.dispose();
      } else {
        restore.source.set(std::move(subscription));
      }
    }
  }

 protected:
  void disposeOnce() override {
    stopped_ = true;
    observer_ = rx::AnyObserver<RestoreStatistics>();
    for (auto& restore : restores_) {
      restore.timer.dispose();
      restore.source.dispose();
    }
    held_.dispose();
  }

 private:
  struct AppRestore {
    rx::SerialSlot timer;
    rx::SerialSlot source;
    bool timedOut = false;
    bool ended = false;
  };

  // The restore's events until the time limit.
  void sourceEvent(std::size_t i, const rx::Event<Unit>& e) {
    AppRestore& restore = restores_[i];
    if (restore.timedOut || restore.ended) return;
    restore.timer.dispose();
    outcome(i, e);
  }

  // The time limit: the restore is dropped and ends with RxError timeout.
  void timedOut(std::size_t i) {
    AppRestore& restore = restores_[i];
    if (restore.ended) return;
    restore.timedOut = true;
    restore.source.set(rx::Disposable());
    outcome(i, rx::Event<Unit>::error(rx::RxError::timeout()));
  }

  void outcome(std::size_t i, const rx::Event<Unit>& e) {
    if (stopped_) return;
    AppRestore& restore = restores_[i];
    restore.ended = true;
    if (e.isError()) {
      Track::errorWithLocation(e.error(), error_location::kActionsRestoreApp000,
                               (*replacements_)[i]);
    }
    if (e.isNext()) {
      ++statistics_.success;
    } else if (e.isError() && rx::RxError::isTimeout(e.error())) {
      ++statistics_.timeouts;
    } else {
      ++statistics_.errors;
    }
    if (--remaining_ == 0) finish();
    // The application's restore ends with its outcome.
    restore.timer.dispose();
    restore.source.dispose();
  }

  void finish() {
    stopped_ = true;
    statistics_.total = static_cast<std::int64_t>(apps_->size());
    const rx::AnyObserver<RestoreStatistics> observer = observer_;
    observer.onNext(statistics_);
    observer.onCompleted();
    held_.dispose();
  }

  rx::AnyObserver<RestoreStatistics> observer_;
  std::weak_ptr<LayoutRestorer> restorer_;
  Source source_;
  std::shared_ptr<const std::vector<std::shared_ptr<const IApp>>> apps_;
  std::shared_ptr<const std::vector<AnonymizingReplacements>> replacements_;
  rx::Scheduler& scheduler_;
  std::vector<AppRestore> restores_;
  std::size_t remaining_;
  RestoreStatistics statistics_;
  // Keeps the running applications followed while the restore runs, so that
  // each application's lookup reads them rather than connecting anew.
  rx::SerialSlot held_;
  bool stopped_ = false;
};

}  // namespace

namespace {

using SharedApps = std::shared_ptr<const std::vector<std::shared_ptr<const IApp>>>;

SharedApps shareRecords(const std::vector<IApp>& apps) {
  auto shared = std::make_shared<std::vector<std::shared_ptr<const IApp>>>();
  shared->reserve(apps.size());
  for (const auto& app : apps)
    shared->push_back(std::make_shared<const IApp>(app));
  return shared;
}

}  // namespace

rx::Single<Unit> LayoutRestorer::restoreLayout(const Layout& layout) {
  std::weak_ptr<LayoutRestorer> weak = weak_from_this();
  return closer_->autoCloseOtherApps(layout).flatMap(
      [weak, apps = shareRecords(layout.apps)](Unit) {
        auto self = weak.lock();
        if (!self) return rx::Single<Unit>::just({});
        return restoreAndSend(self->restoreSharedApps(apps), events::kLayoutRestored, self->clock_);
      });
}

rx::Single<Unit> LayoutRestorer::restoreApps(std::vector<IApp> apps) {
  auto shared = std::make_shared<std::vector<std::shared_ptr<const IApp>>>();
  shared->reserve(apps.size());
  for (auto& app : apps)
    shared->push_back(std::make_shared<const IApp>(std::move(app)));
  return restoreAndSend(restoreSharedApps(std::move(shared)), events::kAppRestored, clock_);
}

rx::Single<MatchedWindows> LayoutRestorer::restoreApp(const IApp& app) {
  return restoreSharedApp(std::make_shared<const IApp>(app));
}

rx::Single<MatchedWindows> LayoutRestorer::restoreSharedApp(std::shared_ptr<const IApp> app) {
  std::weak_ptr<LayoutRestorer> weak = weak_from_this();
  return rx::Single<MatchedWindows>::deferred([weak, shared = std::move(
                                                         app)]() -> rx::Single<MatchedWindows> {
    auto self = weak.lock();
    if (!self) return rx::Single<MatchedWindows>::just({});
    const IApp& saved = *shared;
    if (saved.bundleId) {
      if (const AddonRestore* addon = self->addonRestores_->addonRestore(*saved.bundleId)) {
        return addon->restore(saved, self->launcher_).doOn({.onSuccess = [](const MatchedWindows&) {
          Track::restoredWithAddon();
        }});
      }
    }
    return self->launcher_->openAppWindows(shared, static_cast<std::int64_t>(saved.windows.size()))
        .map([shared](const std::vector<winsys::WindowPtr>& live) {
          return DisplayMatching::match(shared->windows, live, DisplayMatching::documentKey);
        });
  });
}

// One subscription of `restoreAndPlace`: the windows paired as `restoreApp`
// pairs them, then their placing, each step holding the restorer weakly. It
// is also the state of the subscription's handle.
class LayoutRestorer::AppPlacing final : public rx::Disposable::Target,
                                         public std::enable_shared_from_this<AppPlacing> {
 public:
  AppPlacing(rx::AnyObserver<Unit> observer, std::weak_ptr<LayoutRestorer> restorer,
             std::shared_ptr<const IApp> app)
      : observer_(std::move(observer)), restorer_(std::move(restorer)), app_(std::move(app)) {}

  void start() {
    auto self = restorer_.lock();
    if (!self) {
      paired({});
      return;
    }
    const IApp& saved = *app_;
    if (saved.bundleId) {
      if (self->addonRestores_->addonRestore(*saved.bundleId)) {
        follow(self->restoreSharedApp(app_));
        return;
      }
    }
    auto placing = shared_from_this();
    pairing_.set(
        self->launcher_->openAppWindows(app_, static_cast<std::int64_t>(saved.windows.size()))
            .asObservable()
            .subscribe(rx::observer<std::vector<winsys::WindowPtr>>(
                [placing](const rx::Event<std::vector<winsys::WindowPtr>>& e) {
                  if (e.isNext()) {
                    placing->paired(DisplayMatching::match(placing->app_->windows, e.element(),
                                                           DisplayMatching::documentKey));
                  } else {
                    placing->stopped(e);
                  }
                })));
  }

 protected:
  void disposeOnce() override {
    ended_ = true;
    observer_ = rx::AnyObserver<Unit>();
    pairing_.dispose();
    placing_.dispose();
  }

 private:
  void follow(const rx::Single<MatchedWindows>& pairs) {
    auto placing = shared_from_this();
    pairing_.set(pairs.asObservable().subscribe(
        rx::observer<MatchedWindows>([placing](const rx::Event<MatchedWindows>& e) {
          if (e.isNext()) {
            placing->paired(e.element());
          } else {
            placing->stopped(e);
          }
        })));
  }

  // The pairs are there: their placing.
  void paired(const MatchedWindows& matched) {
    if (ended_ || pairedOnce_) return;
    pairedOnce_ = true;
    auto self = restorer_.lock();
    if (!self) {
      ended_ = true;
      const rx::AnyObserver<Unit> observer = observer_;
      observer.onNext({});
      observer.onCompleted();
      return;
    }
    placing_.set(self->placer_->restoreWindows(matched, *app_).asObservable().subscribe(observer_));
  }

  // The pairing ended: an error goes on; a completion ends the restore
  // once no placing runs.
  template <class E>
  void stopped(const rx::Event<E>& e) {
    if (ended_) return;
    if (e.isError()) {
      ended_ = true;
      const rx::AnyObserver<Unit> observer = observer_;
      observer.onError(e.error());
    } else if (!pairedOnce_) {
      ended_ = true;
      const rx::AnyObserver<Unit> observer = observer_;
      observer.onCompleted();
    }
  }

  rx::AnyObserver<Unit> observer_;
  std::weak_ptr<LayoutRestorer> restorer_;
  std::shared_ptr<const IApp> app_;
  rx::SerialSlot pairing_;
  rx::SerialSlot placing_;
  bool pairedOnce_ = false;
  bool ended_ = false;
};

rx::Single<Unit> LayoutRestorer::restoreAndPlace(const std::shared_ptr<LayoutRestorer>& restorer,
                                                 const std::shared_ptr<const IApp>& app) {
  std::weak_ptr<LayoutRestorer> weak = restorer;
  return rx::singleOf(rx::Observable<Unit>([weak, app](const rx::AnyObserver<Unit>& o) {
    auto placing = std::make_shared<AppPlacing>(o, weak, app);
    placing->start();
    return rx::Disposable::of(placing);
  }));
}

rx::Single<RestoreStatistics> LayoutRestorer::restoreAppsWithStatistics(
    const std::vector<IApp>& apps) {
  return restoreSharedApps(shareRecords(apps));
}

rx::Single<RestoreStatistics> LayoutRestorer::restoreSharedApps(
    std::shared_ptr<const std::vector<std::shared_ptr<const IApp>>> apps) {
  auto replacements = std::make_shared<std::vector<AnonymizingReplacements>>();
  replacements->reserve(apps->size());
  for (const auto& app : *apps)
    replacements->push_back(anonymizingReplacements(*app, bundles_));
  std::weak_ptr<LayoutRestorer> weak = weak_from_this();
  rx::Scheduler* scheduler = &scheduler_;
  const rx::Observable<ApplicationList> running =
      launcher_->windowsProvider()->runningApplicationsStream();
  return rx::singleOf(rx::Observable<RestoreStatistics>(
      [weak, scheduler, running, apps = std::move(apps),
       replacements = std::shared_ptr<const std::vector<AnonymizingReplacements>>(
           std::move(replacements))](const rx::AnyObserver<RestoreStatistics>& o) {
        auto restore = std::make_shared<AppsRestore>(o, weak, &LayoutRestorer::restoreAndPlace,
                                                     apps, replacements, *scheduler);
        restore->start(running);
        return rx::Disposable::of(restore);
      }));
}

}  // namespace wendrix

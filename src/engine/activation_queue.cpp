// The activation queue of `Actions`: one application is brought to the front
// at a time, in the order asked.

#include <utility>
#include <vector>

#include "engine/actions.h"
#include "engine/actions_internal.h"
#include "platform/running_apps/running_applications.h"
#include "rx/scheduler.h"
#include "winsys/events.h"

namespace wendrix {

rx::Single<rx::Unit> Actions::activateApp(std::string bundleIdentifier,
                                          std::int32_t processIdentifier) {
  using Units = rx::Observable<rx::Unit>;
  const auto toUnit = [](const auto&) { return rx::Unit{}; };
  const rx::Single<rx::Unit> done =
      Units::merge({
                       activation_->cancelAppActivationSubject.asObservable()
                           .filter([processIdentifier](std::int32_t pid) {
                             return pid == processIdentifier;
                           })
                           .map(toUnit),
                       Units::just(rx::Unit{}).delay(kActivationTimeout, scheduler_),
                       activation_->activeApp
                           .filter([bundleIdentifier](const std::string& id) {
                             return id == bundleIdentifier;
                           })
                           .map(toUnit)
                           .delay(kActivationGrace, scheduler_),
                   })
          .take(1)
          .asSingle();
  activation_->activateAppSubject.onNext(
      ActivationQueueItem{processIdentifier, std::move(bundleIdentifier), done});
  return done;
}

void Actions::startActivationQueue() {
  std::weak_ptr<Actions> weak = weak_from_this();
  platform::RunningApplications* running = &runningApplications_;
  activation_->activateAppSubject.asObservable()
      .concatMap([weak, running](const ActivationQueueItem& item) {
        const std::optional<bool> active = running->isActive(item.pid);
        if (active && !*active) {
          running->activate(item.pid,
                            platform::activateAllWindows | platform::activateIgnoringOtherApps);
          return item.done.asObservable();
        }
        // Gone, or in front already: every wait on this process ends now.
        if (auto self = weak.lock()) self->activation_->cancelAppActivationSubject.onNext(item.pid);
        return rx::Observable<rx::Unit>::empty();
      })
      .subscribe()
      .disposed(activation_->disposeBag);
}

}  // namespace wendrix

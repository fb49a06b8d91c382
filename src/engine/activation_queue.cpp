#include "engine/activation_queue.h"

#include <optional>
#include <utility>
#include <vector>

#include "platform/running_apps/running_applications.h"
#include "rx/scheduler.h"

namespace wendrix {

std::shared_ptr<ActivationQueue> ActivationQueue::make(rx::Observable<std::string> activeApps,
                                                       platform::RunningApplications& running,
                                                       rx::Scheduler& scheduler) {
  std::shared_ptr<ActivationQueue> queue(
      new ActivationQueue(std::move(activeApps), running, scheduler));
  queue->start();
  return queue;
}

ActivationQueue::ActivationQueue(rx::Observable<std::string> activeApps,
                                 platform::RunningApplications& running, rx::Scheduler& scheduler)
    : activeApp_(std::move(activeApps)), running_(running), scheduler_(scheduler) {}

rx::Single<rx::Unit> ActivationQueue::activateApp(std::string bundleIdentifier,
                                                  std::int32_t processIdentifier) {
  using Units = rx::Observable<rx::Unit>;
  const auto toUnit = [](const auto&) { return rx::Unit{}; };
  const rx::Single<rx::Unit> done =
      Units::merge({
                       cancelAppActivationSubject_.asObservable()
                           .filter([processIdentifier](std::int32_t pid) {
                             return pid == processIdentifier;
                           })
                           .map(toUnit),
                       Units::just(rx::Unit{}).delay(kActivationTimeout, scheduler_),
                       activeApp_
                           .filter([bundleIdentifier](const std::string& id) {
                             return id == bundleIdentifier;
                           })
                           .map(toUnit)
                           .delay(kActivationGrace, scheduler_),
                   })
          .take(1)
          .asSingle();
  activateAppSubject_.onNext(
      ActivationQueueItem{processIdentifier, std::move(bundleIdentifier), done});
  return done;
}

void ActivationQueue::start() {
  std::weak_ptr<ActivationQueue> weak = weak_from_this();
  platform::RunningApplications* running = &running_;
  activateAppSubject_.asObservable()
      .concatMap([weak, running](const ActivationQueueItem& item) {
        const std::optional<bool> active = running->isActive(item.pid);
        if (active && !*active) {
          running->activate(item.pid,
                            platform::activateAllWindows | platform::activateIgnoringOtherApps);
          return item.done.asObservable();
        }
        // Gone, or in front already: every wait on this process ends now.
        if (auto self = weak.lock()) self->cancelAppActivationSubject_.onNext(item.pid);
        return rx::Observable<rx::Unit>::empty();
      })
      .subscribe()
      .disposed(disposeBag_);
}

}  // namespace wendrix

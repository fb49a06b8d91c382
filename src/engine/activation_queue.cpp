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

namespace {

// One subscription of an item's `done`: ends with the first of the
// cancellation of its process, the time limit, and the grace time after its
// application became frontmost. It is also the state of the subscription's
// handle, so that the wait takes one allocation besides its sources.
class ActivationWait final : public rx::Disposable::Target {
 public:
  explicit ActivationWait(rx::AnyObserver<rx::Unit> observer) : observer_(std::move(observer)) {}

  // Follows the sources in this order: cancellations, the time limit, the
  // frontmost applications.
  static void start(const std::shared_ptr<ActivationWait>& self,
                    const rx::Observable<std::int32_t>& cancellations,
                    const rx::Observable<std::string>& activeApps, rx::Scheduler& scheduler,
                    std::shared_ptr<const std::string> bundleIdentifier,
                    std::int32_t processIdentifier) {
    self->cancel_.set(cancellations.subscribe(rx::detail::observer<std::int32_t>(
        [self, processIdentifier](const rx::Event<std::int32_t>& e) {
          if (e.isNext() ? e.element() == processIdentifier : e.isError()) self->end(e);
        })));
    self->timer_.set(scheduler.scheduleAfter(kActivationTimeout, [self] { self->end(); }));
    rx::Scheduler* s = &scheduler;
    self->active_.set(activeApps.subscribe(rx::detail::observer<std::string>(
        [self, s, bundleIdentifier = std::move(bundleIdentifier)](const rx::Event<std::string>& e) {
          if (e.isError()) {
            self->end(e);
          } else if (e.isNext() && e.element() == *bundleIdentifier && !self->ended_) {
            self->graces_.push_back(s->scheduleAfter(kActivationGrace, [self] { self->end(); }));
          }
        })));
  }

 protected:
  void disposeOnce() override {
    ended_ = true;
    observer_ = rx::AnyObserver<rx::Unit>();
    cancel_.dispose();
    timer_.dispose();
    active_.dispose();
    auto graces = std::move(graces_);
    graces_.clear();
    for (const auto& grace : graces)
      grace.dispose();
  }

 private:
  // The one element and completion; a source's error ends the wait with it.
  template <class E>
  void end(const rx::Event<E>& e) {
    if (e.isError()) {
      if (ended_) return;
      ended_ = true;
      const rx::AnyObserver<rx::Unit> observer = observer_;
      observer.onError(e.error());
      return;
    }
    end();
  }
  void end() {
    if (ended_) return;
    ended_ = true;
    const rx::AnyObserver<rx::Unit> observer = observer_;
    observer.onNext({});
    observer.onCompleted();
  }

  rx::AnyObserver<rx::Unit> observer_;
  rx::detail::SerialSlot cancel_;
  rx::detail::SerialSlot timer_;
  rx::detail::SerialSlot active_;
  std::vector<rx::Disposable> graces_;
  bool ended_ = false;
};

}  // namespace

rx::Single<rx::Unit> ActivationQueue::activateApp(std::string bundleIdentifier,
                                                  std::int32_t processIdentifier) {
  auto wanted = std::make_shared<const std::string>(bundleIdentifier);
  const rx::Single<rx::Unit> done = rx::detail::SingleAccess::wrap(rx::Observable<rx::Unit>(
      [cancellations = cancelAppActivationSubject_.asObservable(), activeApps = activeApp_,
       scheduler = &scheduler_, wanted, processIdentifier](const rx::AnyObserver<rx::Unit>& o) {
        auto wait = std::make_shared<ActivationWait>(o);
        ActivationWait::start(wait, cancellations, activeApps, *scheduler, wanted,
                              processIdentifier);
        return rx::Disposable::of(wait);
      }));
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

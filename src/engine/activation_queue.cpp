#include "engine/activation_queue.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/running_apps/running_applications.h"
#include "rx/hand_written.h"
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
    : waits_(std::make_shared<Waits>(std::move(activeApps))),
      running_(running),
      scheduler_(scheduler) {}

ActivationQueue::~ActivationQueue() = default;

// The waits of the items' subscriptions, in the order they started: each
// hears of the cancellations of its process and of its application coming to
// the front. One subscription of the frontmost applications serves them all,
// made with the first wait and kept while the queue lives.
class ActivationQueue::Waits {
 public:
  class Wait {
   public:
    virtual ~Wait() = default;
    virtual void cancelled(std::int32_t processIdentifier) = 0;
    virtual void frontmost(const rx::Event<std::string>& e) = 0;
  };

  explicit Waits(rx::Observable<std::string> activeApps) : activeApps_(std::move(activeApps)) {}
  ~Waits() { subscription_.dispose(); }
  Waits(const Waits&) = delete;
  Waits& operator=(const Waits&) = delete;

  std::uint64_t add(std::shared_ptr<Wait> wait) {
    const std::uint64_t key = nextKey_++;
    waits_.emplace_back(key, std::move(wait));
    if (!following_) {
      following_ = true;
      subscription_ = activeApps_.subscribe(
          rx::observer<std::string>([this](const rx::Event<std::string>& e) { frontmost(e); }));
    }
    return key;
  }
  void remove(std::uint64_t key) {
    std::erase_if(waits_, [key](const auto& entry) { return entry.first == key; });
  }
  void cancel(std::int32_t processIdentifier) {
    for (const auto& wait : snapshot())
      wait->cancelled(processIdentifier);
  }

 private:
  // A wait that ends meanwhile ignores what it is told.
  std::vector<std::shared_ptr<Wait>> snapshot() const {
    std::vector<std::shared_ptr<Wait>> waits;
    waits.reserve(waits_.size());
    for (const auto& entry : waits_)
      waits.push_back(entry.second);
    return waits;
  }
  void frontmost(const rx::Event<std::string>& e) {
    // Once the stream ended, the next wait subscribes to it again.
    if (e.isStopEvent()) following_ = false;
    for (const auto& wait : snapshot())
      wait->frontmost(e);
  }

  rx::Observable<std::string> activeApps_;
  std::vector<std::pair<std::uint64_t, std::shared_ptr<Wait>>> waits_;
  std::uint64_t nextKey_ = 0;
  rx::Disposable subscription_;
  bool following_ = false;
};

namespace {

// One subscription of an item's `done`: ends with the first of the
// cancellation of its process, the time limit, and the grace time after its
// application became frontmost. It is also the state of the subscription's
// handle.
class ActivationWait final : public rx::Disposable::Target,
                             public ActivationQueue::Waits::Wait,
                             public std::enable_shared_from_this<ActivationWait> {
 public:
  ActivationWait(rx::AnyObserver<rx::Unit> observer, std::weak_ptr<ActivationQueue::Waits> waits,
                 rx::Scheduler& scheduler, std::shared_ptr<const std::string> bundleIdentifier,
                 std::int32_t processIdentifier)
      : observer_(std::move(observer)),
        waits_(std::move(waits)),
        scheduler_(scheduler),
        bundleIdentifier_(std::move(bundleIdentifier)),
        processIdentifier_(processIdentifier) {}
  ~ActivationWait() override { stop(); }

  // Listens for the cancellations and the frontmost applications, then
  // starts the time limit.
  void start() {
    if (auto waits = waits_.lock()) key_ = waits->add(shared_from_this());
    // The action refers to the wait without holding it: the wait cancels
    // the timer when it ends or goes.
    timer_.set(scheduler_.scheduleAfter(kActivationTimeout, [this] { end(); }));
  }

  void cancelled(std::int32_t processIdentifier) override {
    if (processIdentifier == processIdentifier_) end();
  }
  void frontmost(const rx::Event<std::string>& e) override {
    if (e.isError()) {
      fail(e.error());
    } else if (e.isNext() && e.element() == *bundleIdentifier_ && !ended_) {
      graces_.push_back(scheduler_.scheduleAfter(kActivationGrace, [this] { end(); }));
    }
  }

 protected:
  void disposeOnce() override {
    ended_ = true;
    observer_ = rx::AnyObserver<rx::Unit>();
    stop();
  }

 private:
  void stop() {
    if (key_) {
      if (auto waits = waits_.lock()) waits->remove(*key_);
      key_.reset();
    }
    timer_.dispose();
    auto graces = std::move(graces_);
    graces_.clear();
    for (const auto& grace : graces)
      grace.dispose();
  }

  // The one element and completion.
  void end() {
    if (ended_) return;
    ended_ = true;
    const rx::AnyObserver<rx::Unit> observer = observer_;
    observer.onNext({});
    observer.onCompleted();
  }
  void fail(const base::Error& error) {
    if (ended_) return;
    ended_ = true;
    const rx::AnyObserver<rx::Unit> observer = observer_;
    observer.onError(error);
  }

  rx::AnyObserver<rx::Unit> observer_;
  std::weak_ptr<ActivationQueue::Waits> waits_;
  rx::Scheduler& scheduler_;
  std::shared_ptr<const std::string> bundleIdentifier_;
  std::int32_t processIdentifier_;
  std::optional<std::uint64_t> key_;
  rx::SerialSlot timer_;
  std::vector<rx::Disposable> graces_;
  bool ended_ = false;
};

}  // namespace

rx::Single<rx::Unit> ActivationQueue::activateApp(std::string bundleIdentifier,
                                                  std::int32_t processIdentifier) {
  auto wanted = std::make_shared<const std::string>(bundleIdentifier);
  const rx::Single<rx::Unit> done = rx::singleOf(
      rx::Observable<rx::Unit>([waits = std::weak_ptr<Waits>(waits_), scheduler = &scheduler_,
                                wanted, processIdentifier](const rx::AnyObserver<rx::Unit>& o) {
        auto wait =
            std::make_shared<ActivationWait>(o, waits, *scheduler, wanted, processIdentifier);
        wait->start();
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
        if (auto self = weak.lock()) self->waits_->cancel(item.pid);
        return rx::Observable<rx::Unit>::empty();
      })
      .subscribe()
      .disposed(disposeBag_);
}

}  // namespace wendrix

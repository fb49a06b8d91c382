#pragma once

// The queue that brings applications to the front one at a time, in the
// order asked.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "rx/disposable.h"
#include "rx/event.h"
#include "rx/observable.h"
#include "rx/single.h"
#include "rx/subjects.h"

namespace platform {
class RunningApplications;
}

namespace wendrix::rx {
class Scheduler;
}

namespace wendrix {

// How long an activation waits for its application to become frontmost.
inline constexpr auto kActivationTimeout = std::chrono::seconds(3);
// How long an activation still waits once its application is frontmost.
inline constexpr auto kActivationGrace = std::chrono::milliseconds(100);

// One request of the activation queue: bring the application with process
// `pid` (bundle identifier `bundleId`) to the front. `done` succeeds when the
// activation is over (the application became frontmost plus a short grace
// time, its activation was cancelled, or the wait ran out). It is cold: each
// subscription waits on its own, its time limit counted from that
// subscription.
struct ActivationQueueItem {
  std::int32_t pid = 0;
  std::string bundleId;
  rx::Single<rx::Unit> done;
};

// Main thread only. The references must outlive the queue.
class ActivationQueue final : public std::enable_shared_from_this<ActivationQueue> {
 public:
  // Makes the queue and starts it. `activeApps` gives the bundle identifier
  // of each new frontmost application.
  static std::shared_ptr<ActivationQueue> make(rx::Observable<std::string> activeApps,
                                               platform::RunningApplications& running,
                                               rx::Scheduler& scheduler);
  ActivationQueue(const ActivationQueue&) = delete;
  ActivationQueue& operator=(const ActivationQueue&) = delete;

  // Queues bringing process `processIdentifier` (bundle identifier
  // `bundleIdentifier`) to the front and gives the item's `done`.
  rx::Single<rx::Unit> activateApp(std::string bundleIdentifier, std::int32_t processIdentifier);

  ~ActivationQueue();

  // The waiting subscriptions of the items (activation_queue.cpp).
  class Waits;

 private:
  ActivationQueue(rx::Observable<std::string> activeApps, platform::RunningApplications& running,
                  rx::Scheduler& scheduler);
  void start();

  rx::DisposeBag disposeBag_;
  rx::PublishSubject<ActivationQueueItem> activateAppSubject_;
  std::shared_ptr<Waits> waits_;
  platform::RunningApplications& running_;
  rx::Scheduler& scheduler_;
};

}  // namespace wendrix

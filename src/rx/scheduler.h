#pragma once

#include <functional>
#include <memory>

#include "dispatch/clock.h"
#include "dispatch/queue.h"
#include "rx/disposable.h"

namespace wendrix::rx {

// Where time operators run their timers. Disposing a scheduled action cancels
// it and releases what it captured at once.
class Scheduler {
 public:
  virtual ~Scheduler() = default;

  virtual dispatch::WallTime now() const = 0;
  // Runs `action` after the work already queued.
  virtual Disposable schedule(std::function<void()> action) = 0;
  // Runs `action` once `delay` has passed.
  virtual Disposable scheduleAfter(dispatch::Duration delay, std::function<void()> action) = 0;
};

// A scheduler over a serial dispatch queue: the main loop in the program, a
// ManualQueue (virtual time) in tests. The queue must outlive the scheduler;
// disposables it returns stay safe to use after both are gone.
class QueueScheduler final : public Scheduler {
 public:
  explicit QueueScheduler(dispatch::Queue& queue) : queue_(queue) {}

  dispatch::WallTime now() const override { return queue_.clock().now(); }
  Disposable schedule(std::function<void()> action) override;
  Disposable scheduleAfter(dispatch::Duration delay, std::function<void()> action) override;

  dispatch::Queue& queue() const { return queue_; }

 private:
  dispatch::Queue& queue_;
};

// The scheduler of the main thread. The program installs its main loop at
// start-up; tests install a ManualQueue and reset it afterwards.
class MainScheduler {
 public:
  // The installed main scheduler. Using it before `install` is a wiring
  // error and aborts.
  static Scheduler& instance();
  static void install(dispatch::Queue& mainQueue);
  static bool isInstalled();
  static void reset();
};

}  // namespace wendrix::rx

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "dispatch/clock.h"

namespace dispatch {

using Task = std::function<void()>;

// Handle of a delayed task. `cancel()` is idempotent and safe from any thread;
// a cancelled task never runs, even when it was already due or queued. Copies
// share the same task. A default-constructed handle refers to nothing.
class TimerHandle {
 public:
  TimerHandle() = default;

  void cancel() const {
    if (cancelled_) cancelled_->store(true, std::memory_order_release);
  }
  bool cancelled() const { return cancelled_ && cancelled_->load(std::memory_order_acquire); }
  bool valid() const { return cancelled_ != nullptr; }

  // For queue implementations: a fresh handle and the task wrapped so that it
  // does nothing once the handle is cancelled.
  static std::pair<TimerHandle, Task> wrap(Task task) {
    TimerHandle handle;
    handle.cancelled_ = std::make_shared<std::atomic<bool>>(false);
    auto flag = handle.cancelled_;
    Task guarded = [flag, task = std::move(task)] {
      if (!flag->load(std::memory_order_acquire)) task();
    };
    return {std::move(handle), std::move(guarded)};
  }

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A serial executor: tasks run one at a time, in the order they were queued
// (delayed tasks in the order they fall due, ties in the order queued).
class Queue {
 public:
  virtual ~Queue() = default;

  // Queues `task` to run after the tasks already queued.
  virtual void async(Task task) = 0;

  // Runs `task` once `delay` has passed (a zero or negative delay behaves like
  // async). The task never runs before its time.
  virtual TimerHandle after(Duration delay, Task task) = 0;

  // The clock this queue's delays are measured against (virtual in tests).
  virtual const Clock& clock() const = 0;
};

}  // namespace dispatch

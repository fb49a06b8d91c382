#pragma once

// A queue on virtual time that any thread may post to: tasks wait in an inbox
// and run on the test's thread, in order, only when the test pumps the queue
// or moves its time on. Lets the real pipeline (HTTP on its own threads)
// run against a loopback server without waiting for real timers.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "dispatch/manual_queue.h"

namespace tlm::testing {

class PumpedQueue final : public dispatch::Queue {
 public:
  // From any thread.
  void async(dispatch::Task task) override {
    {
      std::lock_guard lock(inboxMutex_);
      inbox_.push_back(std::move(task));
    }
    posted_.notify_all();
  }
  // Timers are set by the queue's own tasks, on the test's thread.
  dispatch::TimerHandle after(dispatch::Duration delay, dispatch::Task task) override {
    return queue_.after(delay, std::move(task));
  }
  const dispatch::Clock& clock() const override { return queue_.clock(); }

  // Runs what is ready, then moves virtual time on by `delay`.
  void advance(dispatch::Duration delay) {
    drain();
    queue_.advance(delay);
    drain();
  }

  // Runs tasks as they arrive until `done` holds; false when it still does
  // not after `limit` of real time (the other threads are real).
  bool pumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      drain();
      if (done()) return true;
      std::unique_lock lock(inboxMutex_);
      if (!posted_.wait_until(lock, deadline, [&] { return !inbox_.empty(); })) break;
    }
    drain();
    return done();
  }

 private:
  void drain() {
    for (;;) {
      std::deque<dispatch::Task> tasks;
      {
        std::lock_guard lock(inboxMutex_);
        tasks.swap(inbox_);
      }
      for (auto& task : tasks)
        queue_.async(std::move(task));
      queue_.runUntilIdle();
      if (tasks.empty()) return;
    }
  }

  dispatch::ManualQueue queue_;
  std::mutex inboxMutex_;
  std::condition_variable posted_;
  std::deque<dispatch::Task> inbox_;
};

}  // namespace tlm::testing

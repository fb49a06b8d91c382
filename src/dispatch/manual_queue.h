#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <utility>

#include "dispatch/queue.h"

namespace dispatch {

// A queue on virtual time for tests: nothing runs until the test says so.
// `runUntilIdle()` runs every task that is ready now (including those queued
// while running); `advance(d)` moves time forward, running each timer at its
// own due time, in time order. Single-threaded.
class ManualQueue final : public Queue {
 public:
  ManualQueue() = default;
  ManualQueue(const ManualQueue&) = delete;
  ManualQueue& operator=(const ManualQueue&) = delete;

  void async(Task task) override;
  TimerHandle after(Duration delay, Task task) override;
  const Clock& clock() const override { return clock_; }

  // Runs ready tasks and timers due now until none is left. Returns how many ran.
  std::size_t runUntilIdle();
  // Moves virtual time forward by `d`, running everything that falls due.
  void advance(Duration d);
  // Moves virtual time to the next timer and runs it; false when none is pending.
  bool runNextTimer();

  // Virtual time elapsed since the queue was made.
  Duration elapsed() const { return elapsed_; }
  WallTime now() const { return clock_.now(); }
  VirtualClock& virtualClock() { return clock_; }
  // Tasks and (possibly cancelled) timers not yet run.
  std::size_t pending() const { return ready_.size() + timers_.size(); }

 private:
  void moveTo(Duration t);

  VirtualClock clock_;
  Duration elapsed_{0};
  std::deque<Task> ready_;
  // Keyed by (due time, sequence) so ties keep their queueing order.
  std::map<std::pair<Duration, std::uint64_t>, Task> timers_;
  std::uint64_t sequence_ = 0;
};

}  // namespace dispatch

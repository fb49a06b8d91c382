#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "dispatch/queue.h"

namespace dispatch {

using SteadyTime = std::chrono::steady_clock::time_point;

// Pending delayed tasks ordered by due time, ties in the order they were
// added. Not thread-safe: the owning queue guards it. Removed tasks are handed
// back to the caller so that they are run or destroyed outside the owner's
// lock (a task's captures may post to the same queue when destroyed).
class TimerHeap {
 public:
  TimerHandle add(SteadyTime due, Task task) {
    auto [handle, guarded] = TimerHandle::wrap(std::move(task));
    entries_.emplace(std::make_pair(due, sequence_++), Entry{handle, std::move(guarded)});
    return handle;
  }

  // Moves the tasks due at `now` to `out`, in order. A cancelled task stays
  // guarded, so it does nothing if it is run.
  void takeDue(SteadyTime now, std::vector<Task>& out) {
    while (!entries_.empty() && entries_.begin()->first.first <= now) {
      out.push_back(std::move(entries_.begin()->second.task));
      entries_.erase(entries_.begin());
    }
  }

  // The due time of the earliest timer not cancelled; cancelled ones in front
  // are removed into `garbage`, so the owner never wakes for them.
  std::optional<SteadyTime> nextDue(std::vector<Task>& garbage) {
    while (!entries_.empty()) {
      auto first = entries_.begin();
      if (!first->second.handle.cancelled()) return first->first.first;
      garbage.push_back(std::move(first->second.task));
      entries_.erase(first);
    }
    return std::nullopt;
  }

  // Removes every timer into `garbage`.
  void clear(std::vector<Task>& garbage) {
    for (auto& [key, entry] : entries_)
      garbage.push_back(std::move(entry.task));
    entries_.clear();
  }

  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    TimerHandle handle;
    Task task;
  };
  std::map<std::pair<SteadyTime, std::uint64_t>, Entry> entries_;
  std::uint64_t sequence_ = 0;
};

// The due time of a task queued now with `delay`: never in the past, and
// SteadyTime::max() (never) where the sum would overflow.
inline SteadyTime dueAfter(Duration delay) {
  const SteadyTime now = std::chrono::steady_clock::now();
  if (delay <= Duration::zero()) return now;
  if (delay >= SteadyTime::max() - now) return SteadyTime::max();
  return now + delay;
}

}  // namespace dispatch

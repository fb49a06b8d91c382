#include "dispatch/manual_queue.h"

namespace dispatch {

namespace {

// `base + d` for d >= 0, saturating instead of overflowing: a delay of
// Duration::max() means "never".
Duration later(Duration base, Duration d) {
  if (d <= Duration::zero()) return base;
  return d >= Duration::max() - base ? Duration::max() : base + d;
}

}  // namespace

void ManualQueue::async(Task task) {
  ready_.push_back(std::move(task));
}

TimerHandle ManualQueue::after(Duration delay, Task task) {
  auto [handle, guarded] = TimerHandle::wrap(std::move(task));
  const Duration due = later(elapsed_, delay);
  timers_.emplace(std::make_pair(due, sequence_++), std::move(guarded));
  return handle;
}

std::size_t ManualQueue::runUntilIdle() {
  std::size_t ran = 0;
  for (;;) {
    if (!ready_.empty()) {
      Task task = std::move(ready_.front());
      ready_.pop_front();
      task();
      ++ran;
      continue;
    }
    auto first = timers_.begin();
    if (first != timers_.end() && first->first.first <= elapsed_) {
      Task task = std::move(first->second);
      timers_.erase(first);
      task();
      ++ran;
      continue;
    }
    return ran;
  }
}

void ManualQueue::moveTo(Duration t) {
  if (t > elapsed_) {
    clock_.advance(t - elapsed_);
    elapsed_ = t;
  }
}

void ManualQueue::advance(Duration d) {
  const Duration target = later(elapsed_, d);
  runUntilIdle();
  while (!timers_.empty() && timers_.begin()->first.first <= target) {
    moveTo(timers_.begin()->first.first);
    runUntilIdle();
  }
  moveTo(target);
  runUntilIdle();
}

bool ManualQueue::runNextTimer() {
  runUntilIdle();
  if (timers_.empty()) return false;
  moveTo(timers_.begin()->first.first);
  runUntilIdle();
  return true;
}

}  // namespace dispatch

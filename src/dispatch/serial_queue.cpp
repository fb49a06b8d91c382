#include "dispatch/serial_queue.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>

#include "dispatch/timer_heap.h"

namespace dispatch {

struct SerialQueue::State {
  std::mutex mutex;  // guards everything below
  std::condition_variable wake;
  std::deque<Task> ready;
  TimerHeap timers;
  bool stopping = false;
};

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  try {
    worker_ = std::thread(&SerialQueue::work, state_);
  } catch (const std::system_error& e) {
    // Without its thread the queue could only lose work; there is nothing
    // sensible to fall back to.
    std::fprintf(stderr, "dispatch: cannot start the thread of queue \"%s\": %s\n", label_.c_str(),
                 e.what());
    std::abort();
  }
  workerId_ = worker_.get_id();
  // The kernel limits thread names to 15 bytes.
  pthread_setname_np(worker_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
  stop();
}

void SerialQueue::stop() {
  std::vector<Task> timers;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->timers.clear(timers);
  }
  state_->wake.notify_one();
  timers.clear();
  if (!worker_.joinable()) return;
  if (isCurrentThread())
    worker_.detach();
  else
    worker_.join();
}

void SerialQueue::async(Task task) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) return;  // `task` is destroyed outside the lock
    state_->ready.push_back(std::move(task));
  }
  state_->wake.notify_one();
}

TimerHandle SerialQueue::after(Duration delay, Task task) {
  TimerHandle handle;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) {
      TimerHandle dropped = TimerHandle::wrap(nullptr).first;
      dropped.cancel();
      return dropped;
    }
    handle = state_->timers.add(dueAfter(delay), std::move(task));
  }
  state_->wake.notify_one();
  return handle;
}

const Clock& SerialQueue::clock() const {
  return SystemClock::instance();
}

bool SerialQueue::sync(Task task) {
  if (isCurrentThread()) {
    task();
    return true;
  }
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) return false;
    state_->ready.push_back([&] {
      task();
      // Notify under the lock: the waiter's stack frame holds `finished`.
      std::lock_guard doneLock(mutex);
      done = true;
      finished.notify_one();
    });
  }
  state_->wake.notify_one();
  std::unique_lock lock(mutex);
  finished.wait(lock, [&] { return done; });
  return true;
}

void SerialQueue::work(std::shared_ptr<State> state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    if (!state->stopping) {
      std::vector<Task> due;
      state->timers.takeDue(std::chrono::steady_clock::now(), due);
      for (Task& task : due)
        state->ready.push_back(std::move(task));
    }
    if (!state->ready.empty()) {
      Task task = std::move(state->ready.front());
      state->ready.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // captures are released outside the lock
      lock.lock();
      continue;
    }
    if (state->stopping) return;
    std::vector<Task> cancelled;
    const auto next = state->timers.nextDue(cancelled);
    if (!cancelled.empty()) {
      lock.unlock();
      cancelled.clear();
      lock.lock();
      continue;
    }
    if (next && *next != SteadyTime::max())
      state->wake.wait_until(lock, *next);
    else
      state->wake.wait(lock);
  }
}

}  // namespace dispatch

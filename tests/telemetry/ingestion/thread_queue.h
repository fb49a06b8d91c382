#pragma once

// A real dispatch::Queue on one thread, for tests that run the HTTP client
// against a real server with short retry intervals.

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "dispatch/queue.h"

namespace tlmtest {

class ThreadQueue final : public dispatch::Queue {
 public:
  ThreadQueue() : thread_([this] { run(); }) {}
  ~ThreadQueue() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void async(dispatch::Task task) override { after(dispatch::Duration::zero(), std::move(task)); }

  dispatch::TimerHandle after(dispatch::Duration delay, dispatch::Task task) override {
    auto [handle, guarded] = dispatch::TimerHandle::wrap(std::move(task));
    {
      std::lock_guard lock(mutex_);
      tasks_.emplace(std::make_pair(std::chrono::steady_clock::now() + delay, sequence_++),
                     std::move(guarded));
    }
    changed_.notify_all();
    return handle;
  }

  const dispatch::Clock& clock() const override { return dispatch::SystemClock::instance(); }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (tasks_.empty()) {
        changed_.wait(lock);
        continue;
      }
      auto first = tasks_.begin();
      if (first->first.first > std::chrono::steady_clock::now()) {
        changed_.wait_until(lock, first->first.first);
        continue;
      }
      auto task = std::move(first->second);
      tasks_.erase(first);
      lock.unlock();
      task();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::pair<std::chrono::steady_clock::time_point, unsigned long>, dispatch::Task> tasks_;
  unsigned long sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tlmtest

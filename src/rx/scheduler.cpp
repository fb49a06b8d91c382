#include "rx/scheduler.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace wendrix::rx {

namespace {

// The action lives in a shared slot so that cancelling releases it at once,
// even though the queue keeps the cancelled task until its time comes.
using Slot = std::shared_ptr<std::function<void()>>;

dispatch::Task runSlot(Slot slot) {
  return [slot] {
    auto action = std::move(*slot);
    *slot = nullptr;
    if (action) action();
  };
}

Disposable cancelSlot(Slot slot, dispatch::TimerHandle handle) {
  return Disposable([slot, handle] {
    handle.cancel();
    *slot = nullptr;
  });
}

std::unique_ptr<QueueScheduler>& mainInstance() {
  static std::unique_ptr<QueueScheduler> instance;
  return instance;
}

}  // namespace

Disposable QueueScheduler::schedule(std::function<void()> action) {
  auto slot = std::make_shared<std::function<void()>>(std::move(action));
  queue_.async(runSlot(slot));
  return cancelSlot(slot, dispatch::TimerHandle());
}

Disposable QueueScheduler::scheduleAfter(dispatch::Duration delay, std::function<void()> action) {
  auto slot = std::make_shared<std::function<void()>>(std::move(action));
  auto handle = queue_.after(delay, runSlot(slot));
  return cancelSlot(slot, handle);
}

Scheduler& MainScheduler::instance() {
  auto& instance = mainInstance();
  if (!instance) {
    std::fputs("MainScheduler::instance() used before MainScheduler::install()\n", stderr);
    std::abort();
  }
  return *instance;
}

void MainScheduler::install(dispatch::Queue& mainQueue) {
  mainInstance() = std::make_unique<QueueScheduler>(mainQueue);
}

bool MainScheduler::isInstalled() {
  return mainInstance() != nullptr;
}

void MainScheduler::reset() {
  mainInstance().reset();
}

}  // namespace wendrix::rx

#include "rx/scheduler.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace wendrix::rx {

namespace {

// The action lives in one shared object with the cancellation, so that
// cancelling releases it at once, even though the queue keeps the cancelled
// task until its time comes.
class Slot final : public Disposable::Target {
 public:
  explicit Slot(std::function<void()> action) : action_(std::move(action)) {}

  void setHandle(dispatch::TimerHandle handle) { handle_ = std::move(handle); }
  void run() {
    auto action = std::move(action_);
    action_ = nullptr;
    if (action) action();
  }

 protected:
  void disposeOnce() override {
    handle_.cancel();
    action_ = nullptr;
  }

 private:
  std::function<void()> action_;
  dispatch::TimerHandle handle_;
};

std::unique_ptr<QueueScheduler>& mainInstance() {
  static std::unique_ptr<QueueScheduler> instance;
  return instance;
}

}  // namespace

Disposable QueueScheduler::schedule(std::function<void()> action) {
  auto slot = std::make_shared<Slot>(std::move(action));
  queue_.async([slot] { slot->run(); });
  return Disposable::of(slot);
}

Disposable QueueScheduler::scheduleAfter(dispatch::Duration delay, std::function<void()> action) {
  auto slot = std::make_shared<Slot>(std::move(action));
  slot->setHandle(queue_.after(delay, [slot] { slot->run(); }));
  return Disposable::of(slot);
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

#include "dispatch/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/timer_order.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Bounds every wait in these tests; reaching it means the queue hung.
constexpr Duration kLimit = 10s;

// A gate a task can wait at until the test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

TEST(SerialQueueTest, RunsTasksOneAtATimeInOrderWhenFedFromSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  SerialQueue queue("test.serial");
  std::atomic<int> inFlight{0};
  std::atomic<int> maxInFlight{0};
  std::atomic<bool> offThread{false};
  // Touched only by queue tasks: a data race here is what TSan would report.
  std::vector<std::vector<int>> seen(kThreads);

  std::vector<std::thread> feeders;
  for (int t = 0; t < kThreads; ++t) {
    feeders.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        queue.async([&, t, i] {
          const int now = ++inFlight;
          int max = maxInFlight.load();
          while (now > max && !maxInFlight.compare_exchange_weak(max, now)) {
          }
          if (!queue.isCurrentThread()) offThread = true;
          seen[t].push_back(i);
          --inFlight;
        });
      }
    });
  }
  for (auto& f : feeders)
    f.join();
  ASSERT_TRUE(queue.sync([] {}));  // everything queued before has run

  EXPECT_EQ(maxInFlight.load(), 1);
  EXPECT_FALSE(offThread.load());
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i)
      ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(SerialQueueTest, SyncWaitsForTheTaskAndRunsInlineOnTheQueue) {
  SerialQueue queue;
  EXPECT_FALSE(queue.isCurrentThread());
  std::vector<std::string> order;
  queue.async([&] { order.push_back("async"); });
  EXPECT_TRUE(queue.sync([&] {
    order.push_back("sync");
    // From the queue's own thread: runs at once instead of deadlocking.
    EXPECT_TRUE(queue.sync([&] { order.push_back("nested"); }));
    order.push_back("after nested");
  }));
  EXPECT_EQ(order, (std::vector<std::string>{"async", "sync", "nested", "after nested"}));
}

TEST(SerialQueueTest, TimersFireInTimeOrderAndNeverEarly) {
  SerialQueue queue;
  struct Fired {
    std::string name;
    Duration late;  // fire time minus due time
  };
  std::vector<Fired> fired;  // touched only on the queue
  std::promise<void> allFired;
  TimerOrder order;
  auto timer = [&](std::string name, Duration delay) {
    order.add(queue, name, delay, [&fired, &allFired](const std::string& firedName, Duration late) {
      fired.push_back({firedName, late});
      if (fired.size() == 5) allFired.set_value();
    });
  };
  timer("c", 30ms);
  timer("a", 10ms);
  timer("a2", 10ms);     // same delay: queueing order
  timer("a3", 10500us);  // due just after a wake-up for the others
  timer("b", 20ms);
  queue.after(Duration::max(), [] { ADD_FAILURE() << "a timer set for never fired"; });
  ASSERT_EQ(allFired.get_future().wait_for(kLimit), std::future_status::ready);

  queue.sync([&] {
    std::vector<std::string> names;
    for (const auto& f : fired) {
      names.push_back(f.name);
      EXPECT_GE(f.late, Duration::zero()) << f.name << " fired early";
    }
    // "a", "a2", "a3", "b", "c" unless the test was preempted while setting
    // them.
    order.expectOrder(names);
  });
}

TEST(SerialQueueTest, CancelledTimerNeverFiresEvenWhenDue) {
  SerialQueue queue;
  std::atomic<int> fired{0};
  Gate gate;
  queue.async([&] { gate.wait(); });  // holds the queue while the timers fall due
  // Both are due at once; the canceller was set first, so it runs first.
  TimerHandle due = queue.after(0ms, [&] { ++fired; });
  TimerHandle sibling;
  queue.after(0ms, [&] { sibling.cancel(); });
  sibling = queue.after(0ms, [&] { ++fired; });
  due.cancel();
  gate.open();

  std::promise<void> end;
  queue.after(5ms, [&] { end.set_value(); });
  ASSERT_EQ(end.get_future().wait_for(kLimit), std::future_status::ready);
  EXPECT_EQ(fired.load(), 0);
}

TEST(SerialQueueTest, DestructionRunsQueuedTasksButNotPendingTimersAndJoins) {
  constexpr int kTasks = 1000;
  auto queue = std::make_unique<SerialQueue>();
  Gate gate;
  int ran = 0;  // read after the join
  bool timerFired = false;
  bool lateTaskRan = false;
  queue->async([&] { gate.wait(); });
  for (int i = 0; i < kTasks; ++i)
    queue->async([&] { ++ran; });
  // The destructor drops pending timers after it stops taking work; dropping
  // this one opens the gate, so the drain below surely runs after that point.
  struct OpenOnDestroy {
    explicit OpenOnDestroy(Gate& g) : gate(g) {}
    Gate& gate;
    ~OpenOnDestroy() { gate.open(); }
  };
  queue->after(
      1h, [opener = std::make_shared<OpenOnDestroy>(gate), &timerFired] { timerFired = true; });
  // Queued while the destructor drains: refused.
  SerialQueue* raw = queue.get();
  queue->async([&] { raw->async([&] { lateTaskRan = true; }); });
  queue.reset();

  EXPECT_EQ(ran, kTasks);
  EXPECT_FALSE(timerFired);
  EXPECT_FALSE(lateTaskRan);
}

TEST(SerialQueueTest, MayBeDestroyedByItsOwnTask) {
  auto* queue = new SerialQueue();
  Gate gate;
  std::promise<bool> drained;
  queue->async([&] { gate.wait(); });  // nothing runs until all three are queued
  queue->async([queue] { delete queue; });
  // Queued before the destructor ran, so it still runs on the detached worker.
  queue->async([&] { drained.set_value(true); });
  gate.open();
  auto future = drained.get_future();
  ASSERT_EQ(future.wait_for(kLimit), std::future_status::ready);
  EXPECT_TRUE(future.get());
}

}  // namespace
}  // namespace dispatch

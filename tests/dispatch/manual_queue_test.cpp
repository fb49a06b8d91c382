#include "dispatch/manual_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(ManualQueueTest, RunsTasksInFifoOrder) {
  ManualQueue q;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i)
    q.async([&order, i] { order.push_back(i); });
  q.async([&] { q.async([&] { order.push_back(99); }); });
  EXPECT_TRUE(order.empty());
  q.runUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 99}));
}

TEST(ManualQueueTest, TimersFireInTimeOrderAndNeverEarly) {
  ManualQueue q;
  std::vector<std::pair<std::string, Duration>> fired;
  auto record = [&](std::string name) {
    return [&, name] { fired.emplace_back(name, q.elapsed()); };
  };
  q.after(300ms, record("c"));
  q.after(100ms, record("a"));
  q.after(100ms, record("a2"));  // same due time: queueing order
  q.after(200ms, [&] {
    fired.emplace_back("b", q.elapsed());
    q.after(50ms, record("nested"));
  });

  q.advance(99ms);
  EXPECT_TRUE(fired.empty());
  q.advance(1s);
  const std::vector<std::pair<std::string, Duration>> expected = {
      {"a", 100ms}, {"a2", 100ms}, {"b", 200ms}, {"nested", 250ms}, {"c", 300ms}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(q.elapsed(), 1099ms);
}

TEST(ManualQueueTest, VirtualClockFollowsElapsedTime) {
  ManualQueue q;
  const WallTime start = q.now();
  WallTime seen;
  q.after(2s, [&] { seen = q.clock().now(); });
  q.advance(5s);
  EXPECT_EQ(seen - start, 2s);
  EXPECT_EQ(q.now() - start, 5s);
}

TEST(ManualQueueTest, CancelledTimerNeverFiresEvenWhenDue) {
  ManualQueue q;
  int fired = 0;
  TimerHandle handle = q.after(1s, [&] { ++fired; });
  TimerHandle other;
  // A timer due at the same moment cancels the second one before it runs.
  q.after(1s, [&] { other.cancel(); });
  other = q.after(1s, [&] { ++fired; });
  handle.cancel();
  handle.cancel();  // idempotent
  q.advance(2s);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(handle.cancelled());
  EXPECT_FALSE(TimerHandle().cancelled());
}

TEST(ManualQueueTest, RunNextTimerJumpsToTheNextDueTime) {
  ManualQueue q;
  int fired = 0;
  q.after(20s, [&] { ++fired; });
  EXPECT_TRUE(q.runNextTimer());
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(q.elapsed(), 20s);
  EXPECT_FALSE(q.runNextTimer());
}

TEST(ManualQueueTest, HugeDelaysSaturateInsteadOfOverflowing) {
  ManualQueue q;
  int fired = 0;
  q.advance(1s);
  q.after(Duration::max(), [&] { ++fired; });
  q.advance(1h);
  EXPECT_EQ(fired, 0);
  q.advance(Duration::max());
  EXPECT_EQ(q.elapsed(), Duration::max());
  EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace dispatch

#include "dispatch/main_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/timer_order.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Bounds every wait in these tests; reaching it means the loop hung.
constexpr Duration kLoopLimit = 10s;

std::unique_ptr<MainLoop> makeLoop() {
  auto loop = MainLoop::create();
  EXPECT_TRUE(loop.ok());
  return std::move(loop).value();
}

struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fds.data()), 0); }
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
  void write(char c) { ASSERT_EQ(::write(fds[1], &c, 1), 1); }
  int readEnd() const { return fds[0]; }
  std::array<int, 2> fds{-1, -1};
};

TEST(MainLoopTest, RunsPostedTasksInFifoOrder) {
  auto loop = makeLoop();
  std::vector<int> order;
  for (int i = 0; i < 5; ++i)
    loop->post([&order, i] { order.push_back(i); });
  loop->async([&] { loop->async([&] { order.push_back(99); }); });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(loop->runUntil([&] { return order.size() == 6; }, kLoopLimit));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 99}));
}

TEST(MainLoopTest, TaskPostedFromAnotherThreadRunsOnTheLoopThread) {
  auto loop = makeLoop();
  std::thread::id ranOn;
  bool ranOnLoop = false;
  bool done = false;
  std::thread poster([&] {
    EXPECT_FALSE(loop->isCurrentThread());
    loop->async([&] {
      ranOn = std::this_thread::get_id();
      ranOnLoop = loop->isCurrentThread();
      done = true;
    });
  });
  // The loop is usually already blocked in poll when the post arrives, so
  // this also shows that a post wakes it.
  EXPECT_TRUE(loop->runUntil([&] { return done; }, kLoopLimit));
  poster.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(ranOnLoop);
}

TEST(MainLoopTest, TimersFireInTimeOrderAndNeverEarly) {
  auto loop = makeLoop();
  struct Fired {
    std::string name;
    Duration late;  // fire time minus due time
  };
  std::vector<Fired> fired;
  TimerOrder order;
  auto timer = [&](std::string name, Duration delay) {
    order.add(*loop, name, delay, [&fired](const std::string& firedName, Duration late) {
      fired.push_back({firedName, late});
    });
  };
  timer("c", 30ms);
  timer("a", 10ms);
  timer("a2", 10ms);     // same delay: queueing order
  timer("a3", 10500us);  // due just after a wake-up for the others
  timer("b", 20ms);
  timer("now", -5ms);  // a past delay runs like async
  EXPECT_TRUE(loop->runUntil([&] { return fired.size() == 6; }, kLoopLimit));

  std::vector<std::string> names;
  for (const auto& f : fired) {
    names.push_back(f.name);
    EXPECT_GE(f.late, Duration::zero()) << f.name << " fired early";
  }
  // "now", "a", "a2", "a3", "b", "c" unless the test was preempted while
  // setting them.
  order.expectOrder(names);
}

TEST(MainLoopTest, CancelledTimerNeverFiresEvenWhenDue) {
  auto loop = makeLoop();
  int fired = 0;
  // Already due before the loop looks at it.
  TimerHandle due = loop->after(0ms, [&] { ++fired; });
  due.cancel();
  // Due at the same moment as the timer that cancels it, and set after it.
  TimerHandle sibling;
  loop->after(5ms, [&] { sibling.cancel(); });
  sibling = loop->after(5ms, [&] { ++fired; });
  // Cancelled from another thread long before it falls due.
  TimerHandle remote = loop->after(10ms, [&] { ++fired; });
  std::thread([remote] { remote.cancel(); }).join();
  bool end = false;
  loop->after(20ms, [&] { end = true; });

  EXPECT_TRUE(loop->runUntil([&] { return end; }, kLoopLimit));
  EXPECT_EQ(fired, 0);
}

TEST(MainLoopTest, RunUntilGivesUpAtItsTimeout) {
  auto loop = makeLoop();
  const auto start = SteadyClock::now();
  EXPECT_FALSE(loop->runUntil([] { return false; }, 20ms));
  EXPECT_GE(SteadyClock::now() - start, 20ms);
}

TEST(MainLoopTest, QuitRunsWhatWasQueuedBeforeIt) {
  auto loop = makeLoop();
  std::vector<std::string> ran;
  loop->async([&] { ran.push_back("a"); });
  loop->async([&] {
    ran.push_back("quit");
    loop->quit();
    loop->async([&] { ran.push_back("after quit"); });
  });
  loop->async([&] { ran.push_back("b"); });
  loop->run();
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "quit", "b"}));

  // The task queued after quit() waits for the next run.
  EXPECT_TRUE(loop->runUntil([&] { return ran.size() == 4; }, kLoopLimit));
  EXPECT_EQ(ran.back(), "after quit");
}

TEST(MainLoopTest, QuitFromAnotherThreadEndsRun) {
  auto loop = makeLoop();
  int ran = 0;
  std::thread other([&] {
    for (int i = 0; i < 100; ++i)
      loop->async([&] { ++ran; });
    loop->quit();
  });
  loop->run();
  other.join();
  EXPECT_EQ(ran, 100);
}

TEST(MainLoopTest, WatchReportsReadableFd) {
  auto loop = makeLoop();
  Pipe pipe;
  std::string received;
  unsigned events = 0;
  WatchHandle handle = loop->watch(pipe.readEnd(), MainLoop::kReadable, [&](unsigned e) {
    events = e;
    char c;
    if (::read(pipe.readEnd(), &c, 1) == 1) received += c;
  });
  EXPECT_TRUE(handle.active());
  std::thread writer([&] { pipe.write('x'); });
  EXPECT_TRUE(loop->runUntil([&] { return received == "x"; }, kLoopLimit));
  writer.join();
  EXPECT_EQ(events, MainLoop::kReadable);

  // The writer hangs up: readable and hang-up together.
  ::close(pipe.fds[1]);
  pipe.fds[1] = -1;
  EXPECT_TRUE(loop->runUntil([&] { return (events & MainLoop::kHangup) != 0; }, kLoopLimit));
}

TEST(MainLoopTest, CallbackMayRemoveItsOwnAndAnotherWatch) {
  auto loop = makeLoop();
  Pipe first, second;
  first.write('1');
  second.write('2');
  std::vector<WatchHandle> handles(2);
  int calls = 0;
  auto removeBoth = [&](unsigned) {
    ++calls;
    handles[0].cancel();
    handles[1] = WatchHandle();  // destruction removes too
  };
  handles[0] = loop->watch(first.readEnd(), MainLoop::kReadable, removeBoth);
  handles[1] = loop->watch(second.readEnd(), MainLoop::kReadable, removeBoth);
  // Both fds stay readable; only the first callback of the pass may run.
  bool end = false;
  loop->after(20ms, [&] { end = true; });
  EXPECT_TRUE(loop->runUntil([&] { return end; }, kLoopLimit));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(handles[0].active());
}

TEST(MainLoopTest, DroppedHandleStopsTheWatch) {
  auto loop = makeLoop();
  Pipe pipe;
  pipe.write('x');
  int calls = 0;
  {
    WatchHandle handle =
        loop->watch(pipe.readEnd(), MainLoop::kReadable, [&](unsigned) { ++calls; });
  }
  bool end = false;
  loop->after(10ms, [&] { end = true; });
  EXPECT_TRUE(loop->runUntil([&] { return end; }, kLoopLimit));
  EXPECT_EQ(calls, 0);
}

TEST(MainLoopTest, WatchOnClosedFdReportsErrorOnceAndIsRemoved) {
  auto loop = makeLoop();
  int fd;
  {
    Pipe pipe;
    fd = pipe.readEnd();
  }  // closed without removing the watch first
  std::vector<unsigned> events;
  WatchHandle handle =
      loop->watch(fd, MainLoop::kReadable, [&](unsigned e) { events.push_back(e); });
  bool end = false;
  loop->after(20ms, [&] { end = true; });
  EXPECT_TRUE(loop->runUntil([&] { return end; }, kLoopLimit));
  EXPECT_EQ(events, (std::vector<unsigned>{MainLoop::kError}));
  EXPECT_FALSE(handle.active());
}

TEST(MainLoopTest, HandlesAndTasksMayOutliveTheLoop) {
  auto loop = makeLoop();
  Pipe pipe;
  WatchHandle handle = loop->watch(pipe.readEnd(), MainLoop::kReadable, [](unsigned) {});
  TimerHandle timer = loop->after(1h, [] {});
  auto shared = std::make_shared<int>(1);
  loop->async([shared] {});
  loop.reset();  // pending tasks are destroyed, not run
  EXPECT_EQ(shared.use_count(), 1);
  EXPECT_FALSE(handle.active());
  handle.cancel();
  timer.cancel();
}

// Whether the host would be woken now: the wake fd (first of the fds) is readable.
bool hostWoken(const MainLoop::HostWaits& waits) {
  pollfd fd{waits.fds.front().first, POLLIN, 0};
  return ::poll(&fd, 1, 0) == 1;
}

TEST(MainLoopTest, HostedLoopWakesItsHostForEveryChange) {
  auto loop = makeLoop();
  loop->setHosted();
  auto waits = loop->runPending();
  EXPECT_FALSE(hostWoken(waits));
  EXPECT_FALSE(waits.nextTimer);

  std::vector<std::string> ran;
  // A post from the loop's own thread wakes the host too.
  loop->post([&] { ran.push_back("posted"); });
  EXPECT_TRUE(hostWoken(waits));
  waits = loop->runPending();
  EXPECT_EQ(ran, std::vector<std::string>{"posted"});
  EXPECT_FALSE(hostWoken(waits));

  const auto before = std::chrono::steady_clock::now();
  auto timer = loop->after(std::chrono::hours(1), [&] { ran.push_back("late"); });
  EXPECT_TRUE(hostWoken(waits));
  waits = loop->runPending();
  ASSERT_TRUE(waits.nextTimer);
  EXPECT_GE(*waits.nextTimer, before + std::chrono::hours(1));
  timer.cancel();

  loop->after(std::chrono::seconds(0), [&] { ran.push_back("due"); });
  // A task that posts again leaves the loop busy.
  loop->post([&] { loop->post([&] { ran.push_back("again"); }); });
  waits = loop->runPending();
  EXPECT_TRUE(waits.busy);
  waits = loop->runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"posted", "due", "again"}));
  EXPECT_FALSE(waits.busy);

  loop->quit();
  EXPECT_TRUE(loop->runPending().quit);
  EXPECT_FALSE(loop->runPending().quit);
}

TEST(MainLoopTest, HostedLoopNamesItsWatchesAndRunsThoseReady) {
  auto loop = makeLoop();
  loop->setHosted();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int calls = 0;
  auto handle = loop->watch(fds[0], MainLoop::kReadable, [&](unsigned) {
    char c;
    EXPECT_EQ(::read(fds[0], &c, 1), 1);
    ++calls;
  });
  auto waits = loop->runPending();
  ASSERT_EQ(waits.fds.size(), 2u);
  EXPECT_EQ(waits.fds[1], (std::pair<int, unsigned>{fds[0], MainLoop::kReadable}));
  EXPECT_EQ(calls, 0);

  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  waits = loop->runPending();
  EXPECT_EQ(calls, 1);

  // Removing a watch wakes the host, which then waits without it.
  handle.cancel();
  EXPECT_TRUE(hostWoken(waits));
  EXPECT_EQ(loop->runPending().fds.size(), 1u);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace dispatch

// Thread listing and suspension with real threads, in child processes (the
// suspension signal's action is process-wide, and a thread that blocks the
// signal keeps it pending).

#include "crashcapture/platform/linux/thread_suspender.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "crashcapture/child_process.h"
#include "crashcapture/platform/linux/thread_list.h"

// The bounds of the section that holds spinInKnownFunction alone; the linker
// defines them for a section whose name is an identifier.
extern "C" const char __start_tlcrash_spin_text[];
extern "C" const char __stop_tlcrash_spin_text[];

namespace tlcrash {
namespace {

using testing::childSay;
using testing::runInChild;

// Read and written with the compiler's atomic built-ins, which stay inline at
// every optimization level (a call would leave the spinning function).
int gSpin = 1;

// Spins without calling anything, so its instruction pointer stays inside it.
extern "C" __attribute__((noinline, section("tlcrash_spin_text"))) void spinInKnownFunction(
    std::atomic<bool>* started) {
  started->store(true);
  while (__atomic_load_n(&gSpin, __ATOMIC_RELAXED) != 0)
    asm volatile("pause");
}

std::vector<tlcrash_thread_t> listThreads() {
  std::vector<tlcrash_thread_t> threads(ThreadSuspender::kMaxThreads);
  std::size_t count = 0;
  if (tlcrash_linux_task_threads(threads.data(), threads.size(), &count) !=
      tlcrash_error_t::success)
    return {};
  threads.resize(count);
  return threads;
}

TEST(ThreadListTest, ListsEveryThreadOfTheProcessAndSaysWhenThereAreMore) {
  std::atomic<bool> stop{false};
  std::atomic<pid_t> workerId{0};
  std::thread worker([&] {
    workerId = ::gettid();
    while (!stop)
      std::this_thread::yield();
  });
  while (workerId == 0)
    std::this_thread::yield();
  const auto threads = listThreads();
  EXPECT_NE(std::find(threads.begin(), threads.end(), ::gettid()), threads.end());
  EXPECT_NE(std::find(threads.begin(), threads.end(), workerId.load()), threads.end());

  tlcrash_thread_t one = 0;
  std::size_t count = 7;
  EXPECT_EQ(tlcrash_linux_task_threads(&one, 1, &count), tlcrash_error_t::noMemory);
  EXPECT_EQ(count, 1u);
  EXPECT_NE(one, 0);
  stop = true;
  worker.join();
}

TEST(ThreadSuspenderTest, SnapshotsASpinningThreadAndGivesUpOnOneThatBlocksTheSignal) {
  const auto outcome = runInChild([](int fd) {
    ThreadSuspender suspender;
    ReporterError error;
    if (!suspender.arm(&error)) {
      childSay(fd, "arm failed: " + error.description());
      return;
    }
    std::atomic<bool> spinning{false};
    std::atomic<pid_t> spinnerId{0};
    std::thread spinner([&] {
      spinnerId = ::gettid();
      spinInKnownFunction(&spinning);
    });
    std::atomic<bool> blocking{false};
    std::atomic<bool> stopBlocker{false};
    std::atomic<pid_t> blockerId{0};
    std::thread blocker([&] {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, ThreadSuspender::defaultSignal());
      ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
      blockerId = ::gettid();
      blocking = true;
      while (!stopBlocker)
        ::usleep(1000);
    });
    while (!spinning || !blocking)
      std::this_thread::yield();

    constexpr std::int64_t kBound = 300'000'000;
    timespec before{}, after{};
    ::clock_gettime(CLOCK_MONOTONIC, &before);
    const tlcrash_error_t result = suspender.suspendOthers(kBound);
    ::clock_gettime(CLOCK_MONOTONIC, &after);
    // While the others are stopped the spinner's flag cannot change; read the
    // snapshots before letting them go.
    std::string report;
    for (const ThreadSnapshot& snapshot : suspender.snapshots()) {
      if (snapshot.thread == ::gettid()) {
        report += snapshot.status == ThreadSnapshotStatus::self ? "self " : "self? ";
      } else if (snapshot.thread == spinnerId) {
        const auto rip = static_cast<std::uintptr_t>(snapshot.gregs[REG_RIP]);
        const bool inside = rip >= reinterpret_cast<std::uintptr_t>(__start_tlcrash_spin_text) &&
                            rip < reinterpret_cast<std::uintptr_t>(__stop_tlcrash_spin_text);
        report +=
            snapshot.status == ThreadSnapshotStatus::captured ? "spinner:captured" : "spinner:?";
        report += inside ? ":in-function " : ":elsewhere ";
      } else if (snapshot.thread == blockerId) {
        report +=
            snapshot.status == ThreadSnapshotStatus::noState ? "blocker:noState " : "blocker:? ";
      }
    }
    suspender.resumeAll();
    const std::int64_t elapsed =
        (after.tv_sec - before.tv_sec) * 1'000'000'000LL + (after.tv_nsec - before.tv_nsec);
    report += result == tlcrash_error_t::success ? "ok" : "error";
    // The blocker makes the round wait for the whole bound, and no longer
    // (generously: a loaded machine may wake the waiter late).
    if (elapsed < kBound) report += " early";
    if (elapsed > kBound + 2'000'000'000LL) report += " late";

    __atomic_store_n(&gSpin, 0, __ATOMIC_RELAXED);
    stopBlocker = true;
    spinner.join();
    blocker.join();
    suspender.disarm();
    childSay(fd, report);
  });
  EXPECT_TRUE(outcome.exited) << outcome.signal;
  EXPECT_EQ(outcome.output, "self spinner:captured:in-function blocker:noState ok");
}

TEST(ThreadSuspenderTest, AnsweringThreadsEndTheWaitAtOnceAndEachRoundTakesNewSnapshots) {
  const auto outcome = runInChild([](int fd) {
    ThreadSuspender suspender;
    ReporterError error;
    if (!suspender.arm(&error)) {
      childSay(fd, "arm failed: " + error.description());
      return;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
      workers.emplace_back([&] {
        ++ready;
        while (!stop)
          ::usleep(500);
      });
    }
    while (ready < 4)
      std::this_thread::yield();
    std::string report;
    for (int round = 0; round < 3; ++round) {
      // A bound far beyond what answering threads need: the round ends when
      // the last one answers.
      timespec before{}, after{};
      ::clock_gettime(CLOCK_MONOTONIC, &before);
      const tlcrash_error_t result = suspender.suspendOthers(20'000'000'000LL);
      ::clock_gettime(CLOCK_MONOTONIC, &after);
      int captured = 0;
      for (const ThreadSnapshot& snapshot : suspender.snapshots())
        captured += snapshot.status == ThreadSnapshotStatus::captured ? 1 : 0;
      suspender.resumeAll();
      report += std::to_string(captured) + (result == tlcrash_error_t::success ? " " : "! ");
      if (after.tv_sec - before.tv_sec > 10) report += "(waited for the bound) ";
    }
    stop = true;
    for (auto& worker : workers)
      worker.join();
    childSay(fd, report);
  });
  EXPECT_TRUE(outcome.exited) << outcome.signal;
  EXPECT_EQ(outcome.output, "4 4 4 ");
}

ThreadSuspender* gHandlerSuspender = nullptr;
int gHandlerFd = -1;

// A crash handler's use: the round taken inside a signal handler on a
// 64 KiB alternate stack.
void suspendInHandler(int, siginfo_t*, void*) {
  const tlcrash_error_t result = gHandlerSuspender->suspendOthers(20'000'000'000LL);
  int captured = 0;
  for (const ThreadSnapshot& snapshot : gHandlerSuspender->snapshots())
    captured += snapshot.status == ThreadSnapshotStatus::captured ? 1 : 0;
  gHandlerSuspender->resumeAll();
  childSay(gHandlerFd, result == tlcrash_error_t::success ? "ok " : "error ");
  childSay(gHandlerFd, captured == 2 ? "2 captured" : "wrong count");
}

TEST(ThreadSuspenderTest, ARoundWorksInsideASignalHandlerOnAnAlternateStack) {
  const auto outcome = runInChild([](int fd) {
    ThreadSuspender suspender;
    ReporterError error;
    if (!suspender.arm(&error)) return;
    gHandlerSuspender = &suspender;
    gHandlerFd = fd;
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) {
      workers.emplace_back([&] {
        ++ready;
        while (!stop)
          ::usleep(500);
      });
    }
    while (ready < 2)
      std::this_thread::yield();
    std::vector<char> stackMemory(64 * 1024);
    stack_t stack{};
    stack.ss_sp = stackMemory.data();
    stack.ss_size = stackMemory.size();
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = suspendInHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ::sigaction(SIGUSR1, &action, nullptr);
    ::raise(SIGUSR1);
    stop = true;
    for (auto& worker : workers)
      worker.join();
  });
  EXPECT_TRUE(outcome.exited) << outcome.signal;
  EXPECT_EQ(outcome.output, "ok 2 captured");
}

TEST(ThreadSuspenderTest, OneSuspenderIsArmedAtATimeAndAnUnarmedOneRefusesARound) {
  const auto outcome = runInChild([](int fd) {
    ThreadSuspender first;
    ThreadSuspender second;
    ReporterError error;
    std::string report;
    report += first.arm(&error) ? "armed " : "refused ";
    report += second.arm(&error) ? "armed " : "refused ";
    report += second.suspendOthers() == tlcrash_error_t::internal ? "internal " : "? ";
    first.disarm();
    report += second.arm(&error) ? "armed" : "refused";
    childSay(fd, report);
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.output, "armed refused internal armed");
}

}  // namespace
}  // namespace tlcrash

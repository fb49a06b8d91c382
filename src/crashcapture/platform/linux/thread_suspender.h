#pragma once

// Stops the other threads of the process for a crash report and keeps a
// snapshot of each one's registers. Linux has no call that suspends another
// thread of one's own process, so each thread is sent a real-time signal; its
// handler saves the registers the kernel stored in the signal's user context,
// says so, and waits until the report releases it. A thread that does not
// answer in time (it blocks the signal, sleeps uninterruptibly, or its stack
// is unusable) is marked as having no state and is written without frames.
//
// Set-up (construction, arm, disarm) is not for the crash path; the round
// (suspendOthers, snapshots, resumeAll) is, and belongs to one caller at a
// time.

#include <signal.h>
#include <sys/ucontext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/reporter_error.h"
#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

enum class ThreadSnapshotStatus : std::uint32_t {
  self,      // the thread that called suspendOthers: its state is its own to take
  captured,  // answered: `gregs` holds its registers
  noState,   // did not answer in time, or ended before it was asked
};

struct ThreadSnapshot {
  tlcrash_thread_t thread;
  ThreadSnapshotStatus status;
  // The general registers as the kernel saved them when the thread took the
  // signal, indexed by REG_R8 ... REG_CR2 of <sys/ucontext.h> (REG_RIP is the
  // instruction pointer, REG_RSP the stack pointer, REG_RBP the frame
  // pointer). Meaningful only when `status` is captured.
  gregset_t gregs;
};

class ThreadSuspender {
 public:
  // The most threads one round lists; any beyond are neither listed nor
  // stopped.
  static constexpr std::size_t kMaxThreads = 1024;
  // How long suspendOthers waits for the threads to answer, by default.
  static constexpr std::int64_t kDefaultTimeoutNanoseconds = 250'000'000;

  // The signal the Linux layer uses, SIGRTMIN + 4.
  static int defaultSignal();

  explicit ThreadSuspender(int signo = defaultSignal());
  ~ThreadSuspender();
  ThreadSuspender(const ThreadSuspender&) = delete;
  ThreadSuspender& operator=(const ThreadSuspender&) = delete;

  // Installs the signal's handler. One suspender is armed per process at a
  // time; a second arm fails (code 1, no underlying error). Not crash path.
  bool arm(ReporterError* error);
  // Restores the signal's previous action. Not crash path.
  void disarm();

  // Lists the threads of the process, signals every other one and waits, at
  // most `timeoutNanoseconds` in all, until each has saved its registers.
  // Afterwards snapshots() holds every listed thread. noMemory when the
  // process has more than kMaxThreads threads (those beyond are neither listed
  // nor stopped); internal when the thread list cannot be read or the
  // suspender is not armed. Every call needs a resumeAll() after it.
  // Crash path: async-signal-safe.
  tlcrash_error_t suspendOthers(
      std::int64_t timeoutNanoseconds = kDefaultTimeoutNanoseconds) noexcept;

  // The threads of the last round, in the order /proc lists them.
  // Crash path: async-signal-safe.
  std::span<const ThreadSnapshot> snapshots() const noexcept {
    return {snapshots_.get(), count_.load(std::memory_order_acquire)};
  }

  // Lets every stopped thread run on. A thread whose signal arrives later
  // (it unblocks it) finds the round over and returns at once.
  // Crash path: async-signal-safe.
  void resumeAll() noexcept;

 private:
  struct SlotControl {
    std::atomic<tlcrash_thread_t> thread{0};
    std::atomic<std::uint32_t> round{0};
    std::atomic<std::uint32_t> state{0};
  };

  static void onSignal(int signo, siginfo_t* info, void* uap);
  void answer(const ucontext_t* context) noexcept;

  int signo_;
  struct sigaction previous_ {};
  bool armed_ = false;
  std::unique_ptr<SlotControl[]> slots_;
  std::unique_ptr<ThreadSnapshot[]> snapshots_;
  std::unique_ptr<tlcrash_thread_t[]> threads_;
  std::atomic<std::size_t> count_{0};
  std::atomic<std::uint32_t> round_{0};     // the round being taken or last taken
  std::atomic<std::uint32_t> released_{0};  // the last round released
  std::atomic<std::uint32_t> answered_{0};  // answers in the current round
};

}  // namespace tlcrash

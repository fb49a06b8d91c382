#include "crashcapture/platform/linux/thread_suspender.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "crashcapture/platform/linux/thread_list.h"

namespace tlcrash {
namespace {

enum SlotState : std::uint32_t {
  kIdle = 0,
  kSelf,
  kPending,    // signalled, no answer yet
  kAnswering,  // the thread's handler is saving its registers
  kAnswered,
  kNoState,
};

// The armed suspender, reached from the signal handler.
std::atomic<ThreadSuspender*> gArmed{nullptr};

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

std::uint32_t* futexWord(std::atomic<std::uint32_t>* word) {
  return reinterpret_cast<std::uint32_t*>(word);
}

void futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, const timespec* timeout) {
  ::syscall(SYS_futex, futexWord(word), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

void futexWake(std::atomic<std::uint32_t>* word, int count) {
  ::syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

std::int64_t monotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

int ThreadSuspender::defaultSignal() {
  return SIGRTMIN + 4;
}

// The thread list and the snapshots are left uninitialised: a round writes
// every entry it lists before anything reads it, and until then the arrays
// (about 200 KB) take no memory.
ThreadSuspender::ThreadSuspender(int signo)
    : signo_(signo),
      slots_(new SlotControl[kMaxThreads]),
      snapshots_(new ThreadSnapshot[kMaxThreads]),
      threads_(new tlcrash_thread_t[kMaxThreads]) {}

ThreadSuspender::~ThreadSuspender() {
  disarm();
}

bool ThreadSuspender::arm(ReporterError* error) {
  ThreadSuspender* expected = nullptr;
  if (!gArmed.compare_exchange_strong(expected, this)) {
    if (expected == this) return true;
    tlcrash_populate_error(error, TLCrashReporterError::operatingSystem,
                           "Another thread suspender is armed");
    return false;
  }
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  if (::sigaction(signo_, &action, &previous_) != 0) {
    const int cause = errno;
    gArmed.store(nullptr);
    tlcrash_populate_posix_error(error, cause, "Failed to register signal handler");
    return false;
  }
  armed_ = true;
  return true;
}

void ThreadSuspender::disarm() {
  if (!armed_) return;
  ::sigaction(signo_, &previous_, nullptr);
  armed_ = false;
  gArmed.store(nullptr);
}

void ThreadSuspender::onSignal(int, siginfo_t*, void* uap) {
  const int savedErrno = errno;
  ThreadSuspender* suspender = gArmed.load(std::memory_order_acquire);
  if (suspender != nullptr) suspender->answer(static_cast<const ucontext_t*>(uap));
  errno = savedErrno;
}

void ThreadSuspender::answer(const ucontext_t* context) noexcept {
  const std::uint32_t round = round_.load(std::memory_order_seq_cst);
  if (round == 0 || released_.load(std::memory_order_seq_cst) >= round) return;
  const tlcrash_thread_t self = static_cast<tlcrash_thread_t>(::gettid());
  const std::size_t count = count_.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < count; ++i) {
    SlotControl& slot = slots_[i];
    // The round first: its store comes after the thread's, so a slot of this
    // round shows this round's thread.
    if (slot.round.load(std::memory_order_acquire) != round ||
        slot.thread.load(std::memory_order_acquire) != self)
      continue;
    std::uint32_t expected = kPending;
    // Too late (the round gave up on this thread) or already answered.
    if (!slot.state.compare_exchange_strong(expected, kAnswering)) return;
    for (int reg = 0; reg < NGREG; ++reg)
      snapshots_[i].gregs[reg] = context->uc_mcontext.gregs[reg];
    slot.state.store(kAnswered, std::memory_order_release);
    answered_.fetch_add(1, std::memory_order_seq_cst);
    futexWake(&answered_, 1);
    // Stay stopped until the report is done with this round.
    for (;;) {
      const std::uint32_t released = released_.load(std::memory_order_seq_cst);
      if (released >= round) break;
      futexWait(&released_, released, nullptr);
    }
    return;
  }
}

tlcrash_error_t ThreadSuspender::suspendOthers(std::int64_t timeoutNanoseconds) noexcept {
  if (gArmed.load(std::memory_order_acquire) != this) {
    count_.store(0, std::memory_order_release);
    return tlcrash_error_t::internal;
  }
  const int savedErrno = errno;
  const std::int64_t deadline = monotonicNanoseconds() + timeoutNanoseconds;
  std::size_t listed = 0;
  const tlcrash_error_t listResult =
      tlcrash_linux_task_threads(threads_.get(), kMaxThreads, &listed);
  if (listResult == tlcrash_error_t::internal) {
    count_.store(0, std::memory_order_release);
    errno = savedErrno;
    return listResult;
  }

  // Fill the slots, then publish the round: a handler reads the round first.
  const std::uint32_t round = round_.load(std::memory_order_relaxed) + 1;
  const tlcrash_thread_t self = static_cast<tlcrash_thread_t>(::gettid());
  answered_.store(0, std::memory_order_seq_cst);
  for (std::size_t i = 0; i < listed; ++i) {
    snapshots_[i].thread = threads_[i];
    slots_[i].thread.store(threads_[i], std::memory_order_relaxed);
    slots_[i].state.store(threads_[i] == self ? kSelf : kPending, std::memory_order_relaxed);
    slots_[i].round.store(round, std::memory_order_release);
  }
  count_.store(listed, std::memory_order_seq_cst);
  round_.store(round, std::memory_order_seq_cst);

  const pid_t pid = ::getpid();
  std::uint32_t asked = 0;
  for (std::size_t i = 0; i < listed; ++i) {
    if (threads_[i] == self) continue;
    if (::syscall(SYS_tgkill, pid, threads_[i], signo_) == 0) {
      ++asked;
    } else {
      // Ended since it was listed.
      slots_[i].state.store(kNoState, std::memory_order_seq_cst);
    }
  }

  for (;;) {
    const std::uint32_t answers = answered_.load(std::memory_order_seq_cst);
    if (answers >= asked) break;
    const std::int64_t remaining = deadline - monotonicNanoseconds();
    if (remaining <= 0) break;
    const timespec wait{static_cast<time_t>(remaining / 1'000'000'000),
                        static_cast<long>(remaining % 1'000'000'000)};
    futexWait(&answered_, answers, &wait);
  }

  for (std::size_t i = 0; i < listed; ++i) {
    SlotControl& slot = slots_[i];
    std::uint32_t state = kPending;
    // Give up on a thread that has not begun to answer; one that has is in
    // the middle of a short copy and is waited for.
    if (!slot.state.compare_exchange_strong(state, kNoState)) {
      while (state == kAnswering) {
        ::sched_yield();
        state = slot.state.load(std::memory_order_acquire);
      }
    } else {
      state = kNoState;
    }
    snapshots_[i].status = state == kAnswered ? ThreadSnapshotStatus::captured
                           : state == kSelf   ? ThreadSnapshotStatus::self
                                              : ThreadSnapshotStatus::noState;
  }
  errno = savedErrno;
  return listResult;
}

void ThreadSuspender::resumeAll() noexcept {
  const int savedErrno = errno;
  released_.store(round_.load(std::memory_order_seq_cst), std::memory_order_seq_cst);
  futexWake(&released_, INT_MAX);
  errno = savedErrno;
}

}  // namespace tlcrash

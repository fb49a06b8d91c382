// The signal handler with real signals. Every test runs in a child process:
// handlers, once installed, stay for the life of the process.

#include "crashcapture/capture/reporter_setup/signal_handler.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "crashcapture/child_process.h"

namespace tlcrash {
namespace {

using testing::childSay;
using testing::runInChild;

int gFd = -1;

// A callback that says its name (its context), checks it runs on the
// alternate stack, then passes the signal on.
bool passOn(int signo, siginfo_t* info, ucontext_t* uap, void* context,
            TLCrashSignalHandlerCallback* next) {
  childSay(gFd, static_cast<const char*>(context));
  stack_t current{};
  if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_ONSTACK) == 0)
    childSay(gFd, "(not on the alternate stack)");
  return tlcrash_signal_handler_callback_next(next, signo, info, uap);
}

// A callback that keeps the signal to itself, unhandled.
bool swallow(int, siginfo_t*, ucontext_t*, void* context, TLCrashSignalHandlerCallback*) {
  childSay(gFd, static_cast<const char*>(context));
  return false;
}

void previousWithInfo(int, siginfo_t* info, void*) {
  childSay(gFd, info != nullptr && info->si_code == SI_TKILL ? "previous(info) " : "previous(?) ");
}
void previousPlain(int) {
  childSay(gFd, "previous(plain) ");
}

bool registerOrSay(int fd, int signo, TLCrashSignalHandlerCallbackFunc callback, const char* name) {
  ReporterError error;
  if (TLCrashSignalHandler::sharedHandler()->registerHandlerForSignal(
          signo, callback, const_cast<char*>(name), &error))
    return true;
  childSay(fd, "register failed: " + error.description());
  return false;
}

TEST(TLCrashSignalHandlerTest, LaterCallbacksRunFirstAndThePreviousHandlerLast) {
  struct Case {
    const char* label;
    bool withInfo;
    const char* expected;
  };
  const Case cases[] = {
      {"SA_SIGINFO previous", true, "second first previous(info) survived"},
      {"plain previous", false, "second first previous(plain) survived"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto outcome = runInChild([&c](int fd) {
      gFd = fd;
      struct sigaction previous {};
      if (c.withInfo) {
        previous.sa_sigaction = previousWithInfo;
        previous.sa_flags = SA_SIGINFO;
      } else {
        previous.sa_handler = previousPlain;
      }
      ::sigaction(SIGUSR1, &previous, nullptr);
      if (!registerOrSay(fd, SIGUSR1, passOn, "first ")) return;
      if (!registerOrSay(fd, SIGUSR1, passOn, "second ")) return;
      ::raise(SIGUSR1);
      childSay(fd, "survived");
    });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.output, c.expected);
  }
}

TEST(TLCrashSignalHandlerTest, ThePreviousDispositionDecidesWhetherTheSignalIsReRaised) {
  struct Case {
    const char* label;
    void (*previous)(int);
    bool survives;
  };
  const Case cases[] = {
      {"SIG_IGN: handled, nothing called", SIG_IGN, true},
      {"SIG_DFL: re-raised", SIG_DFL, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto outcome = runInChild([&c](int fd) {
      gFd = fd;
      ::signal(SIGUSR2, c.previous);
      if (!registerOrSay(fd, SIGUSR2, passOn, "ours ")) return;
      ::raise(SIGUSR2);
      childSay(fd, "survived");
    });
    if (c.survives) {
      EXPECT_TRUE(outcome.exited);
      EXPECT_EQ(outcome.output, "ours survived");
    } else {
      EXPECT_EQ(outcome.signal, SIGUSR2);
      EXPECT_EQ(outcome.output, "ours ");
    }
  }
}

TEST(TLCrashSignalHandlerTest, AFaultNobodyHandlesEndsTheProcessWithTheSameSignal) {
  const auto outcome = runInChild([](int fd) {
    gFd = fd;
    // A previous handler that would hide the fault; our callback does not
    // pass the signal on, so it is never reached.
    ::signal(SIGSEGV, previousPlain);
    if (!registerOrSay(fd, SIGSEGV, swallow, "ours ")) return;
    // A page that may not be touched (not null, which the sanitizers would
    // catch before the processor does).
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return;
    *static_cast<volatile int*>(page) = 1;
    childSay(fd, "survived");
  });
  EXPECT_EQ(outcome.signal, SIGSEGV);
  EXPECT_EQ(outcome.output, "ours ");
}

TEST(TLCrashSignalHandlerTest, RegisteringASignalTwiceForwardsToThePreviousHandlerOnce) {
  const auto outcome = runInChild([](int fd) {
    gFd = fd;
    ::signal(SIGUSR1, previousPlain);
    if (!registerOrSay(fd, SIGUSR1, passOn, "a ")) return;
    if (!registerOrSay(fd, SIGUSR2, passOn, "b ")) return;
    if (!registerOrSay(fd, SIGUSR1, passOn, "c ")) return;
    ::raise(SIGUSR1);
    childSay(fd, "survived");
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.output, "c b a previous(plain) survived");
}

TEST(TLCrashSignalHandlerTest, AfterAResetASignalIsReRaisedAndRegistrationWorksAgain) {
  const auto outcome = runInChild([](int fd) {
    gFd = fd;
    ::signal(SIGUSR1, previousPlain);
    if (!registerOrSay(fd, SIGUSR1, passOn, "before ")) return;
    TLCrashSignalHandler::resetHandlers();
    // Our handler is what sigaction now gives back as the previous action;
    // forwarding must not loop back into it.
    if (!registerOrSay(fd, SIGUSR1, passOn, "after ")) return;
    ::raise(SIGUSR1);
    childSay(fd, "survived");
  });
  EXPECT_EQ(outcome.signal, SIGUSR1);
  EXPECT_EQ(outcome.output, "after ");
}

TEST(TLCrashSignalHandlerTest, AnEmptyChainReRaises) {
  const auto outcome = runInChild([](int fd) {
    gFd = fd;
    if (!registerOrSay(fd, SIGUSR1, passOn, "ours ")) return;
    TLCrashSignalHandler::resetHandlers();
    ::raise(SIGUSR1);
    childSay(fd, "survived");
  });
  EXPECT_EQ(outcome.signal, SIGUSR1);
  EXPECT_EQ(outcome.output, "");
}

TEST(TLCrashSignalHandlerTest, AnInvalidSignalIsRefusedWithThePosixError) {
  const auto outcome = runInChild([](int fd) {
    ReporterError error;
    if (TLCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGKILL, passOn, nullptr,
                                                                        &error)) {
      childSay(fd, "registered");
      return;
    }
    childSay(fd, error.description() + " " + std::to_string(error.code()) + " " +
                     (error.underlying ? std::to_string(error.underlying->code) : "-"));
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.output, "Failed to register signal handler 1 " + std::to_string(EINVAL));
}

}  // namespace
}  // namespace tlcrash

#include "crashcapture/readers/core/signal_names.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

namespace tlcrash {
namespace {

std::string text(const char* name) {
  return name != nullptr ? name : "(none)";
}

// Rows use the host's <signal.h> constants: on Linux SIGBUS is 7 and SIGUSR1
// is 10, where the numbering the report format came from has SIGEMT and
// SIGBUS.
TEST(SignalNamesTest, NamesTheHostsSignalNumbers) {
  struct Case {
    int signal;
    const char* name;
  };
  const Case cases[] = {
      {SIGHUP, "SIGHUP"},     {SIGILL, "SIGILL"},      {SIGTRAP, "SIGTRAP"},
      {SIGABRT, "SIGABRT"},  // not SIGIOT, which shares the number
      {SIGBUS, "SIGBUS"},     {SIGFPE, "SIGFPE"},      {SIGKILL, "SIGKILL"},
      {SIGUSR1, "SIGUSR1"},   {SIGSEGV, "SIGSEGV"},    {SIGUSR2, "SIGUSR2"},
      {SIGPIPE, "SIGPIPE"},   {SIGTERM, "SIGTERM"},    {SIGCHLD, "SIGCHLD"},
      {SIGCONT, "SIGCONT"},   {SIGSTOP, "SIGSTOP"},    {SIGTSTP, "SIGTSTP"},
      {SIGURG, "SIGURG"},     {SIGIO, "SIGIO"},        {SIGVTALRM, "SIGVTALRM"},
      {SIGWINCH, "SIGWINCH"}, {SIGSYS, "SIGSYS"},      {0, nullptr},
      {-1, nullptr},          {SIGRTMIN + 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    EXPECT_EQ(text(tlcrash_async_signal_signame(c.signal)), text(c.name));
  }
}

TEST(SignalNamesTest, NamesTheHostsSignalCodes) {
  struct Case {
    int signal;
    int code;
    const char* name;
  };
  const Case cases[] = {
      {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
      {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
      {SIGSEGV, 0, "SEGV_NOOP"},
      {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},
      {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},
      {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},  // what ud2 raises on Linux
      {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"},
      {SIGILL, ILL_BADSTK, "ILL_BADSTK"},
      {SIGILL, 0, "ILL_NOOP"},
      {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},  // an integer division by zero on Linux
      {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"},
      {SIGFPE, FPE_FLTSUB, "FPE_FLTSUB"},
      {SIGFPE, 0, "FPE_NOOP"},
      {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
      {SIGTRAP, TRAP_TRACE, "TRAP_TRACE"},
      {SIGTRAP, 0, "#0"},
      {SIGABRT, 0, "#0"},
      {SIGABRT, SI_TKILL, nullptr},   // what abort() raises on Linux
      {SIGTRAP, SI_KERNEL, nullptr},  // what int3 raises on Linux
      {SIGSEGV, 3, nullptr},
      {SIGTERM, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.signal << "/" << c.code);
    EXPECT_EQ(text(tlcrash_async_signal_sigcode(c.signal, c.code)), text(c.name));
  }
}

}  // namespace
}  // namespace tlcrash

// The mapping from a Mach exception to the signal that reports it, and the
// exception mask of the reporter's server.

#include <gtest/gtest.h>

#include <csignal>

#include "crashcapture/capture/simulated_mach/mach_exception.h"

namespace tlcrash {
namespace {

TEST(MachExceptionTest, ExceptionsMapToSignalsCodesAndTheSecondCodeAsAddress) {
  struct Case {
    exception_type_t type;
    mach_exception_data_type_t first;
    bool mapped;
    int signo;
    int code;
  };
  const Case cases[] = {
      {EXC_BAD_ACCESS, KERN_INVALID_ADDRESS, true, SIGSEGV, 1},    // SEGV_MAPERR
      {EXC_BAD_ACCESS, KERN_PROTECTION_FAILURE, true, SIGBUS, 2},  // BUS_ADRERR
      {EXC_BAD_INSTRUCTION, 1, true, SIGILL, 0},
      {EXC_ARITHMETIC, 1, true, SIGFPE, 0},
#ifdef SIGEMT
      {EXC_EMULATION, 0, true, SIGEMT, 0},
#else
      {EXC_EMULATION, 0, false, 0, 0},  // the host has no SIGEMT
#endif
      {EXC_SOFTWARE, 0x10000, true, SIGSYS, 0},
      {EXC_SOFTWARE, 0x10001, true, SIGPIPE, 0},
      {EXC_SOFTWARE, 0x10002, true, SIGABRT, 0},
      {EXC_SOFTWARE, 0x10003, true, SIGKILL, 0},
      {EXC_SOFTWARE, 0x20000, true, SIGABRT, 0},
      {EXC_BREAKPOINT, 1, true, SIGTRAP, 1},  // TRAP_BRKPT
      {0, 0, false, 0, 0},
      {7, 0, false, 0, 0},
      {EXC_GUARD, 0, false, 0, 0},
  };
  for (const Case& each : cases) {
    const mach_exception_data_type_t codes[] = {each.first, 0x7fff1234};
    tlcrash_mach_signal_info info{-1, -1, 1};
    EXPECT_EQ(tlcrash_mach_exception_to_signal(each.type, codes, 2, &info), each.mapped)
        << each.type << " " << each.first;
    if (!each.mapped) {
      EXPECT_EQ(info.signo, -1);
      continue;
    }
    EXPECT_EQ(info.signo, each.signo) << each.type << " " << each.first;
    EXPECT_EQ(info.code, each.code) << each.type << " " << each.first;
    EXPECT_EQ(info.address, 0x7fff1234u);
  }
  // Fewer than two codes give no mapping.
  const mach_exception_data_type_t one[] = {KERN_INVALID_ADDRESS};
  tlcrash_mach_signal_info info;
  EXPECT_FALSE(tlcrash_mach_exception_to_signal(EXC_BAD_ACCESS, one, 1, &info));
}

TEST(MachExceptionTest, GuardExceptionsAreCaughtFromDarwin13On) {
  EXPECT_EQ(tlcrash_mach_exception_server_mask(0), 0x6Eu);
  EXPECT_EQ(tlcrash_mach_exception_server_mask(12), 0x6Eu);
  EXPECT_EQ(tlcrash_mach_exception_server_mask(13), 0x106Eu);
  EXPECT_EQ(tlcrash_mach_exception_server_mask(23), 0x106Eu);
}

}  // namespace
}  // namespace tlcrash

#include "crashcapture/capture/simulated_mach/mach_exception.h"

namespace tlcrash {
namespace {

// EXC_SOFTWARE codes of signals the kernel turned into exceptions.
constexpr mach_exception_data_type_t EXC_UNIX_BAD_SYSCALL = 0x10000;
constexpr mach_exception_data_type_t EXC_UNIX_BAD_PIPE = 0x10001;
constexpr mach_exception_data_type_t EXC_UNIX_ABORT = 0x10002;
constexpr mach_exception_data_type_t EXC_SOFT_SIGNAL = 0x10003;
// The first code of a bad access to an unmapped address.
constexpr mach_exception_data_type_t kInvalidAddress = KERN_INVALID_ADDRESS;

constexpr int kSegvMapErr = 1;  // SEGV_MAPERR
constexpr int kBusAdrErr = 2;   // BUS_ADRERR
constexpr int kTrapBrkpt = 1;   // TRAP_BRKPT

}  // namespace

exception_mask_t tlcrash_mach_exception_server_mask(int darwin_major) noexcept {
  exception_mask_t mask = EXC_MASK_BAD_ACCESS | EXC_MASK_BAD_INSTRUCTION | EXC_MASK_ARITHMETIC |
                          EXC_MASK_SOFTWARE | EXC_MASK_BREAKPOINT;
  if (darwin_major >= 13) mask |= EXC_MASK_GUARD;
  return mask;
}

bool tlcrash_mach_exception_to_signal(exception_type_t type,
                                      const mach_exception_data_type_t* codes,
                                      mach_msg_type_number_t code_count,
                                      tlcrash_mach_signal_info* info) noexcept {
  if (code_count < 2 || codes == nullptr) return false;
  tlcrash_mach_signal_info mapped;
  mapped.address = static_cast<std::uint64_t>(codes[1]);
  switch (type) {
    case EXC_BAD_ACCESS:
      if (codes[0] == kInvalidAddress) {
        mapped.signo = SIGSEGV;
        mapped.code = kSegvMapErr;
      } else {
        mapped.signo = SIGBUS;
        mapped.code = kBusAdrErr;
      }
      break;
    case EXC_BAD_INSTRUCTION:
      mapped.signo = SIGILL;
      break;
    case EXC_ARITHMETIC:
      mapped.signo = SIGFPE;
      break;
    case EXC_EMULATION:
#ifdef SIGEMT
      mapped.signo = SIGEMT;
      break;
#else
      return false;
#endif
    case EXC_SOFTWARE:
      switch (codes[0]) {
        case EXC_UNIX_BAD_SYSCALL:
          mapped.signo = SIGSYS;
          break;
        case EXC_UNIX_BAD_PIPE:
          mapped.signo = SIGPIPE;
          break;
        case EXC_SOFT_SIGNAL:
          mapped.signo = SIGKILL;
          break;
        case EXC_UNIX_ABORT:
        default:
          mapped.signo = SIGABRT;
          break;
      }
      break;
    case EXC_BREAKPOINT:
      mapped.signo = SIGTRAP;
      mapped.code = kTrapBrkpt;
      break;
    default:
      return false;
  }
  *info = mapped;
  return true;
}

}  // namespace tlcrash

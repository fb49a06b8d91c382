#pragma once

// Mach exceptions as the crash reporter's exception server sees them: the
// exception types and masks, the message layouts of an exception request and
// its reply, the choice of the exception mask, and the mapping from an
// exception to the signal that reports it.
// Crash path: the mapping is async-signal-safe.

#include <csignal>
#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"

namespace tlcrash {

using mach_port_t = std::uint32_t;
using exception_type_t = std::int32_t;
using exception_mask_t = std::uint32_t;
using exception_behavior_t = std::int32_t;
using thread_state_flavor_t = std::int32_t;
using mach_exception_data_type_t = std::int64_t;
using mach_msg_type_number_t = std::uint32_t;

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr mach_port_t MACH_PORT_DEAD = ~mach_port_t{0};

inline constexpr exception_type_t EXC_BAD_ACCESS = 1;
inline constexpr exception_type_t EXC_BAD_INSTRUCTION = 2;
inline constexpr exception_type_t EXC_ARITHMETIC = 3;
inline constexpr exception_type_t EXC_EMULATION = 4;
inline constexpr exception_type_t EXC_SOFTWARE = 5;
inline constexpr exception_type_t EXC_BREAKPOINT = 6;
inline constexpr exception_type_t EXC_GUARD = 12;
// Exception types 0 to 13: the slots of an exception-port table.
inline constexpr std::size_t EXC_TYPES_COUNT = 14;

inline constexpr exception_mask_t EXC_MASK_BAD_ACCESS = 1U << EXC_BAD_ACCESS;
inline constexpr exception_mask_t EXC_MASK_BAD_INSTRUCTION = 1U << EXC_BAD_INSTRUCTION;
inline constexpr exception_mask_t EXC_MASK_ARITHMETIC = 1U << EXC_ARITHMETIC;
inline constexpr exception_mask_t EXC_MASK_SOFTWARE = 1U << EXC_SOFTWARE;
inline constexpr exception_mask_t EXC_MASK_BREAKPOINT = 1U << EXC_BREAKPOINT;
inline constexpr exception_mask_t EXC_MASK_GUARD = 1U << EXC_GUARD;

inline constexpr exception_behavior_t EXCEPTION_DEFAULT = 1;
inline constexpr exception_behavior_t EXCEPTION_STATE = 2;
inline constexpr exception_behavior_t EXCEPTION_STATE_IDENTITY = 3;
inline constexpr exception_behavior_t MACH_EXCEPTION_CODES = static_cast<std::int32_t>(0x80000000);
// The x86 thread state flavor.
inline constexpr thread_state_flavor_t x86_THREAD_STATE = 7;

// Message return codes (besides KERN_* results).
using mach_msg_return_t = kern_return_t;
inline constexpr mach_msg_return_t MACH_MSG_SUCCESS = 0;
inline constexpr mach_msg_return_t MACH_SEND_INVALID_DEST = 0x10000003;
inline constexpr mach_msg_return_t MACH_RCV_INVALID_NAME = 0x10004002;
inline constexpr mach_msg_return_t MACH_RCV_TOO_LARGE = 0x10004004;
inline constexpr kern_return_t KERN_INVALID_NAME = 15;
inline constexpr kern_return_t KERN_INVALID_RIGHT = 17;
inline constexpr kern_return_t MIG_ARRAY_TOO_LARGE = -307;

// Message ids: the no-senders notification, the exception requests with
// 32-bit codes (exception_raise...) and with 64-bit codes
// (mach_exception_raise...); a reply's id is its request's plus 100.
inline constexpr std::int32_t MACH_NOTIFY_NO_SENDERS = 70;
inline constexpr std::int32_t kExceptionRaiseId = 2401;
inline constexpr std::int32_t kExceptionRaiseStateId = 2402;
inline constexpr std::int32_t kExceptionRaiseStateIdentityId = 2403;
inline constexpr std::int32_t kMachExceptionRaiseId = 2405;
inline constexpr std::int32_t kMachExceptionRaiseStateId = 2406;
inline constexpr std::int32_t kMachExceptionRaiseStateIdentityId = 2407;
inline constexpr std::int32_t kReplyIdOffset = 100;

// At most this many 32-bit words of thread state travel with an exception.
inline constexpr std::size_t kThreadStateMaxWords = 614;
// At most this many codes travel with an exception.
inline constexpr std::size_t kExceptionMaxCodes = 2;

#pragma pack(push, 4)
struct mach_msg_header_t {
  std::uint32_t msgh_bits;
  std::uint32_t msgh_size;
  mach_port_t msgh_remote_port;  // the destination
  mach_port_t msgh_local_port;   // the reply port
  mach_port_t msgh_voucher_port;
  std::int32_t msgh_id;
};
struct mach_msg_port_descriptor_t {
  mach_port_t name;
  std::uint32_t pad1;
  std::uint16_t pad2;
  std::uint8_t disposition;
  std::uint8_t type;
};
struct NDR_record_t {
  std::uint8_t bytes[8];
};
// An exception request with 64-bit codes, as the server receives it.
struct tlcrash_mach_exception_request {
  mach_msg_header_t head;
  std::uint32_t descriptor_count;
  mach_msg_port_descriptor_t thread;
  mach_msg_port_descriptor_t task;
  NDR_record_t ndr;
  exception_type_t exception;
  mach_msg_type_number_t code_count;
  mach_exception_data_type_t code[kExceptionMaxCodes];
};
// The reply to any exception request.
struct tlcrash_mach_exception_reply {
  mach_msg_header_t head;
  NDR_record_t ndr;
  kern_return_t ret_code;
};
#pragma pack(pop)
static_assert(sizeof(mach_msg_header_t) == 24);
static_assert(sizeof(tlcrash_mach_exception_request) == 84);
static_assert(sizeof(tlcrash_mach_exception_reply) == 36);

// The header bits that say the message carries port descriptors, and the
// disposition bits of the remote port.
inline constexpr std::uint32_t MACH_MSGH_BITS_COMPLEX = 0x80000000;
inline constexpr std::uint32_t MACH_MSGH_BITS_REMOTE_MASK = 0x1f;
inline constexpr std::uint32_t MACH_MSG_TYPE_COPY_SEND = 19;
inline constexpr std::uint32_t MACH_MSG_TYPE_MAKE_SEND_ONCE = 21;
inline constexpr std::uint32_t MACH_MSG_TYPE_MOVE_SEND_ONCE = 18;
inline constexpr std::uint8_t MACH_MSG_PORT_DESCRIPTOR = 0;

// The exceptions the reporter's server registers for: bad access, bad
// instruction, arithmetic, software and breakpoint, and guard exceptions
// from kernel major version 13 on (`darwin_major` 0 when the host's version is unknown).
exception_mask_t tlcrash_mach_exception_server_mask(int darwin_major) noexcept;

// The signal that reports a Mach exception.
struct tlcrash_mach_signal_info {
  int signo = 0;
  int code = 0;
  std::uint64_t address = 0;
};

// Maps `type` with its `codes` to a signal, its code and the fault address
// (always the second code). False, leaving `*info` alone, with fewer than 2
// codes, a type outside 1 to 6, or an emulation exception on a host without
// SIGEMT. Signal numbers are the host's own.
bool tlcrash_mach_exception_to_signal(exception_type_t type,
                                      const mach_exception_data_type_t* codes,
                                      mach_msg_type_number_t code_count,
                                      tlcrash_mach_signal_info* info) noexcept;

}  // namespace tlcrash

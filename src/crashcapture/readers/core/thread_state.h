#pragma once

// The register state of one frame of a thread, as the whole crash capture
// code passes it around: the x86 and x86-64 register layouts of the Mach
// thread and exception states, a mask of the registers whose values are
// known, the stack's growth direction and the register width.
//
// Registers are numbered as follows; 0, 1 and 2 are always the instruction,
// frame and stack pointer.
//   x86-64 (21): rip rbp rsp rax rbx rcx rdx rdi rsi r8-r15 rflags cs fs gs
//   x86    (16): eip ebp esp eax edx ecx ebx esi edi eflags trapno cs ds es fs gs
//
// Crash path: every function here is async-signal-safe. A register number
// beyond the architecture's last one is a programming error and aborts.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

// Mach x86 state flavours and their sizes in 32-bit words.
inline constexpr int TLCRASH_X86_THREAD_STATE32 = 1;
inline constexpr int TLCRASH_X86_EXCEPTION_STATE32 = 3;
inline constexpr int TLCRASH_X86_THREAD_STATE64 = 4;
inline constexpr int TLCRASH_X86_EXCEPTION_STATE64 = 6;

struct tlcrash_x86_thread_state32 {
  std::uint32_t eax, ebx, ecx, edx, edi, esi, ebp, esp, ss, eflags, eip, cs, ds, es, fs, gs;
};
struct tlcrash_x86_thread_state64 {
  std::uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp, r8, r9, r10, r11, r12, r13, r14, r15, rip,
      rflags, cs, fs, gs;
};
struct tlcrash_x86_exception_state32 {
  std::uint16_t trapno;
  std::uint16_t cpu;
  std::uint32_t err;
  std::uint32_t faultvaddr;
};
struct tlcrash_x86_exception_state64 {
  std::uint16_t trapno;
  std::uint16_t cpu;
  std::uint32_t err;
  std::uint64_t faultvaddr;
};

inline constexpr int TLCRASH_X86_THREAD_STATE32_COUNT = sizeof(tlcrash_x86_thread_state32) / 4;
inline constexpr int TLCRASH_X86_EXCEPTION_STATE32_COUNT =
    sizeof(tlcrash_x86_exception_state32) / 4;
inline constexpr int TLCRASH_X86_THREAD_STATE64_COUNT = sizeof(tlcrash_x86_thread_state64) / 4;
inline constexpr int TLCRASH_X86_EXCEPTION_STATE64_COUNT =
    sizeof(tlcrash_x86_exception_state64) / 4;
static_assert(TLCRASH_X86_THREAD_STATE32_COUNT == 16 && TLCRASH_X86_EXCEPTION_STATE32_COUNT == 3);
static_assert(TLCRASH_X86_THREAD_STATE64_COUNT == 42 && TLCRASH_X86_EXCEPTION_STATE64_COUNT == 4);

// A 64-bit machine context in the Mach layout: the exception state, then the
// general registers. (The floating-point state that follows on Mach is not
// kept by a thread state and is left out.)
struct tlcrash_mcontext64 {
  tlcrash_x86_exception_state64 es;
  tlcrash_x86_thread_state64 ss;
};

struct tlcrash_async_thread_state {
  int stack_direction;    // 1: the stack grows up, 2: down
  std::size_t greg_size;  // 4 or 8 bytes
  std::uint64_t valid_regs;
  struct {
    int flavor;
    int count;
    union {
      tlcrash_x86_thread_state32 ts32;
      tlcrash_x86_thread_state64 ts64;
    };
  } thread_state;
  struct {
    int flavor;
    int count;
    union {
      tlcrash_x86_exception_state32 es32;
      tlcrash_x86_exception_state64 es64;
    };
  } exception_state;
  // The instruction pointer is a return address: the call that returns there
  // is the instruction before it, and may be the last of its function (a
  // call that never returns), so unwind tables are looked up one byte lower.
  // False for an interrupted instruction (a signal's context, the first
  // frame after a signal frame).
  bool ip_is_return_address;
};

inline constexpr int TLCRASH_REG_IP = 0;
inline constexpr int TLCRASH_REG_FP = 1;
inline constexpr int TLCRASH_REG_SP = 2;

// An empty state (no register valid) for CPU_TYPE_X86 or CPU_TYPE_X86_64;
// notSupported for any other type.
tlcrash_error_t tlcrash_async_thread_state_init(tlcrash_async_thread_state* state,
                                                cpu_type_t cpu_type) noexcept;

// The state of a 64-bit machine context, with every register valid.
void tlcrash_async_thread_state_mcontext_init(tlcrash_async_thread_state* state,
                                              const tlcrash_mcontext64* mcontext) noexcept;

// The address to look the state's code up by (unwind tables, the image that
// holds it): the instruction pointer, one less when it is a return address.
std::uint64_t tlcrash_async_thread_state_lookup_pc(
    const tlcrash_async_thread_state* state) noexcept;

void tlcrash_async_thread_state_copy(tlcrash_async_thread_state* dest,
                                     const tlcrash_async_thread_state* source) noexcept;

bool tlcrash_async_thread_state_has_reg(const tlcrash_async_thread_state* state, int reg) noexcept;
void tlcrash_async_thread_state_clear_reg(tlcrash_async_thread_state* state, int reg) noexcept;
// The value of `reg`, whether or not it is marked valid.
std::uint64_t tlcrash_async_thread_state_get_reg(const tlcrash_async_thread_state* state,
                                                 int reg) noexcept;
// Stores `value` (cut to 32 bits on x86) and marks `reg` valid.
void tlcrash_async_thread_state_set_reg(tlcrash_async_thread_state* state, int reg,
                                        std::uint64_t value) noexcept;
const char* tlcrash_async_thread_state_get_reg_name(const tlcrash_async_thread_state* state,
                                                    int reg) noexcept;
std::size_t tlcrash_async_thread_state_get_reg_count(
    const tlcrash_async_thread_state* state) noexcept;
int tlcrash_async_thread_state_get_stack_direction(
    const tlcrash_async_thread_state* state) noexcept;
std::size_t tlcrash_async_thread_state_get_greg_size(
    const tlcrash_async_thread_state* state) noexcept;

// Marks every register invalid that a callee need not preserve, keeping rbx,
// rbp, rsp and r12-r15 (x86-64) or ebp, esp, ebx, esi and edi (x86); the
// instruction pointer is cleared too.
void tlcrash_async_thread_state_clear_volatile_regs(tlcrash_async_thread_state* state) noexcept;

// The register that DWARF call-frame information numbers `dwarf_reg`, in the
// numbering above. False when the architecture has no such register (x86-64's
// return-address column 16, for one).
bool tlcrash_async_thread_state_map_dwarf_to_reg(const tlcrash_async_thread_state* state,
                                                 std::uint64_t dwarf_reg, int* reg) noexcept;

// The DWARF call-frame number of `reg`; false for a register that has none
// (rip, and on x86 eflags, trapno and the segment registers).
bool tlcrash_async_thread_state_map_reg_to_dwarf(const tlcrash_async_thread_state* state, int reg,
                                                 std::uint64_t* dwarf_reg) noexcept;

}  // namespace tlcrash

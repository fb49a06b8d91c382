#include "crashcapture/readers/core/thread_state.h"

#include <cstdlib>
#include <iterator>

#include "crashcapture/readers/core/safe_string.h"

namespace tlcrash {
namespace {

constexpr std::size_t kRegCount64 = 21;
constexpr std::size_t kRegCount32 = 16;

constexpr const char* kRegNames64[kRegCount64] = {
    "rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx",    "rdi", "rsi", "r8", "r9",
    "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs"};
constexpr const char* kRegNames32[kRegCount32] = {"eip", "ebp", "esp", "eax",    "edx",    "ecx",
                                                  "ebx", "esi", "edi", "eflags", "trapno", "cs",
                                                  "ds",  "es",  "fs",  "gs"};

// Registers a callee preserves, as masks over the numbering of each layout.
constexpr std::uint64_t kKept64 =
    (1u << 1) | (1u << 2) | (1u << 4) | (1u << 13) | (1u << 14) | (1u << 15) | (1u << 16);
constexpr std::uint64_t kKept32 = (1u << 1) | (1u << 2) | (1u << 6) | (1u << 7) | (1u << 8);

// DWARF register number -> register, for the registers that have one.
struct DwarfPair {
  std::uint8_t dwarf;
  std::uint8_t reg;
};
constexpr DwarfPair kDwarf64[] = {{6, 1},   {7, 2},   {0, 3},   {3, 4},   {2, 5},
                                  {1, 6},   {5, 7},   {4, 8},   {8, 9},   {9, 10},
                                  {10, 11}, {11, 12}, {12, 13}, {13, 14}, {14, 15},
                                  {15, 16}, {49, 17}, {51, 18}, {54, 19}, {55, 20}};
// The i386 numbering has ebp and esp as 4 and 5.
constexpr DwarfPair kDwarf32[] = {{8, 0}, {4, 1}, {5, 2}, {0, 3}, {2, 4},
                                  {1, 5}, {3, 6}, {6, 7}, {7, 8}};

bool is64(const tlcrash_async_thread_state* state) {
  return state->thread_state.flavor == TLCRASH_X86_THREAD_STATE64;
}

std::uint64_t* reg64(tlcrash_async_thread_state* state, int reg) {
  tlcrash_x86_thread_state64& ts = state->thread_state.ts64;
  std::uint64_t* const regs[kRegCount64] = {&ts.rip, &ts.rbp, &ts.rsp, &ts.rax, &ts.rbx, &ts.rcx,
                                            &ts.rdx, &ts.rdi, &ts.rsi, &ts.r8,  &ts.r9,  &ts.r10,
                                            &ts.r11, &ts.r12, &ts.r13, &ts.r14, &ts.r15, &ts.rflags,
                                            &ts.cs,  &ts.fs,  &ts.gs};
  if (reg < 0 || static_cast<std::size_t>(reg) >= kRegCount64) std::abort();
  return regs[reg];
}

std::uint32_t* reg32(tlcrash_async_thread_state* state, int reg) {
  tlcrash_x86_thread_state32& ts = state->thread_state.ts32;
  if (reg == 10) return nullptr;  // trapno lives in the exception state
  std::uint32_t* const regs[kRegCount32] = {&ts.eip, &ts.ebp, &ts.esp, &ts.eax,    &ts.edx, &ts.ecx,
                                            &ts.ebx, &ts.esi, &ts.edi, &ts.eflags, nullptr, &ts.cs,
                                            &ts.ds,  &ts.es,  &ts.fs,  &ts.gs};
  if (reg < 0 || static_cast<std::size_t>(reg) >= kRegCount32) std::abort();
  return regs[reg];
}

void checkRange(const tlcrash_async_thread_state* state, int reg) {
  if (reg < 0 || static_cast<std::size_t>(reg) >= tlcrash_async_thread_state_get_reg_count(state))
    std::abort();
}

}  // namespace

tlcrash_error_t tlcrash_async_thread_state_init(tlcrash_async_thread_state* state,
                                                cpu_type_t cpu_type) noexcept {
  tlcrash_async_memset(state, 0, sizeof *state);
  state->stack_direction = 2;
  if (cpu_type == CPU_TYPE_X86) {
    state->greg_size = 4;
    state->thread_state.flavor = TLCRASH_X86_THREAD_STATE32;
    state->thread_state.count = TLCRASH_X86_THREAD_STATE32_COUNT;
    state->exception_state.flavor = TLCRASH_X86_EXCEPTION_STATE32;
    state->exception_state.count = TLCRASH_X86_EXCEPTION_STATE32_COUNT;
    return tlcrash_error_t::success;
  }
  if (cpu_type == CPU_TYPE_X86_64) {
    state->greg_size = 8;
    state->thread_state.flavor = TLCRASH_X86_THREAD_STATE64;
    state->thread_state.count = TLCRASH_X86_THREAD_STATE64_COUNT;
    state->exception_state.flavor = TLCRASH_X86_EXCEPTION_STATE64;
    state->exception_state.count = TLCRASH_X86_EXCEPTION_STATE64_COUNT;
    return tlcrash_error_t::success;
  }
  return tlcrash_error_t::notSupported;
}

void tlcrash_async_thread_state_mcontext_init(tlcrash_async_thread_state* state,
                                              const tlcrash_mcontext64* mcontext) noexcept {
  tlcrash_async_thread_state_init(state, CPU_TYPE_X86_64);
  state->valid_regs = ~std::uint64_t{0};
  tlcrash_async_memcpy(&state->thread_state.ts64, &mcontext->ss, sizeof mcontext->ss);
  tlcrash_async_memcpy(&state->exception_state.es64, &mcontext->es, sizeof mcontext->es);
}

std::uint64_t tlcrash_async_thread_state_lookup_pc(
    const tlcrash_async_thread_state* state) noexcept {
  const std::uint64_t ip = tlcrash_async_thread_state_get_reg(state, TLCRASH_REG_IP);
  return state->ip_is_return_address && ip > 0 ? ip - 1 : ip;
}

void tlcrash_async_thread_state_copy(tlcrash_async_thread_state* dest,
                                     const tlcrash_async_thread_state* source) noexcept {
  tlcrash_async_memcpy(dest, source, sizeof *dest);
}

bool tlcrash_async_thread_state_has_reg(const tlcrash_async_thread_state* state, int reg) noexcept {
  checkRange(state, reg);
  return (state->valid_regs & (std::uint64_t{1} << reg)) != 0;
}

void tlcrash_async_thread_state_clear_reg(tlcrash_async_thread_state* state, int reg) noexcept {
  checkRange(state, reg);
  state->valid_regs &= ~(std::uint64_t{1} << reg);
}

std::uint64_t tlcrash_async_thread_state_get_reg(const tlcrash_async_thread_state* state,
                                                 int reg) noexcept {
  checkRange(state, reg);
  auto* mutableState = const_cast<tlcrash_async_thread_state*>(state);
  if (is64(state)) return *reg64(mutableState, reg);
  if (std::uint32_t* value = reg32(mutableState, reg)) return *value;
  return state->exception_state.es32.trapno;
}

void tlcrash_async_thread_state_set_reg(tlcrash_async_thread_state* state, int reg,
                                        std::uint64_t value) noexcept {
  checkRange(state, reg);
  if (is64(state)) {
    *reg64(state, reg) = value;
  } else if (std::uint32_t* slot = reg32(state, reg)) {
    *slot = static_cast<std::uint32_t>(value);
  } else {
    state->exception_state.es32.trapno = static_cast<std::uint16_t>(value);
  }
  state->valid_regs |= std::uint64_t{1} << reg;
}

const char* tlcrash_async_thread_state_get_reg_name(const tlcrash_async_thread_state* state,
                                                    int reg) noexcept {
  checkRange(state, reg);
  return is64(state) ? kRegNames64[reg] : kRegNames32[reg];
}

std::size_t tlcrash_async_thread_state_get_reg_count(
    const tlcrash_async_thread_state* state) noexcept {
  return is64(state) ? kRegCount64 : kRegCount32;
}

int tlcrash_async_thread_state_get_stack_direction(
    const tlcrash_async_thread_state* state) noexcept {
  return state->stack_direction;
}

std::size_t tlcrash_async_thread_state_get_greg_size(
    const tlcrash_async_thread_state* state) noexcept {
  return state->greg_size;
}

void tlcrash_async_thread_state_clear_volatile_regs(tlcrash_async_thread_state* state) noexcept {
  state->valid_regs &= is64(state) ? kKept64 : kKept32;
}

bool tlcrash_async_thread_state_map_dwarf_to_reg(const tlcrash_async_thread_state* state,
                                                 std::uint64_t dwarf_reg, int* reg) noexcept {
  const DwarfPair* pairs = is64(state) ? kDwarf64 : kDwarf32;
  const std::size_t count = is64(state) ? std::size(kDwarf64) : std::size(kDwarf32);
  for (std::size_t i = 0; i < count; ++i) {
    if (pairs[i].dwarf == dwarf_reg) {
      *reg = pairs[i].reg;
      return true;
    }
  }
  return false;
}

bool tlcrash_async_thread_state_map_reg_to_dwarf(const tlcrash_async_thread_state* state, int reg,
                                                 std::uint64_t* dwarf_reg) noexcept {
  const DwarfPair* pairs = is64(state) ? kDwarf64 : kDwarf32;
  const std::size_t count = is64(state) ? std::size(kDwarf64) : std::size(kDwarf32);
  for (std::size_t i = 0; i < count; ++i) {
    if (pairs[i].reg == reg) {
      *dwarf_reg = pairs[i].dwarf;
      return true;
    }
  }
  return false;
}

}  // namespace tlcrash

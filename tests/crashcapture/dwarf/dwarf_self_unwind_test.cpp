// Unwinds real frames of this process by the .eh_frame the toolchain wrote
// into the test program: a C++ function with a frame pointer, and two
// assembly functions whose call-frame information saves registers on the
// stack (one of them by a DWARF expression) and uses no frame pointer.

#include <gtest/gtest.h>
#include <link.h>

#include <cstdint>
#include <cstring>

#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_capture.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"

#if defined(__x86_64__)

extern "C" {
void tlcrash_test_dwarf_outer(void (*callback)(void*), void* context);
extern char tlcrash_test_dwarf_outer_return[];
extern std::uint64_t tlcrash_test_dwarf_outer_sp;
std::uint64_t tlcrash_test_dwarf_outer_sp = 0;
}

// outer(callback, context): saves rbx and r12, sets them to known values,
// keeps its stack pointer in tlcrash_test_dwarf_outer_sp and calls inner.
// inner(callback, context): saves rbx and r12 (r12's place described by an
// expression on rsp), overwrites them and calls callback(context).
asm(R"(
  .text
  .p2align 4
  .globl tlcrash_test_dwarf_outer
  .type tlcrash_test_dwarf_outer, @function
tlcrash_test_dwarf_outer:
  .cfi_startproc
  pushq %rbx
  .cfi_adjust_cfa_offset 8
  .cfi_offset %rbx, -16
  pushq %r12
  .cfi_adjust_cfa_offset 8
  .cfi_offset %r12, -24
  subq $8, %rsp
  .cfi_adjust_cfa_offset 8
  movq $0xB0B0B0B0, %rbx
  movq $0xC1C1C1C1, %r12
  movq %rsp, tlcrash_test_dwarf_outer_sp(%rip)
  call tlcrash_test_dwarf_inner
  .globl tlcrash_test_dwarf_outer_return
tlcrash_test_dwarf_outer_return:
  addq $8, %rsp
  .cfi_adjust_cfa_offset -8
  popq %r12
  .cfi_adjust_cfa_offset -8
  .cfi_restore %r12
  popq %rbx
  .cfi_adjust_cfa_offset -8
  .cfi_restore %rbx
  ret
  .cfi_endproc
  .size tlcrash_test_dwarf_outer, .-tlcrash_test_dwarf_outer

  .p2align 4
  .type tlcrash_test_dwarf_inner, @function
tlcrash_test_dwarf_inner:
  .cfi_startproc
  pushq %rbx
  .cfi_adjust_cfa_offset 8
  .cfi_offset %rbx, -16
  pushq %r12
  .cfi_adjust_cfa_offset 8
  subq $24, %rsp
  .cfi_adjust_cfa_offset 24
  /* DW_CFA_expression r12, 2 bytes: DW_OP_breg7 (rsp) + 24 */
  .cfi_escape 0x10, 0x0c, 0x02, 0x77, 0x18
  movq $0x1111, %rbx
  movq $0x2222, %r12
  movq %rdi, %rax
  movq %rsi, %rdi
  call *%rax
  addq $24, %rsp
  .cfi_adjust_cfa_offset -24
  .cfi_offset %r12, -24
  popq %r12
  .cfi_adjust_cfa_offset -8
  .cfi_restore %r12
  popq %rbx
  .cfi_adjust_cfa_offset -8
  .cfi_restore %rbx
  ret
  .cfi_endproc
  .size tlcrash_test_dwarf_inner, .-tlcrash_test_dwarf_inner
)");

namespace tlcrash {
namespace {

// The .eh_frame of the loaded object holding `address`, found through its
// PT_GNU_EH_FRAME header; its window runs to the end of the segment that
// holds it (the section ends with a zero-length terminator).
struct EhFrame {
  std::uint64_t address = 0;
  std::uint64_t length = 0;
  std::uint64_t header = 0;  // .eh_frame_hdr, for its search table
};

struct Search {
  std::uint64_t address;
  EhFrame found;
};

int findEhFrame(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  bool holds = false;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& p = info->dlpi_phdr[i];
    const std::uint64_t start = info->dlpi_addr + p.p_vaddr;
    if (p.p_type == PT_LOAD && search->address >= start && search->address < start + p.p_memsz)
      holds = true;
  }
  if (!holds) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type != PT_GNU_EH_FRAME) continue;
    const std::uint64_t hdr = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(hdr);
    if (bytes[0] != 1 || bytes[1] != 0x1B) return 1;  // version 1, pcrel sdata4 pointer
    std::int32_t delta = 0;
    std::memcpy(&delta, bytes + 4, 4);
    const std::uint64_t ehFrame = hdr + 4 + static_cast<std::int64_t>(delta);
    for (int j = 0; j < info->dlpi_phnum; ++j) {
      const ElfW(Phdr)& p = info->dlpi_phdr[j];
      const std::uint64_t start = info->dlpi_addr + p.p_vaddr;
      if (p.p_type == PT_LOAD && ehFrame >= start && ehFrame < start + p.p_memsz)
        search->found = {ehFrame, start + p.p_memsz - ehFrame, hdr};
    }
    return 1;
  }
  return 1;
}

EhFrame ehFrameOf(const void* code) {
  Search search{reinterpret_cast<std::uint64_t>(code), {}};
  dl_iterate_phdr(findEhFrame, &search);
  return search.found;
}

// The FDE's offset in .eh_frame by the header's binary search table (when it
// has the usual datarel sdata4 form), else 0.
std::int64_t fdeOffsetHint(const EhFrame& frame, std::uint64_t pc) {
  const auto* hdr = reinterpret_cast<const std::uint8_t*>(frame.header);
  if (hdr[2] != 0x03 || hdr[3] != 0x3B) return 0;
  std::uint32_t count = 0;
  std::memcpy(&count, hdr + 8, 4);
  const auto* table = reinterpret_cast<const std::int32_t*>(hdr + 12);
  std::int64_t hint = 0;
  for (std::uint32_t lo = 0, hi = count; lo < hi;) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (frame.header + static_cast<std::int64_t>(table[2 * mid]) <= pc) {
      hint = static_cast<std::int64_t>(frame.header + table[2 * mid + 1] - frame.address);
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return hint;
}

struct Walk {
  const SelfTask* task = nullptr;
  EhFrame frame;
  bool useHints = false;
  int steps = 0;
  tlcrash_async_frame_error_t errors[3] = {};
  tlcrash_async_thread_state states[3] = {};
};

Walk* gWalk = nullptr;

tlcrash_error_t unwindHere(tlcrash_async_thread_state* state, void*) {
  Walk& walk = *gWalk;
  tlcrash_async_thread_state current = *state;
  for (int i = 0; i < 3; ++i) {
    tlcrash_async_dwarf_section section = {
        walk.frame.address, walk.frame.length, tlcrash_async_byteorder_direct(), true, false, 0};
    if (walk.useHints)
      section.fde_offset =
          fdeOffsetHint(walk.frame, tlcrash_async_thread_state_get_reg(&current, TLCRASH_REG_IP));
    walk.errors[i] =
        tlcrash_async_dwarf_unwind_frame(*walk.task, section, &current, &walk.states[i]);
    if (walk.errors[i] != tlcrash_async_frame_error_t::success) break;
    current = walk.states[i];
    walk.steps = i + 1;
  }
  return tlcrash_error_t::success;
}

__attribute__((noinline)) void callback(void*) {
  tlcrash_async_thread_state_current(unwindHere, nullptr);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) std::uint64_t runProbe() {
  tlcrash_test_dwarf_outer(callback, nullptr);
  asm volatile("" ::: "memory");
  return reinterpret_cast<std::uint64_t>(__builtin_frame_address(0));
}

std::uint64_t reg(const tlcrash_async_thread_state& state, int n) {
  EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, n)) << n;
  return tlcrash_async_thread_state_get_reg(&state, n);
}

TEST(DwarfSelfUnwindTest, UnwindsThisProcessByItsEhFrame) {
  const SelfTask task;
  for (const bool useHints : {false, true}) {
    SCOPED_TRACE(useHints ? "search from the header's hint" : "search from the start");
    Walk walk;
    walk.task = &task;
    walk.useHints = useHints;
    walk.frame = ehFrameOf(reinterpret_cast<const void*>(&tlcrash_test_dwarf_outer));
    ASSERT_NE(walk.frame.address, 0u) << "no .eh_frame found through PT_GNU_EH_FRAME";
    gWalk = &walk;
    const std::uint64_t probeFrame = runProbe();
    gWalk = nullptr;
    ASSERT_EQ(walk.steps, 3) << static_cast<int>(walk.errors[walk.steps]);

    // The callback (a C++ frame with a frame pointer) returns into inner.
    const tlcrash_async_thread_state& inInner = walk.states[0];
    EXPECT_EQ(reg(inInner, TLCRASH_REG_FP), probeFrame);
    // inner returns to outer just after its call, with outer's stack pointer
    // and the rbx and r12 values outer had set.
    const tlcrash_async_thread_state& inOuter = walk.states[1];
    EXPECT_EQ(reg(inOuter, TLCRASH_REG_IP),
              reinterpret_cast<std::uint64_t>(tlcrash_test_dwarf_outer_return));
    EXPECT_EQ(reg(inOuter, TLCRASH_REG_SP), tlcrash_test_dwarf_outer_sp);
    EXPECT_EQ(reg(inOuter, 4), 0xB0B0B0B0u);   // rbx
    EXPECT_EQ(reg(inOuter, 13), 0xC1C1C1C1u);  // r12
    EXPECT_EQ(reg(inOuter, TLCRASH_REG_FP), probeFrame);
    // outer returns into runProbe, whose frame pointer never changed.
    const tlcrash_async_thread_state& inProbe = walk.states[2];
    const auto probe = reinterpret_cast<std::uint64_t>(&runProbe);
    EXPECT_GT(reg(inProbe, TLCRASH_REG_IP), probe);
    EXPECT_LT(reg(inProbe, TLCRASH_REG_IP), probe + 256);
    EXPECT_EQ(reg(inProbe, TLCRASH_REG_SP), tlcrash_test_dwarf_outer_sp + 32);
    EXPECT_LE(reg(inProbe, TLCRASH_REG_SP), probeFrame);
    EXPECT_EQ(reg(inProbe, TLCRASH_REG_FP), probeFrame);
  }
}

}  // namespace
}  // namespace tlcrash

#endif  // __x86_64__

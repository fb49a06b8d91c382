// DWARF call-frame sections as the crash reporter reads them from a loaded
// image at crash time: the FDE search, CIE and FDE parsing, both call-frame
// programs, applying the rules to a frame, and the expression evaluator over
// the same bytes. Every answer must come within bounded work and without a
// read outside the mapped memory.
//
// Input: one flag byte (bit 0: 64-bit words, bit 1: .debug_frame, bit 2:
// big-endian), the PC as 8 little-endian bytes, then the section, which is
// mapped at a fixed address beside a stack of known words.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_expression.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"

namespace {

constexpr std::uint64_t kSection = 0x40000;
constexpr std::uint64_t kStack = 0x7000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tlcrash;
  if (size < 9) return 0;
  const std::uint8_t flags = data[0];
  std::uint64_t pc = 0;
  for (int i = 0; i < 8; ++i)
    pc |= std::uint64_t{data[1 + i]} << (8 * i);
  const std::span<const std::uint8_t> section(data + 9, size - 9);
  const bool m64 = (flags & 1) != 0;

  FakeTask task;
  if (!section.empty()) task.map(kSection, section);
  std::vector<std::uint8_t> stack(256);
  for (std::size_t i = 0; i < stack.size(); ++i)
    stack[i] = static_cast<std::uint8_t>(i * 7);
  task.map(kStack, stack);

  tlcrash_async_thread_state current{};
  tlcrash_async_thread_state_init(&current, m64 ? CPU_TYPE_X86_64 : CPU_TYPE_X86);
  for (std::size_t reg = 0; reg < tlcrash_async_thread_state_get_reg_count(&current); ++reg)
    tlcrash_async_thread_state_set_reg(&current, static_cast<int>(reg), kStack + 8 * reg);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_IP, pc);

  const tlcrash_async_byteorder* order = (flags & 4) != 0 ? tlcrash_async_byteorder_big_endian()
                                                          : tlcrash_async_byteorder_little_endian();
  const tlcrash_async_dwarf_section frames = {kSection, section.size(),   order,
                                              m64,      (flags & 2) != 0, 0};
  tlcrash_async_thread_state next{};
  (void)tlcrash_async_dwarf_unwind_frame(task, frames, &current, &next);

  // The section's bytes as one expression, with the CFA-like value pushed.
  const async::dwarf_memory memory(task, kSection, section.size());
  if (m64) {
    const std::uint64_t initial = kStack;
    std::uint64_t result = 0;
    (void)async::tlcrash_async_dwarf_expression_eval<std::uint64_t>(
        memory, task, &current, order, kSection, 0, section.size(), &initial, 1, &result);
  } else {
    const std::uint32_t initial = kStack;
    std::uint32_t result = 0;
    (void)async::tlcrash_async_dwarf_expression_eval<std::uint32_t>(
        memory, task, &current, order, kSection, 0, section.size(), &initial, 1, &result);
  }
  return 0;
}

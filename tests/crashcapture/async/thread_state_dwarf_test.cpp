#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crashcapture/readers/core/thread_state.h"

namespace tlcrash {
namespace {

std::vector<int> validRegisters(const tlcrash_async_thread_state& state) {
  std::vector<int> valid;
  for (std::size_t reg = 0; reg < tlcrash_async_thread_state_get_reg_count(&state); ++reg) {
    if (tlcrash_async_thread_state_has_reg(&state, static_cast<int>(reg)))
      valid.push_back(static_cast<int>(reg));
  }
  return valid;
}

TEST(ThreadStateDwarfTest, ClearingVolatileRegistersKeepsTheCalleeSavedOnes) {
  for (const cpu_type_t cpu : {CPU_TYPE_X86_64, CPU_TYPE_X86}) {
    tlcrash_async_thread_state state{};
    ASSERT_EQ(tlcrash_async_thread_state_init(&state, cpu), tlcrash_error_t::success);
    for (std::size_t reg = 0; reg < tlcrash_async_thread_state_get_reg_count(&state); ++reg)
      tlcrash_async_thread_state_set_reg(&state, static_cast<int>(reg), 1);
    tlcrash_async_thread_state_clear_volatile_regs(&state);
    // rbp rsp rbx r12-r15, or ebp esp ebx esi edi.
    const std::vector<int> kept = cpu == CPU_TYPE_X86_64 ? std::vector<int>{1, 2, 4, 13, 14, 15, 16}
                                                         : std::vector<int>{1, 2, 6, 7, 8};
    EXPECT_EQ(validRegisters(state), kept);
  }
}

TEST(ThreadStateDwarfTest, MapsDwarfRegisterNumbers) {
  struct Case {
    cpu_type_t cpu;
    std::uint64_t dwarf;
    int reg;  // -1: none
  };
  const Case cases[] = {
      {CPU_TYPE_X86_64, 0, 3},
      {CPU_TYPE_X86_64, 1, 6},
      {CPU_TYPE_X86_64, 2, 5},
      {CPU_TYPE_X86_64, 3, 4},
      {CPU_TYPE_X86_64, 4, 8},
      {CPU_TYPE_X86_64, 5, 7},
      {CPU_TYPE_X86_64, 6, 1},
      {CPU_TYPE_X86_64, 7, 2},
      {CPU_TYPE_X86_64, 8, 9},
      {CPU_TYPE_X86_64, 15, 16},
      {CPU_TYPE_X86_64, 16, -1},
      {CPU_TYPE_X86_64, 49, 17},
      {CPU_TYPE_X86_64, 51, 18},
      {CPU_TYPE_X86_64, 54, 19},
      {CPU_TYPE_X86_64, 55, 20},
      {CPU_TYPE_X86_64, 50, -1},
      {CPU_TYPE_X86_64, 1ull << 40, -1},
      {CPU_TYPE_X86, 0, 3},
      {CPU_TYPE_X86, 1, 5},
      {CPU_TYPE_X86, 2, 4},
      {CPU_TYPE_X86, 3, 6},
      {CPU_TYPE_X86, 4, 1},
      {CPU_TYPE_X86, 5, 2},
      {CPU_TYPE_X86, 6, 7},
      {CPU_TYPE_X86, 7, 8},
      {CPU_TYPE_X86, 8, 0},
      {CPU_TYPE_X86, 9, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.cpu << " " << c.dwarf);
    tlcrash_async_thread_state state{};
    tlcrash_async_thread_state_init(&state, c.cpu);
    int reg = -1;
    EXPECT_EQ(tlcrash_async_thread_state_map_dwarf_to_reg(&state, c.dwarf, &reg), c.reg >= 0);
    if (c.reg >= 0) {
      EXPECT_EQ(reg, c.reg);
    }
  }
}

}  // namespace
}  // namespace tlcrash

#include "crashcapture/readers/dwarf/dwarf_expression.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {
namespace {

using testing::Bytes;
constexpr tlcrash_vm_address_t kExpression = 0x30000;
constexpr tlcrash_vm_address_t kData = 0x50000;
constexpr std::uint64_t kMinus8 = static_cast<std::uint64_t>(-8);

struct Result {
  tlcrash_error_t error;
  std::uint64_t value;
};

// Evaluates `program` with the stack `initial` on a 64-bit (or 32-bit) state
// whose stack and frame pointers are valid.
Result eval(const Bytes& program, std::vector<std::uint64_t> initial = {}, bool m64 = true) {
  FakeTask task;
  if (program.size() != 0) {
    EXPECT_TRUE(task.map(kExpression, program.data()));
  }
  EXPECT_TRUE(task.map(kData, Bytes().u64(0x8877665544332211).data()));
  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_init(&state, m64 ? CPU_TYPE_X86_64 : CPU_TYPE_X86);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_SP, 0x7000);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_FP, 0x8000);
  const dwarf_memory memory(task, kExpression, program.size());
  const auto* order = tlcrash_async_byteorder_little_endian();
  if (m64) {
    std::uint64_t value = 0;
    const tlcrash_error_t error = tlcrash_async_dwarf_expression_eval<std::uint64_t>(
        memory, task, &state, order, kExpression, 0, program.size(), initial.data(), initial.size(),
        &value);
    return {error, value};
  }
  std::vector<std::uint32_t> initial32(initial.begin(), initial.end());
  std::uint32_t value = 0;
  const tlcrash_error_t error = tlcrash_async_dwarf_expression_eval<std::uint32_t>(
      memory, task, &state, order, kExpression, 0, program.size(), initial32.data(),
      initial32.size(), &value);
  return {error, value};
}

struct Case {
  const char* name;
  Bytes program;
  std::uint64_t expected;
  std::vector<std::uint64_t> initial = {};
};

TEST(DwarfExpressionTest, EachOperationComputesItsValue) {
  const Case cases[] = {
      {"initial value", {}, 42, {42}},
      {"lit0", {0x30}, 0},
      {"lit31", {0x4F}, 31},
      {"const1u", {0x08, 0xFF}, 0xFF},
      {"const1s", {0x09, 0xFF}, static_cast<std::uint64_t>(-1)},
      {"const2u", Bytes({0x0A}).u16(0xFFFE), 0xFFFE},
      {"const2s", Bytes({0x0B}).u16(0xFFFE), static_cast<std::uint64_t>(-2)},
      {"const4u", Bytes({0x0C}).u32(0xFFFFFFFD), 0xFFFFFFFD},
      {"const4s", Bytes({0x0D}).u32(0xFFFFFFFD), static_cast<std::uint64_t>(-3)},
      {"const8u", Bytes({0x0E}).u64(0x0102030405060708), 0x0102030405060708},
      {"const8s", Bytes({0x0F}).u64(kMinus8), kMinus8},
      {"constu", Bytes({0x10}).uleb(624485), 624485},
      {"consts", Bytes({0x11}).sleb(-123456), static_cast<std::uint64_t>(-123456)},
      {"dup", {0x35, 0x12, 0x22}, 10},
      {"drop", {0x31, 0x32, 0x13}, 1},
      {"over", {0x31, 0x32, 0x14}, 1},
      {"pick", {0x31, 0x32, 0x33, 0x15, 0x02}, 1},
      {"swap", {0x31, 0x32, 0x16, 0x1C}, 1},  // 2 - 1
      // rot turns 1 2 3 (3 on top) into 3 1 2 (2 on top).
      {"rot", {0x31, 0x32, 0x33, 0x17, 0x13, 0x13}, 3},
      {"rot keeps the top second", {0x31, 0x32, 0x33, 0x17, 0x13}, 1},
      {"rot moves the second to the top", {0x31, 0x32, 0x33, 0x17}, 2},
      {"deref", {0x0C, 0x00, 0x00, 0x05, 0x00, 0x06}, 0x8877665544332211},
      {"xderef", {0x30, 0x0C, 0x00, 0x00, 0x05, 0x00, 0x18}, 0x8877665544332211},
      {"deref_size 1", {0x0C, 0x00, 0x00, 0x05, 0x00, 0x94, 0x01}, 0x11},
      {"deref_size 2", {0x0C, 0x00, 0x00, 0x05, 0x00, 0x94, 0x02}, 0x2211},
      {"deref_size 4", {0x0C, 0x00, 0x00, 0x05, 0x00, 0x94, 0x04}, 0x44332211},
      {"deref_size 8", {0x0C, 0x00, 0x00, 0x05, 0x00, 0x94, 0x08}, 0x8877665544332211},
      {"xderef_size", {0x30, 0x0C, 0x00, 0x00, 0x05, 0x00, 0x95, 0x02}, 0x2211},
      {"abs", {0x09, 0xFB, 0x19}, 5},
      {"abs of a positive", {0x35, 0x19}, 5},
      {"and", {0x3C, 0x3A, 0x1A}, 8},
      {"div", {0x09, 0xF9, 0x32, 0x1B}, static_cast<std::uint64_t>(-3)},
      {"div of the lowest by -1", Bytes({0x0F}).u64(0x8000000000000000).add({0x09, 0xFF, 0x1B}),
       0x8000000000000000},
      {"minus", {0x33, 0x35, 0x1C}, static_cast<std::uint64_t>(-2)},
      {"mod", {0x09, 0xF9, 0x33, 0x1D}, static_cast<std::uint64_t>(-7) % 3},
      {"mul", {0x33, 0x35, 0x1E}, 15},
      {"neg", {0x33, 0x1F}, static_cast<std::uint64_t>(-3)},
      {"not", {0x30, 0x20}, ~std::uint64_t{0}},
      {"or", {0x3C, 0x33, 0x21}, 15},
      {"plus", {0x3C, 0x33, 0x22}, 15},
      {"plus_uconst", Bytes({0x33, 0x23}).uleb(1000), 1003},
      {"shl", {0x33, 0x34, 0x24}, 48},
      {"shl by 64 is by 0", {0x33, 0x10, 0x40, 0x24}, 3},
      {"shr of -8", {0x09, 0xF8, 0x31, 0x25}, kMinus8 >> 1},
      {"shra of -8", {0x09, 0xF8, 0x31, 0x26}, static_cast<std::uint64_t>(-4)},
      {"xor", {0x3C, 0x3A, 0x27}, 6},
      {"eq", {0x33, 0x33, 0x29}, 1},
      {"ge", {0x33, 0x34, 0x2A}, 0},
      {"gt", {0x31, 0x32, 0x2B}, 0},
      {"gt signed", {0x31, 0x09, 0xFF, 0x2B}, 1},
      {"le", {0x33, 0x34, 0x2C}, 1},
      {"lt", {0x34, 0x33, 0x2D}, 0},
      {"ne", {0x33, 0x34, 0x2E}, 1},
      {"bra taken", Bytes({0x31, 0x28}).u16(1).add({0x37, 0x38}), 8},
      {"bra not taken", Bytes({0x30, 0x28}).u16(1).add({0x37, 0x38}), 8},
      {"bra not taken skips nothing", Bytes({0x39, 0x30, 0x28}).u16(1).add({0x37}), 7},
      {"bra to the end", Bytes({0x39, 0x31, 0x28}).u16(1).add({0x37}), 9},
      {"bra backwards", Bytes({0x33, 0x31, 0x1C, 0x12, 0x28}).u16(static_cast<std::uint16_t>(-6)),
       0},
      {"skip", Bytes({0x2F}).u16(1).add({0x37, 0x38}), 8},
      {"breg7 (rsp)", Bytes({0x77}).sleb(-16), 0x7000 - 16},
      {"breg6 (rbp)", Bytes({0x76}).sleb(8), 0x8008},
      {"bregx", Bytes({0x92}).uleb(7).sleb(8), 0x7008},
      {"nop", {0x31, 0x96}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = eval(c.program, c.initial);
    ASSERT_EQ(result.error, tlcrash_error_t::success);
    EXPECT_EQ(result.value, c.expected);
  }
}

TEST(DwarfExpressionTest, WorksOn32BitWords) {
  const Case cases[] = {
      {"minus", {0x33, 0x35, 0x1C}, 0xFFFFFFFE},
      {"const4s", Bytes({0x0D}).u32(0xFFFFFFFD), 0xFFFFFFFD},
      {"const8u is cut", Bytes({0x0E}).u64(0x0102030405060708), 0x05060708},
      {"deref reads a 32-bit word", {0x0C, 0x00, 0x00, 0x05, 0x00, 0x06}, 0x44332211},
      {"shr of -8", {0x09, 0xF8, 0x31, 0x25}, 0x7FFFFFFC},
      {"shra of -8", {0x09, 0xF8, 0x31, 0x26}, 0xFFFFFFFC},
      {"shl by 40", {0x33, 0x10, 0x28, 0x24}, 0},
      {"shra by 40", {0x09, 0xF8, 0x10, 0x28, 0x26}, 0xFFFFFFFF},
      {"div of the lowest by -1", Bytes({0x0C}).u32(0x80000000).add({0x09, 0xFF, 0x1B}),
       0x80000000},
      {"breg5 is esp", Bytes({0x75}).sleb(4), 0x7004},
      {"breg4 is ebp", Bytes({0x74}).sleb(4), 0x8004},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = eval(c.program, c.initial, false);
    ASSERT_EQ(result.error, tlcrash_error_t::success);
    EXPECT_EQ(result.value, c.expected);
  }
}

TEST(DwarfExpressionTest, RefusesBadExpressionsWithinBoundedWork) {
  struct ErrorCase {
    const char* name;
    Bytes program;
    tlcrash_error_t error;
    std::vector<std::uint64_t> initial = {};
  };
  Bytes full;
  for (int i = 0; i < 100; ++i)
    full.u8(0x31);
  const std::vector<std::uint64_t> hundred(100, 1);
  const std::vector<std::uint64_t> hundredAndOne(101, 1);
  const ErrorCase cases[] = {
      {"empty result", {}, tlcrash_error_t::invalidArgument},
      {"a hundred initial values fit", {0x13}, tlcrash_error_t::success, hundred},
      {"too many initial values", {}, tlcrash_error_t::internal, hundredAndOne},
      {"push onto a full stack", Bytes(full).add({0x31}), tlcrash_error_t::internal},
      {"over onto a full stack", Bytes(full).add({0x14}), tlcrash_error_t::internal},
      {"dup onto a full stack", Bytes(full).add({0x12}), tlcrash_error_t::invalidArgument},
      {"dup on an empty stack", {0x12}, tlcrash_error_t::invalidArgument},
      {"drop on an empty stack", {0x13}, tlcrash_error_t::invalidArgument},
      {"over on one entry", {0x31, 0x14}, tlcrash_error_t::invalidArgument},
      {"pick past the depth", {0x31, 0x15, 0x01}, tlcrash_error_t::invalidArgument},
      {"swap on one entry", {0x31, 0x16}, tlcrash_error_t::invalidArgument},
      {"rot on two entries", {0x31, 0x31, 0x17}, tlcrash_error_t::invalidArgument},
      {"xderef on one entry", {0x31, 0x18}, tlcrash_error_t::invalidArgument},
      {"xderef_size on one entry", {0x31, 0x95, 0x01}, tlcrash_error_t::invalidArgument},
      {"plus on one entry", {0x31, 0x22}, tlcrash_error_t::internal},
      {"deref on an empty stack", {0x06}, tlcrash_error_t::internal},
      {"bra on an empty stack", Bytes({0x28}).u16(0), tlcrash_error_t::internal},
      {"div by zero", {0x31, 0x30, 0x1B}, tlcrash_error_t::invalidArgument},
      {"mod by zero", {0x31, 0x30, 0x1D}, tlcrash_error_t::invalidArgument},
      {"deref_size 3", {0x31, 0x94, 0x03}, tlcrash_error_t::invalidArgument},
      {"deref of an unmapped address", {0x31, 0x06}, tlcrash_error_t::notFound},
      {"operand past the end", {0x0C, 0x01, 0x02}, tlcrash_error_t::invalidArgument},
      {"LEB past the end", {0x10, 0x80}, tlcrash_error_t::invalidArgument},
      {"branch before the start", Bytes({0x2F}).u16(static_cast<std::uint16_t>(-4)),
       tlcrash_error_t::invalidArgument},
      {"branch past the end", Bytes({0x2F}).u16(1), tlcrash_error_t::invalidArgument},
      {"endless loop", Bytes({0x2F}).u16(static_cast<std::uint16_t>(-3)),
       tlcrash_error_t::invalidArgument},
      {"endless loop that grows no stack",
       Bytes({0x31, 0x12, 0x28}).u16(static_cast<std::uint16_t>(-4)),
       tlcrash_error_t::invalidArgument},
      {"addr", Bytes({0x03}).u64(0), tlcrash_error_t::notSupported},
      {"reg0", {0x50}, tlcrash_error_t::notSupported},
      {"regx", {0x90, 0x00}, tlcrash_error_t::notSupported},
      {"fbreg", {0x91, 0x00}, tlcrash_error_t::notSupported},
      {"piece", {0x31, 0x93, 0x08}, tlcrash_error_t::notSupported},
      {"call2", {0x98, 0x00, 0x00}, tlcrash_error_t::notSupported},
      {"vendor operation", {0xE0}, tlcrash_error_t::notSupported},
      {"breg16 has no register", Bytes({0x80}).sleb(0), tlcrash_error_t::notSupported},
      {"breg0 (rax) is not valid", Bytes({0x70}).sleb(0), tlcrash_error_t::notFound},
      {"bregx past 32 bits", Bytes({0x92}).uleb(std::uint64_t{1} << 40).sleb(0),
       tlcrash_error_t::notSupported},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(eval(c.program, c.initial).error, c.error);
  }
}

TEST(DwarfExpressionTest, RefusesAnExpressionOutsideItsWindow) {
  FakeTask task;
  ASSERT_TRUE(task.map(kExpression, Bytes({0x31, 0x32}).data()));
  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_init(&state, CPU_TYPE_X86_64);
  const dwarf_memory memory(task, kExpression, 1);
  std::uint64_t value = 0;
  EXPECT_EQ(tlcrash_async_dwarf_expression_eval<std::uint64_t>(
                memory, task, &state, tlcrash_async_byteorder_little_endian(), kExpression, 0, 2,
                nullptr, 0, &value),
            tlcrash_error_t::invalidArgument);
}

}  // namespace
}  // namespace tlcrash::async

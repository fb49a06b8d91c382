#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/dwarf/dwarf_cfa_state.h"
#include "crashcapture/readers/dwarf/dwarf_encoding.h"
#include "crashcapture/readers/dwarf/dwarf_entries.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {
namespace {

using testing::Bytes;
using testing::Cie;
using testing::Section;
using Rule = tlcrash_dwarf_cfa_reg_rule_t;
using Kind = dwarf_cfa_rule_kind;
constexpr tlcrash_vm_address_t kSection = 0x40000;
constexpr std::uint64_t kPcStart = 0x1000;

// The CIE program of the cases: CFA = rsp + 8, return address at CFA - 8.
const Bytes kCieProgram = {0x0C, 0x07, 0x08, 0x90, 0x01};

struct ExpectedRule {
  std::uint32_t reg;
  Rule type;
  std::int64_t value;  // for expression rules: the offset in the FDE program
  bool operator==(const ExpectedRule&) const = default;
};

struct ProgramRun {
  tlcrash_error_t error = tlcrash_error_t::success;
  dwarf_cfa_rule<std::uint64_t> cfa;
  std::vector<ExpectedRule> rules;  // by register
  std::uint64_t program = 0;        // target address of the FDE program
};

void PrintTo(const ExpectedRule& r, std::ostream* os) {
  *os << "{" << r.reg << ", " << static_cast<int>(r.type) << ", " << r.value << "}";
}

// Runs the CIE's and then the FDE's program up to `target` as the frame
// reader does.
ProgramRun run(const Bytes& cieProgram, const Bytes& fdeProgram, std::uint64_t target,
               std::uint8_t encoding = 0x1B, std::uint8_t version = 1,
               std::uint8_t segmentSize = 0) {
  Section section(kSection);
  Cie cie;
  cie.version = version;
  cie.segmentSize = segmentSize;
  cie.augmentationData = {encoding};
  cie.instructions = cieProgram;
  const std::size_t cieOffset = section.cie(cie);
  const std::size_t fdeOffset =
      section.fde(cieOffset, kPcStart, 0x1000000, fdeProgram, true, encoding == DW_EH_PE_udata8);
  FakeTask task;
  EXPECT_TRUE(task.map(kSection, section.bytes().data()));
  const dwarf_memory memory(task, kSection, section.bytes().size());
  const auto* order = tlcrash_async_byteorder_little_endian();
  const gnu_ehptr_reader<std::uint64_t> reader(order);

  ProgramRun result;
  tlcrash_async_dwarf_fde_info fde{};
  EXPECT_EQ(tlcrash_async_dwarf_fde_info_init<std::uint64_t>(&fde, memory, order,
                                                             kSection + fdeOffset, false),
            tlcrash_error_t::success);
  tlcrash_async_dwarf_cie_info info{};
  EXPECT_EQ(tlcrash_async_dwarf_cie_info_init(&info, memory, order, reader, kSection + cieOffset),
            tlcrash_error_t::success);
  result.program = kSection + fde.instructions_offset;

  dwarf_cfa_state<std::uint64_t> state;
  result.error = state.eval_program(memory, target, fde.pc_start, &info, reader, order, kSection,
                                    static_cast<tlcrash_vm_off_t>(info.initial_instructions_offset),
                                    info.initial_instructions_length);
  if (result.error == tlcrash_error_t::success)
    result.error = state.eval_program(memory, target, fde.pc_start, &info, reader, order, kSection,
                                      static_cast<tlcrash_vm_off_t>(fde.instructions_offset),
                                      fde.instructions_length);
  result.cfa = state.get_cfa_rule();
  dwarf_cfa_state_iterator<std::uint64_t> rules(&state);
  std::uint32_t reg = 0;
  Rule type{};
  std::uint64_t value = 0;
  while (rules.next(&reg, &type, &value)) {
    const bool isExpression = type == Rule::expression || type == Rule::valExpression;
    result.rules.push_back(
        {reg, type, static_cast<std::int64_t>(isExpression ? value - result.program : value)});
  }
  EXPECT_EQ(result.rules.size(), state.get_register_count());
  std::sort(result.rules.begin(), result.rules.end(),
            [](const ExpectedRule& a, const ExpectedRule& b) { return a.reg < b.reg; });
  return result;
}

struct Case {
  const char* name;
  Bytes program;
  std::uint64_t target;
  // Expected CFA rule: kind, register, offset; for an expression the
  // offset of its bytes in the FDE program and its length.
  Kind kind;
  std::uint32_t cfaReg;
  std::int64_t cfaOffset;
  std::vector<ExpectedRule> rules;
};

const std::vector<ExpectedRule> kRa = {{16, Rule::offset, -8}};

TEST(DwarfCfaProgramTest, EachOperationSetsItsRule) {
  const Case cases[] = {
      {"nop", {0x00}, 0, Kind::registerUnsigned, 7, 8, kRa},
      {"advance_loc before the target",
       {0x0E, 0x10, 0x44, 0x0E, 0x20},
       kPcStart + 3,
       Kind::registerUnsigned,
       7,
       16,
       kRa},
      {"advance_loc at the target",
       {0x0E, 0x10, 0x44, 0x0E, 0x20},
       kPcStart + 4,
       Kind::registerUnsigned,
       7,
       32,
       kRa},
      {"whole program", {0x0E, 0x10, 0x44, 0x0E, 0x20}, 0, Kind::registerUnsigned, 7, 32, kRa},
      {"advance_loc1", {0x02, 0x05, 0x0E, 0x20}, kPcStart + 4, Kind::registerUnsigned, 7, 8, kRa},
      {"advance_loc1 reached",
       {0x02, 0x05, 0x0E, 0x20},
       kPcStart + 5,
       Kind::registerUnsigned,
       7,
       32,
       kRa},
      {"advance_loc2",
       {0x03, 0x00, 0x01, 0x0E, 0x20},
       kPcStart + 0xFF,
       Kind::registerUnsigned,
       7,
       8,
       kRa},
      {"advance_loc2 reached",
       {0x03, 0x00, 0x01, 0x0E, 0x20},
       kPcStart + 0x100,
       Kind::registerUnsigned,
       7,
       32,
       kRa},
      {"advance_loc4", Bytes({0x04}).u32(0x10000).add({0x0E, 0x20}), kPcStart + 0xFFFF,
       Kind::registerUnsigned, 7, 8, kRa},
      {"advance_loc4 reached", Bytes({0x04}).u32(0x10000).add({0x0E, 0x20}), kPcStart + 0x10000,
       Kind::registerUnsigned, 7, 32, kRa},
      {"offset", {0x86, 0x02}, 0, Kind::registerUnsigned, 7, 8, {{6, Rule::offset, -16}, kRa[0]}},
      {"restore", {0x90, 0x03, 0xD0}, 0, Kind::registerUnsigned, 7, 8, kRa},
      {"restore without an initial rule", {0x86, 0x02, 0xC6}, 0, Kind::registerUnsigned, 7, 8, kRa},
      {"offset_extended",
       {0x05, 0x03, 0x02},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::offset, -16}, kRa[0]}},
      {"restore_extended", {0x05, 0x10, 0x03, 0x06, 0x10}, 0, Kind::registerUnsigned, 7, 8, kRa},
      {"restore_extended removes only its register",
       {0x86, 0x02, 0x83, 0x03, 0x06, 0x06},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::offset, -24}, kRa[0]}},
      {"undefined", {0x07, 0x10}, 0, Kind::registerUnsigned, 7, 8, {}},
      {"same_value",
       {0x08, 0x03},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::sameValue, 0}, kRa[0]}},
      {"register",
       {0x09, 0x03, 0x05},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::reg, 5}, kRa[0]}},
      {"remember, change, restore",
       {0x0A, 0x0E, 0x20, 0x86, 0x02, 0x0B},
       0,
       Kind::registerUnsigned,
       7,
       8,
       kRa},
      {"def_cfa_offset after remember keeps the register",
       {0x0A, 0x0E, 0x20},
       0,
       Kind::registerUnsigned,
       7,
       32,
       kRa},
      {"def_cfa", {0x0C, 0x06, 0x10}, 0, Kind::registerUnsigned, 6, 16, kRa},
      {"def_cfa_register", {0x0D, 0x06}, 0, Kind::registerUnsigned, 6, 8, kRa},
      {"def_cfa_register keeps a signed offset",
       {0x12, 0x07, 0x7E, 0x0D, 0x06},
       0,
       Kind::registerSigned,
       6,
       16,
       kRa},
      {"def_cfa_offset", {0x0E, 0x30}, 0, Kind::registerUnsigned, 7, 48, kRa},
      {"def_cfa_expression", {0x0F, 0x02, 0x77, 0x08}, 0, Kind::expression, 0, 2, kRa},
      {"expression",
       {0x10, 0x03, 0x02, 0x77, 0x08},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::expression, 2}, kRa[0]}},
      {"offset_extended_sf",
       {0x11, 0x03, 0x7E},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::offset, 16}, kRa[0]}},
      {"def_cfa_sf", {0x12, 0x06, 0x7E}, 0, Kind::registerSigned, 6, 16, kRa},
      {"def_cfa_offset_sf", {0x13, 0x7C}, 0, Kind::registerSigned, 7, 32, kRa},
      {"val_offset",
       {0x14, 0x03, 0x02},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::valOffset, -16}, kRa[0]}},
      {"val_offset_sf",
       {0x15, 0x03, 0x7E},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::valOffset, 16}, kRa[0]}},
      {"val_expression",
       {0x16, 0x03, 0x01, 0x96},
       0,
       Kind::registerUnsigned,
       7,
       8,
       {{3, Rule::valExpression, 2}, kRa[0]}},
      {"target below the start", {0x0E, 0x30}, kPcStart - 1, Kind::undefined, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun result = run(kCieProgram, c.program, c.target);
    ASSERT_EQ(result.error, tlcrash_error_t::success);
    EXPECT_EQ(result.cfa.kind, c.kind);
    if (c.kind == Kind::expression) {
      EXPECT_EQ(result.cfa.expression_address - result.program, c.cfaOffset);
      EXPECT_EQ(result.cfa.expression_length, 2u);
    } else {
      EXPECT_EQ(result.cfa.reg, c.cfaReg);
      EXPECT_EQ(static_cast<std::int64_t>(result.cfa.offset), c.cfaOffset);
    }
    EXPECT_EQ(result.rules, c.rules);
  }
}

TEST(DwarfCfaProgramTest, SetLocMovesTheLocationInTheCiesEncoding) {
  const Bytes program = Bytes({0x01}).u64(kPcStart + 0x100).add({0x0E, 0x20});
  EXPECT_EQ(run(kCieProgram, program, kPcStart + 0xFF, DW_EH_PE_udata8).cfa.offset, 8u);
  EXPECT_EQ(run(kCieProgram, program, kPcStart + 0x100, DW_EH_PE_udata8).cfa.offset, 32u);
  // A CIE with a segment size cannot say which segment.
  EXPECT_EQ(run(kCieProgram, program, 0, DW_EH_PE_udata8, 4, 1).error,
            tlcrash_error_t::notSupported);
}

TEST(DwarfCfaProgramTest, RefusesUnsupportedAndMalformedPrograms) {
  struct ErrorCase {
    const char* name;
    Bytes cieProgram;
    Bytes program;
    tlcrash_error_t error;
  };
  const ErrorCase cases[] = {
      {"GNU_args_size", kCieProgram, {0x2E, 0x10}, tlcrash_error_t::notSupported},
      {"def_cfa_register without a CFA", {}, {0x0D, 0x06}, tlcrash_error_t::invalidArgument},
      {"def_cfa_offset without a CFA", {}, {0x0E, 0x06}, tlcrash_error_t::invalidArgument},
      {"def_cfa_offset_sf on an expression",
       kCieProgram,
       {0x0F, 0x01, 0x96, 0x13, 0x7E},
       tlcrash_error_t::invalidArgument},
      {"restore_state at level 0", kCieProgram, {0x0B}, tlcrash_error_t::invalidArgument},
      {"five levels remembered",
       kCieProgram,
       {0x0A, 0x0A, 0x0A, 0x0A, 0x0A},
       tlcrash_error_t::success},
      {"six levels remembered",
       kCieProgram,
       {0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A},
       tlcrash_error_t::noMemory},
      {"operand past the end", kCieProgram, {0x05, 0x03}, tlcrash_error_t::invalidArgument},
      {"LEB running past the end",
       kCieProgram,
       {0x05, 0x03, 0x80},
       tlcrash_error_t::invalidArgument},
      {"block past the end",
       kCieProgram,
       {0x10, 0x03, 0x05, 0x77},
       tlcrash_error_t::invalidArgument},
      {"advance_loc2 cut short", kCieProgram, {0x03, 0x01}, tlcrash_error_t::invalidArgument},
      {"register beyond 32 bits", kCieProgram, Bytes({0x07}).uleb(std::uint64_t{1} << 33),
       tlcrash_error_t::notSupported},
      {"overlong LEB", kCieProgram, Bytes({0x07}).add(Bytes(std::vector<std::uint8_t>(11, 0x80))),
       tlcrash_error_t::notSupported},
      {"unsupported operation in the CIE", {0x3F}, {}, tlcrash_error_t::notSupported},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.cieProgram, c.program, 0).error, c.error);
  }
  for (int opcode = 0x17; opcode <= 0x3F; ++opcode) {
    SCOPED_TRACE(opcode);
    EXPECT_EQ(run(kCieProgram, {static_cast<std::uint8_t>(opcode), 0, 0}, 0).error,
              tlcrash_error_t::notSupported);
  }
}

TEST(DwarfCfaStateTest, HoldsAHundredRulesAndReturnsPoppedOnes) {
  // 100 registers fit; the 101st does not.
  Bytes hundred;
  for (std::uint32_t reg = 0; reg < 100; ++reg)
    hundred.u8(0x05).uleb(reg).uleb(1);
  EXPECT_EQ(run({}, hundred, 0).error, tlcrash_error_t::success);
  Bytes tooMany = hundred;
  tooMany.u8(0x05).uleb(100).uleb(1);
  EXPECT_EQ(run({}, tooMany, 0).error, tlcrash_error_t::noMemory);

  // Forty rules copied by remember_state: the copies come back when the level
  // is popped, so the pair can repeat as often as it likes.
  Bytes forty;
  for (std::uint32_t reg = 0; reg < 40; ++reg)
    forty.u8(0x05).uleb(reg).uleb(1);
  Bytes repeated = forty;
  for (int i = 0; i < 20; ++i)
    repeated.add({0x0A, 0x0B});
  EXPECT_EQ(run({}, repeated, 0).error, tlcrash_error_t::success);
  // Two copies of forty plus the forty do not fit.
  Bytes nested = forty;
  nested.add({0x0A, 0x0A});
  EXPECT_EQ(run({}, nested, 0).error, tlcrash_error_t::noMemory);
}

TEST(DwarfCfaStateTest, IteratesBucketsInOrderAndChainsInInsertionOrder) {
  dwarf_cfa_state<std::uint32_t> state;
  for (std::uint32_t reg : {29u, 1u, 15u, 14u, 0u})
    ASSERT_TRUE(state.set_register(reg, Rule::sameValue, reg));
  ASSERT_TRUE(state.set_register(15, Rule::offset, 4));  // replaced in place
  dwarf_cfa_state_iterator<std::uint32_t> rules(&state);
  std::vector<std::uint32_t> order;
  std::uint32_t reg = 0;
  Rule type{};
  std::uint32_t value = 0;
  while (rules.next(&reg, &type, &value))
    order.push_back(reg);
  // Buckets are register % 14: 14 and 0 in bucket 0, 29, 1 and 15 in bucket 1.
  EXPECT_EQ(order, (std::vector<std::uint32_t>{14, 0, 29, 1, 15}));
  ASSERT_TRUE(state.get_register_rule(15, &type, &value));
  EXPECT_EQ(type, Rule::offset);
  EXPECT_EQ(value, 4u);
  state.remove_register(29);
  EXPECT_FALSE(state.get_register_rule(29, &type, &value));
  EXPECT_EQ(state.get_register_count(), 4u);
  EXPECT_FALSE(state.pop_state());
}

}  // namespace
}  // namespace tlcrash::async

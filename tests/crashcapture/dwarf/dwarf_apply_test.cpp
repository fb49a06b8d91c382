#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_cfa_state.h"
#include "crashcapture/readers/dwarf/dwarf_entries.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"

namespace tlcrash {

namespace {

using async::dwarf_cfa_state;
using async::tlcrash_async_dwarf_cie_info;
using testing::Bytes;
using testing::Cie;
using testing::Section;
using Rule = async::tlcrash_dwarf_cfa_reg_rule_t;
using FrameError = tlcrash_async_frame_error_t;

constexpr tlcrash_vm_address_t kSection = 0x40000;
constexpr tlcrash_vm_address_t kStack = 0x7000;
constexpr tlcrash_vm_address_t kExpressions = 0x60000;
constexpr int kRax = 3, kRbx = 4, kR12 = 13, kR13 = 14, kR14 = 15, kR15 = 16;

const tlcrash_async_byteorder* little() {
  return tlcrash_async_byteorder_little_endian();
}

// An x86-64 frame at the PC 0x1010 with every register valid: register n
// holds 0x100 + n, the stack pointer kStack.
tlcrash_async_thread_state frame64() {
  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_init(&state, CPU_TYPE_X86_64);
  for (int reg = 0; reg < 21; ++reg)
    tlcrash_async_thread_state_set_reg(&state, reg, 0x100 + reg);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_IP, 0x1010);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_SP, kStack);
  return state;
}

// The stack: word i at kStack + 8 i holds 0x5000 + i.
void mapStack(FakeTask& task) {
  Bytes stack;
  for (int i = 0; i < 8; ++i)
    stack.u64(0x5000 + i);
  ASSERT_TRUE(task.map(kStack, stack.data()));
}

tlcrash_async_dwarf_cie_info cie64() {
  tlcrash_async_dwarf_cie_info cie{};
  cie.return_address_register = 16;
  return cie;
}

std::uint64_t reg(const tlcrash_async_thread_state& state, int n) {
  EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, n)) << n;
  return tlcrash_async_thread_state_get_reg(&state, n);
}

TEST(DwarfApplyTest, RestoresEachKindOfRule) {
  FakeTask task;
  mapStack(task);
  // Register-rule expressions: a ULEB length, then the operations, which
  // start with the CFA on the stack.
  const Bytes expressions = Bytes({0x02, 0x23, 0x08})      // CFA + 8, as an address
                                .add({0x01, 0x96})         // CFA itself, as the value
                                .add({0x02, 0x77, 0x10});  // rsp + 16, as the CFA
  ASSERT_TRUE(task.map(kExpressions, expressions.data()));

  dwarf_cfa_state<std::uint64_t> state;
  state.set_cfa_register(7, 16);
  ASSERT_TRUE(state.set_register(16, Rule::offset, static_cast<std::uint64_t>(-8)));
  ASSERT_TRUE(state.set_register(6, Rule::offset, static_cast<std::uint64_t>(-16)));
  ASSERT_TRUE(state.set_register(3, Rule::valOffset, 8));   // rbx
  ASSERT_TRUE(state.set_register(12, Rule::reg, 13));       // r12 from r13
  ASSERT_TRUE(state.set_register(14, Rule::sameValue, 0));  // r14
  ASSERT_TRUE(state.set_register(15, Rule::expression, kExpressions));
  ASSERT_TRUE(state.set_register(13, Rule::valExpression, kExpressions + 3));

  const tlcrash_async_thread_state current = frame64();
  const tlcrash_async_dwarf_cie_info cie = cie64();
  tlcrash_async_thread_state next{};
  ASSERT_EQ(state.apply_state(task, &cie, &current, little(), &next), tlcrash_error_t::success);
  const std::uint64_t cfa = kStack + 16;
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), cfa);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x5001u);  // the word at CFA - 8
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0x5000u);  // the word at CFA - 16
  EXPECT_EQ(reg(next, kRbx), cfa + 8);
  EXPECT_EQ(reg(next, kR12), 0x100u + kR13);
  EXPECT_EQ(reg(next, kR14), 0x100u + kR14);
  EXPECT_EQ(reg(next, kR15), 0x5003u);  // the word at CFA + 8
  EXPECT_EQ(reg(next, kR13), cfa);
  // Volatile registers without a rule are unknown in the caller.
  EXPECT_FALSE(tlcrash_async_thread_state_has_reg(&next, kRax));

  // The same frame with the CFA given by an expression.
  state.set_cfa_expression(kExpressions + 6, 2);
  ASSERT_EQ(state.apply_state(task, &cie, &current, little(), &next), tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), cfa);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x5001u);
}

TEST(DwarfApplyTest, TakesTheReturnAddressFromItsRegisterOn32BitFrames) {
  FakeTask task;
  ASSERT_TRUE(task.map(kStack, Bytes().u32(0xAAAA).u32(0xBBBB).u32(0xCCCC).data()));
  tlcrash_async_thread_state current{};
  tlcrash_async_thread_state_init(&current, CPU_TYPE_X86);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_IP, 0x1010);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_SP, kStack);
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_FP, 0x9000);
  tlcrash_async_dwarf_cie_info cie{};
  cie.return_address_register = 8;  // eip

  dwarf_cfa_state<std::uint32_t> state;
  state.set_cfa_register(5, 8);  // esp + 8
  ASSERT_TRUE(state.set_register(8, Rule::offset, static_cast<std::uint32_t>(-4)));
  ASSERT_TRUE(state.set_register(4, Rule::offset, static_cast<std::uint32_t>(-8)));  // ebp
  tlcrash_async_thread_state next{};
  ASSERT_EQ(state.apply_state(task, &cie, &current, little(), &next), tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), kStack + 8);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0xBBBBu);
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0xAAAAu);

  // With no rule for it, the return address is the register's current value.
  dwarf_cfa_state<std::uint32_t> leaf;
  leaf.set_cfa_register(5, 4);
  ASSERT_EQ(leaf.apply_state(task, &cie, &current, little(), &next), tlcrash_error_t::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x1010u);
}

TEST(DwarfApplyTest, RefusesRulesItCannotApply) {
  struct Case {
    const char* name;
    void (*setUp)(dwarf_cfa_state<std::uint64_t>&, tlcrash_async_thread_state&);
    tlcrash_error_t error;
  };
  const Case cases[] = {
      {"CFA undefined", [](auto&, auto&) {}, tlcrash_error_t::invalidArgument},
      {"CFA register not valid",
       [](auto& s, auto& t) {
         s.set_cfa_register(7, 16);
         tlcrash_async_thread_state_clear_reg(&t, TLCRASH_REG_SP);
       },
       tlcrash_error_t::notFound},
      {"CFA register without a mapping", [](auto& s, auto&) { s.set_cfa_register(16, 16); },
       tlcrash_error_t::notSupported},
      {"CFA expression that loops",
       [](auto& s, auto&) { s.set_cfa_expression(kExpressions + 8, 3); },
       tlcrash_error_t::invalidArgument},
      {"no rule for the return address", [](auto& s, auto&) { s.set_cfa_register(7, 16); },
       tlcrash_error_t::invalidArgument},
      {"rule for a register without a mapping",
       [](auto& s, auto&) {
         s.set_cfa_register(7, 16);
         s.set_register(16, Rule::offset, static_cast<std::uint64_t>(-8));
         s.set_register(40, Rule::offset, 0);
       },
       tlcrash_error_t::invalidArgument},
      {"register rule from an unmapped register",
       [](auto& s, auto&) {
         s.set_cfa_register(7, 16);
         s.set_register(3, Rule::reg, 99);
       },
       tlcrash_error_t::invalidArgument},
      {"register rule from an invalid register",
       [](auto& s, auto& t) {
         s.set_cfa_register(7, 16);
         s.set_register(3, Rule::reg, 0);
         tlcrash_async_thread_state_clear_reg(&t, kRax);
       },
       tlcrash_error_t::notFound},
      {"same value of an invalid register",
       [](auto& s, auto& t) {
         s.set_cfa_register(7, 16);
         s.set_register(3, Rule::sameValue, 0);
         tlcrash_async_thread_state_clear_reg(&t, kRbx);
       },
       tlcrash_error_t::notFound},
      {"saved word unmapped",
       [](auto& s, auto&) {
         s.set_cfa_register(7, 0x1000);
         s.set_register(16, Rule::offset, static_cast<std::uint64_t>(-8));
       },
       tlcrash_error_t::notFound},
  };
  FakeTask task;
  mapStack(task);
  // At kExpressions + 8: skip -3 (a loop).
  ASSERT_TRUE(task.map(kExpressions + 8, Bytes({0x2F}).u16(0xFFFD).data()));
  const tlcrash_async_dwarf_cie_info cie = cie64();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dwarf_cfa_state<std::uint64_t> state;
    tlcrash_async_thread_state current = frame64();
    c.setUp(state, current);
    tlcrash_async_thread_state next{};
    EXPECT_EQ(state.apply_state(task, &cie, &current, little(), &next), c.error);
  }
}

// A section with one function at [0x1000, 0x1100) whose program is given,
// under a CIE "zR" whose program sets CFA = rsp + 8 and the return address at
// CFA - 8.
struct OneFunction {
  FakeTask task;
  Section section{kSection};
  explicit OneFunction(const Bytes& program, bool m64 = true) {
    Cie cie;
    cie.instructions =
        m64 ? Bytes({0x0C, 0x07, 0x08, 0x90, 0x01}) : Bytes({0x0C, 0x05, 0x04, 0x88, 0x01});
    if (!m64) {
      cie.returnRegister = 8;
      cie.dataAlign = -4;
    }
    const std::size_t cieOffset = section.cie(cie);
    section.fde(cieOffset, 0x1000, 0x100, program);
    EXPECT_TRUE(task.map(kSection, section.bytes().data()));
    mapStack(task);
  }
  FrameError unwind(const tlcrash_async_thread_state& current, tlcrash_async_thread_state* next,
                    bool m64 = true) {
    const tlcrash_async_dwarf_section frames = {
        kSection, section.bytes().size(), little(), m64, false, 0};
    return tlcrash_async_dwarf_unwind_frame(task, frames, &current, next);
  }
};

TEST(DwarfUnwindTest, StepsToTheCallerByTheFunctionsRules) {
  // push rbp at 0x1001: CFA = rsp + 16, rbp at CFA - 16.
  OneFunction f({0x41, 0x0E, 0x10, 0x86, 0x02});
  tlcrash_async_thread_state current = frame64();
  tlcrash_async_thread_state next{};
  ASSERT_EQ(f.unwind(current, &next), FrameError::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), kStack + 16);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x5001u);
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0x5000u);
  EXPECT_EQ(reg(next, kRbx), 0x100u + kRbx);
  EXPECT_FALSE(tlcrash_async_thread_state_has_reg(&next, kRax));

  // At the first instruction only the CIE's rules hold.
  tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_IP, 0x1000);
  ASSERT_EQ(f.unwind(current, &next), FrameError::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), kStack + 8);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0x5000u);
  EXPECT_EQ(reg(next, TLCRASH_REG_FP), 0x100u + TLCRASH_REG_FP);

  // A 32-bit target.
  OneFunction narrow({}, false);
  tlcrash_async_thread_state current32{};
  tlcrash_async_thread_state_init(&current32, CPU_TYPE_X86);
  tlcrash_async_thread_state_set_reg(&current32, TLCRASH_REG_IP, 0x1010);
  tlcrash_async_thread_state_set_reg(&current32, TLCRASH_REG_SP, kStack + 4);
  ASSERT_EQ(narrow.unwind(current32, &next, false), FrameError::success);
  EXPECT_EQ(reg(next, TLCRASH_REG_SP), kStack + 8);
  EXPECT_EQ(reg(next, TLCRASH_REG_IP), 0u);  // the high half of the word 0x5000
}

TEST(DwarfUnwindTest, AnswersFrameErrorsAndLeavesTheNextFrameAlone) {
  struct Case {
    const char* name;
    Bytes program;
    std::uint64_t pc;  // 0: no valid instruction pointer
    FrameError error;
    bool m64 = true;
  };
  const Case cases[] = {
      {"no instruction pointer", {}, 0, FrameError::badFrame},
      {"instruction pointer 0", {}, 1, FrameError::notSupported},
      {"PC outside every function", {}, 0x1100, FrameError::notSupported},
      {"GNU_args_size", {0x2E, 0x08}, 0x1010, FrameError::notSupported},
      {"program past its end", {0x05, 0x03}, 0x1010, FrameError::notSupported},
      {"undefined return address", {0x07, 0x10}, 0x1010, FrameError::noFrames},
      {"word size differs from the state's", {}, 0x1010, FrameError::invalidArgument, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneFunction f(c.program);
    tlcrash_async_thread_state current = frame64();
    if (c.pc == 0)
      tlcrash_async_thread_state_clear_reg(&current, TLCRASH_REG_IP);
    else
      tlcrash_async_thread_state_set_reg(&current, TLCRASH_REG_IP, c.pc == 1 ? 0 : c.pc);
    tlcrash_async_thread_state next{};
    next.valid_regs = 0x5A5A;
    EXPECT_EQ(f.unwind(current, &next, c.m64), c.error);
    EXPECT_EQ(next.valid_regs, 0x5A5Au);
  }
}

}  // namespace
}  // namespace tlcrash

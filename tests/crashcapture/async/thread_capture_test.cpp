#include "crashcapture/readers/core/thread_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "crashcapture/error_printer.h"

namespace tlcrash {
namespace {

struct Captured {
  bool called = false;
  tlcrash_async_thread_state state{};
  // The two words just below the stack pointer: the saved frame pointer and
  // the return address the call pushed.
  std::uint64_t wordsBelowStackPointer[2] = {};
};

tlcrash_error_t keepState(tlcrash_async_thread_state* state, void* context) {
  auto* captured = static_cast<Captured*>(context);
  captured->called = true;
  captured->state = *state;
  // The capture's frame is live during the callback, so the words there can
  // be read directly.
  std::memcpy(captured->wordsBelowStackPointer,
              reinterpret_cast<const void*>(state->thread_state.ts64.rsp - 16),
              sizeof captured->wordsBelowStackPointer);
  return tlcrash_error_t::notFound;
}

// Keeps its frame around the call (no tail call), so the capture's caller is
// this function.
__attribute__((noinline)) tlcrash_error_t captureHere(Captured* captured, void** frame) {
  *frame = __builtin_frame_address(0);
  const tlcrash_error_t result = tlcrash_async_thread_state_current(keepState, captured);
  asm volatile("" ::: "memory");
  return result;
}

TEST(ThreadCaptureTest, CapturesTheCallersRegistersAtTheCall) {
  Captured captured;
  void* frame = nullptr;
  EXPECT_EQ(captureHere(&captured, &frame), tlcrash_error_t::notFound);
  ASSERT_TRUE(captured.called);
  const tlcrash_async_thread_state& state = captured.state;
  const tlcrash_x86_thread_state64& regs = state.thread_state.ts64;

  // The caller's frame pointer; below the caller's stack pointer the return
  // address the call pushed and the frame pointer the capture saved.
  EXPECT_EQ(regs.rbp, reinterpret_cast<std::uint64_t>(frame));
  EXPECT_EQ(captured.wordsBelowStackPointer[0], regs.rbp);
  EXPECT_EQ(captured.wordsBelowStackPointer[1], regs.rip);
  EXPECT_LE(regs.rsp, regs.rbp);
  const auto function = reinterpret_cast<std::uint64_t>(&captureHere);
  EXPECT_GT(regs.rip, function);
  EXPECT_LT(regs.rip, function + 4096);
  EXPECT_TRUE(state.ip_is_return_address);
  // The arguments of the call, in their registers.
  EXPECT_EQ(regs.rdi, reinterpret_cast<std::uint64_t>(&keepState));
  EXPECT_EQ(regs.rsi, reinterpret_cast<std::uint64_t>(&captured));
  std::uint64_t cs = 0;
  asm("movq $0, %0\n\tmovw %%cs, %w0" : "=r"(cs));
  EXPECT_EQ(regs.cs, cs);
  EXPECT_NE(regs.rflags & 2, 0u);  // the flag bit that always reads 1

  EXPECT_EQ(state.thread_state.flavor, TLCRASH_X86_THREAD_STATE64);
  EXPECT_EQ(state.thread_state.count, 42);
  EXPECT_EQ(state.exception_state.flavor, TLCRASH_X86_EXCEPTION_STATE64);
  EXPECT_EQ(state.exception_state.count, 4);
  EXPECT_EQ(state.exception_state.es64.trapno, 0);
  EXPECT_EQ(state.exception_state.es64.err, 0u);
  EXPECT_EQ(state.exception_state.es64.faultvaddr, 0u);
  EXPECT_EQ(tlcrash_async_thread_state_get_greg_size(&state), 8u);
  EXPECT_EQ(tlcrash_async_thread_state_get_stack_direction(&state), 2);
  for (int reg = 0; reg < 21; ++reg)
    EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, reg));
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_REG_IP), regs.rip);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_REG_FP), regs.rbp);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, TLCRASH_REG_SP), regs.rsp);
}

TEST(ThreadCaptureTest, TheCurrentThreadIsTheKernelThreadId) {
  EXPECT_EQ(tlcrash_async_thread_self(), ::gettid());
}

TEST(ThreadStateTest, EachArchitectureHasItsRegistersInItsOwnWidth) {
  tlcrash_async_thread_state state;
  ASSERT_EQ(tlcrash_async_thread_state_init(&state, CPU_TYPE_X86), tlcrash_error_t::success);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg_count(&state), 16u);
  EXPECT_EQ(tlcrash_async_thread_state_get_greg_size(&state), 4u);
  EXPECT_EQ(std::string(tlcrash_async_thread_state_get_reg_name(&state, 0)), "eip");
  EXPECT_EQ(std::string(tlcrash_async_thread_state_get_reg_name(&state, 15)), "gs");
  EXPECT_FALSE(tlcrash_async_thread_state_has_reg(&state, 4));
  tlcrash_async_thread_state_set_reg(&state, 4, 0x1122334455667788);
  EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, 4));
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 4), 0x55667788u);
  EXPECT_EQ(state.thread_state.ts32.edx, 0x55667788u);
  tlcrash_async_thread_state_set_reg(&state, 10, 14);
  EXPECT_EQ(state.exception_state.es32.trapno, 14);
  tlcrash_async_thread_state_clear_reg(&state, 4);
  EXPECT_FALSE(tlcrash_async_thread_state_has_reg(&state, 4));

  ASSERT_EQ(tlcrash_async_thread_state_init(&state, CPU_TYPE_X86_64), tlcrash_error_t::success);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg_count(&state), 21u);
  EXPECT_EQ(std::string(tlcrash_async_thread_state_get_reg_name(&state, 0)), "rip");
  EXPECT_EQ(std::string(tlcrash_async_thread_state_get_reg_name(&state, 17)), "rflags");
  tlcrash_async_thread_state_set_reg(&state, 4, 0x1122334455667788);
  EXPECT_EQ(state.thread_state.ts64.rbx, 0x1122334455667788u);

  EXPECT_EQ(tlcrash_async_thread_state_init(&state, CPU_TYPE_ARM64), tlcrash_error_t::notSupported);
}

TEST(ThreadStateDeathTest, ARegisterBeyondTheArchitecturesLastStopsTheProcess) {
  tlcrash_async_thread_state state;
  ASSERT_EQ(tlcrash_async_thread_state_init(&state, CPU_TYPE_X86_64), tlcrash_error_t::success);
  EXPECT_DEATH(tlcrash_async_thread_state_get_reg(&state, 21), "");
}

}  // namespace
}  // namespace tlcrash

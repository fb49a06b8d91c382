// The register layouts of the thread state, and its translation from a
// Linux signal context.

#include "crashcapture/readers/core/thread_state.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ucontext.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crashcapture/readers/core/ucontext_state.h"

namespace tlcrash {
namespace {

std::vector<std::string> names(cpu_type_t cpu) {
  tlcrash_async_thread_state state{};
  EXPECT_EQ(tlcrash_async_thread_state_init(&state, cpu), tlcrash_error_t::success);
  std::vector<std::string> result;
  for (std::size_t reg = 0; reg < tlcrash_async_thread_state_get_reg_count(&state); ++reg)
    result.push_back(tlcrash_async_thread_state_get_reg_name(&state, static_cast<int>(reg)));
  return result;
}

TEST(ThreadStateTest, NamesTheRegistersInOrder) {
  EXPECT_EQ(names(CPU_TYPE_X86_64),
            (std::vector<std::string>{"rip", "rbp", "rsp", "rax",    "rbx", "rcx", "rdx",
                                      "rdi", "rsi", "r8",  "r9",     "r10", "r11", "r12",
                                      "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs"}));
  EXPECT_EQ(names(CPU_TYPE_X86),
            (std::vector<std::string>{"eip", "ebp", "esp", "eax", "edx", "ecx", "ebx", "esi", "edi",
                                      "eflags", "trapno", "cs", "ds", "es", "fs", "gs"}));
}

TEST(ThreadStateTest, InitSetsTheLayoutOfTheProcessorType) {
  struct Case {
    cpu_type_t cpu;
    int flavor, count, exceptionFlavor, exceptionCount;
    std::size_t width;
  };
  for (const Case& c :
       {Case{CPU_TYPE_X86_64, 4, 42, 6, 4, 8}, Case{CPU_TYPE_X86, 1, 16, 3, 3, 4}}) {
    tlcrash_async_thread_state state{};
    ASSERT_EQ(tlcrash_async_thread_state_init(&state, c.cpu), tlcrash_error_t::success);
    EXPECT_EQ(state.thread_state.flavor, c.flavor);
    EXPECT_EQ(state.thread_state.count, c.count);
    EXPECT_EQ(state.exception_state.flavor, c.exceptionFlavor);
    EXPECT_EQ(state.exception_state.count, c.exceptionCount);
    EXPECT_EQ(tlcrash_async_thread_state_get_greg_size(&state), c.width);
    EXPECT_EQ(tlcrash_async_thread_state_get_stack_direction(&state), 2);
    EXPECT_EQ(state.valid_regs, 0u);
  }
  tlcrash_async_thread_state state{};
  EXPECT_EQ(tlcrash_async_thread_state_init(&state, CPU_TYPE_ARM64), tlcrash_error_t::notSupported);
}

TEST(ThreadStateTest, ThirtyTwoBitRegistersAreCutAndTrapnoIsTheExceptionState) {
  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_init(&state, CPU_TYPE_X86);
  tlcrash_async_thread_state_set_reg(&state, 6, 0x1122334455667788);  // ebx
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 6), 0x55667788u);
  EXPECT_EQ(state.thread_state.ts32.ebx, 0x55667788u);
  tlcrash_async_thread_state_set_reg(&state, 10, 14);  // trapno
  EXPECT_EQ(state.exception_state.es32.trapno, 14);
  EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, 10));
  EXPECT_FALSE(tlcrash_async_thread_state_has_reg(&state, 9));
}

TEST(ThreadStateTest, RegistersMapToDwarfNumbersAndBack) {
  for (const cpu_type_t cpu : {CPU_TYPE_X86_64, CPU_TYPE_X86}) {
    tlcrash_async_thread_state state{};
    tlcrash_async_thread_state_init(&state, cpu);
    int mapped = 0;
    for (std::size_t reg = 0; reg < tlcrash_async_thread_state_get_reg_count(&state); ++reg) {
      std::uint64_t dwarf = 0;
      if (!tlcrash_async_thread_state_map_reg_to_dwarf(&state, static_cast<int>(reg), &dwarf))
        continue;
      ++mapped;
      int back = -1;
      EXPECT_TRUE(tlcrash_async_thread_state_map_dwarf_to_reg(&state, dwarf, &back));
      EXPECT_EQ(back, static_cast<int>(reg));
    }
    EXPECT_EQ(mapped, cpu == CPU_TYPE_X86_64 ? 20 : 9);
    std::uint64_t dwarf = 0;
    EXPECT_EQ(tlcrash_async_thread_state_map_reg_to_dwarf(&state, 0, &dwarf),
              cpu == CPU_TYPE_X86);  // eip is 8; rip has no number
  }
}

TEST(ThreadStateTest, TranslatesTheRegistersOfALinuxSignalContext) {
  ucontext_t context{};
  greg_t* gregs = context.uc_mcontext.gregs;
  for (int i = 0; i < NGREG; ++i)
    gregs[i] = 0x1000 + i;
  gregs[REG_CSGSFS] = static_cast<greg_t>(0x002B'0000'0000'0033);  // ss 0x2b fs 0 gs 0 cs 0x33
  gregs[REG_CSGSFS] |= static_cast<greg_t>(std::uint64_t{0x0063} << 32 | 0x0053 << 16);

  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_ucontext_init(&state, &context);

  // Thread-state register number -> the kernel's slot.
  const std::pair<int, int> slots[] = {
      {0, REG_RIP},  {1, REG_RBP},  {2, REG_RSP},  {3, REG_RAX},  {4, REG_RBX},  {5, REG_RCX},
      {6, REG_RDX},  {7, REG_RDI},  {8, REG_RSI},  {9, REG_R8},   {10, REG_R9},  {11, REG_R10},
      {12, REG_R11}, {13, REG_R12}, {14, REG_R13}, {15, REG_R14}, {16, REG_R15}, {17, REG_EFL}};
  for (const auto& [reg, slot] : slots) {
    EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, reg)) << reg;
    EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, reg), 0x1000u + slot) << reg;
  }
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 18), 0x33u);  // cs
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 19), 0x63u);  // fs
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&state, 20), 0x53u);  // gs
  EXPECT_TRUE(tlcrash_async_thread_state_has_reg(&state, 20));
  EXPECT_EQ(state.thread_state.flavor, TLCRASH_X86_THREAD_STATE64);
  EXPECT_EQ(state.exception_state.flavor, TLCRASH_X86_EXCEPTION_STATE64);
  EXPECT_EQ(state.exception_state.es64.trapno, 0x1000 + REG_TRAPNO);
  EXPECT_EQ(state.exception_state.es64.err, 0x1000u + REG_ERR);
  EXPECT_EQ(state.exception_state.es64.faultvaddr, 0x1000u + REG_CR2);
  EXPECT_EQ(state.exception_state.es64.cpu, 0);
}

// A real signal: the handler's context holds the interrupted code's registers.
std::uint64_t gSignalRbx = 0;
tlcrash_async_thread_state gSignalState{};

void keepContext(int, siginfo_t*, void* context) {
  tlcrash_async_thread_state_ucontext_init(&gSignalState, static_cast<ucontext_t*>(context));
}

TEST(ThreadStateTest, TranslatesTheContextOfARealSignal) {
  struct sigaction action = {}, old = {};
  action.sa_sigaction = keepContext;
  action.sa_flags = SA_SIGINFO;
  ASSERT_EQ(sigaction(SIGTRAP, &action, &old), 0);
  std::uint64_t rsp = 0;
  std::uint64_t trapAddress = 0;
  // int3 stops with rip just after it; rbx holds a known value.
  asm volatile(
      "movq $0x5A5A5A5A, %%rbx\n\t"
      "movq %%rsp, %0\n\t"
      "leaq 1f(%%rip), %1\n\t"
      "int3\n"
      "1:\n\t"
      "movq %%rbx, %2\n\t"
      : "=&r"(rsp), "=&r"(trapAddress), "=m"(gSignalRbx)
      :
      : "rbx", "memory");
  sigaction(SIGTRAP, &old, nullptr);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&gSignalState, TLCRASH_REG_IP), trapAddress);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&gSignalState, TLCRASH_REG_SP), rsp);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&gSignalState, 4), 0x5A5A5A5Au);
  EXPECT_EQ(gSignalState.exception_state.es64.trapno, 3);  // breakpoint
  std::uint64_t cs = 0;
  asm("movq $0, %0\n\tmovw %%cs, %w0" : "=r"(cs));
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&gSignalState, 18), cs);
}

}  // namespace
}  // namespace tlcrash

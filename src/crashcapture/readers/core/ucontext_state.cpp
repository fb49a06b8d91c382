#include "crashcapture/readers/core/ucontext_state.h"

#include <cstdint>

namespace tlcrash {

#if !defined(__x86_64__)
#error "The signal-context translation is written for x86-64 only."
#endif

void tlcrash_async_thread_state_linux_mcontext_init(tlcrash_async_thread_state* state,
                                                    const mcontext_t* mcontext) noexcept {
  const greg_t* gregs = mcontext->gregs;
  const auto reg = [gregs](int index) { return static_cast<std::uint64_t>(gregs[index]); };

  tlcrash_mcontext64 mach = {};
  tlcrash_x86_thread_state64& ts = mach.ss;
  ts.rax = reg(REG_RAX);
  ts.rbx = reg(REG_RBX);
  ts.rcx = reg(REG_RCX);
  ts.rdx = reg(REG_RDX);
  ts.rdi = reg(REG_RDI);
  ts.rsi = reg(REG_RSI);
  ts.rbp = reg(REG_RBP);
  ts.rsp = reg(REG_RSP);
  ts.r8 = reg(REG_R8);
  ts.r9 = reg(REG_R9);
  ts.r10 = reg(REG_R10);
  ts.r11 = reg(REG_R11);
  ts.r12 = reg(REG_R12);
  ts.r13 = reg(REG_R13);
  ts.r14 = reg(REG_R14);
  ts.r15 = reg(REG_R15);
  ts.rip = reg(REG_RIP);
  ts.rflags = reg(REG_EFL);
  // The kernel packs cs, gs and fs (and ss) into one word, 16 bits each.
  const std::uint64_t segments = reg(REG_CSGSFS);
  ts.cs = segments & 0xFFFF;
  ts.gs = (segments >> 16) & 0xFFFF;
  ts.fs = (segments >> 32) & 0xFFFF;

  mach.es.trapno = static_cast<std::uint16_t>(reg(REG_TRAPNO));
  mach.es.cpu = 0;
  mach.es.err = static_cast<std::uint32_t>(reg(REG_ERR));
  mach.es.faultvaddr = reg(REG_CR2);
  tlcrash_async_thread_state_mcontext_init(state, &mach);
}

void tlcrash_async_thread_state_ucontext_init(tlcrash_async_thread_state* state,
                                              const ucontext_t* context) noexcept {
  tlcrash_async_thread_state_linux_mcontext_init(state, &context->uc_mcontext);
}

}  // namespace tlcrash

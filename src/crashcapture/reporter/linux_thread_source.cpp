#include "crashcapture/reporter/linux_thread_source.h"

#include "crashcapture/async/thread_capture.h"

namespace tlcrash {

void tlcrash_linux_thread_state_from_gregs(tlcrash_async_thread_state* state,
                                           const greg_t* gregs) noexcept {
  auto reg = [gregs](int index) { return static_cast<std::uint64_t>(gregs[index]); };
  tlcrash_mcontext64 context{};
  context.ss.rax = reg(REG_RAX);
  context.ss.rbx = reg(REG_RBX);
  context.ss.rcx = reg(REG_RCX);
  context.ss.rdx = reg(REG_RDX);
  context.ss.rdi = reg(REG_RDI);
  context.ss.rsi = reg(REG_RSI);
  context.ss.rbp = reg(REG_RBP);
  context.ss.rsp = reg(REG_RSP);
  context.ss.r8 = reg(REG_R8);
  context.ss.r9 = reg(REG_R9);
  context.ss.r10 = reg(REG_R10);
  context.ss.r11 = reg(REG_R11);
  context.ss.r12 = reg(REG_R12);
  context.ss.r13 = reg(REG_R13);
  context.ss.r14 = reg(REG_R14);
  context.ss.r15 = reg(REG_R15);
  context.ss.rip = reg(REG_RIP);
  context.ss.rflags = reg(REG_EFL);
  // cs, gs and fs share one word, 16 bits each from the bottom.
  const std::uint64_t segments = reg(REG_CSGSFS);
  context.ss.cs = segments & 0xffff;
  context.ss.gs = (segments >> 16) & 0xffff;
  context.ss.fs = (segments >> 32) & 0xffff;
  context.es.trapno = static_cast<std::uint16_t>(reg(REG_TRAPNO));
  context.es.err = static_cast<std::uint32_t>(reg(REG_ERR));
  context.es.faultvaddr = reg(REG_CR2);
  tlcrash_async_thread_state_mcontext_init(state, &context);
}

void LinuxThreadSource::suspendAll() noexcept {
  suspender_.suspendOthers();
}

void LinuxThreadSource::resumeAll() noexcept {
  suspender_.resumeAll();
}

// When the thread list could not be read, the calling thread alone is
// listed, so that a crash report still has the crashed thread.
std::size_t LinuxThreadSource::threadCount() const noexcept {
  const std::size_t count = suspender_.snapshots().size();
  return count == 0 ? 1 : count;
}

tlcrash_thread_t LinuxThreadSource::threadAt(std::size_t index) const noexcept {
  const auto snapshots = suspender_.snapshots();
  return snapshots.empty() ? selfThread() : snapshots[index].thread;
}

bool LinuxThreadSource::threadStateAt(std::size_t index,
                                      tlcrash_async_thread_state* state) const noexcept {
  const auto snapshots = suspender_.snapshots();
  if (snapshots.empty()) return false;
  const ThreadSnapshot& snapshot = snapshots[index];
  if (snapshot.status != ThreadSnapshotStatus::captured) return false;
  tlcrash_linux_thread_state_from_gregs(state, snapshot.gregs);
  return true;
}

tlcrash_thread_t LinuxThreadSource::selfThread() const noexcept {
  return tlcrash_async_thread_self();
}

}  // namespace tlcrash

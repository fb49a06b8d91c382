// The crash-path routines run inside a real signal handler on a small
// alternate stack, as the crash reporter will run them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "crashcapture/error_printer.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/output.h"
#include "crashcapture/readers/core/signal_names.h"
#include "crashcapture/readers/core/thread_capture.h"

namespace tlcrash {
namespace {

// What the handler found; the handler reaches it through this pointer.
struct HandlerRun {
  const SelfTask* task = nullptr;
  int fd = -1;
  tlcrash_error_t captureResult = tlcrash_error_t::unknown;
  tlcrash_error_t unmappedRead = tlcrash_error_t::success;
  std::uint64_t savedFramePointer = 0;
  std::uint64_t framePointer = 0;
  bool written = false;
};
HandlerRun* gRun = nullptr;

tlcrash_error_t readFrame(tlcrash_async_thread_state* state, void*) {
  gRun->framePointer = tlcrash_async_thread_state_get_reg(state, TLCRASH_REG_FP);
  // The capture saved the frame pointer two words below the caller's stack
  // pointer, on the alternate stack.
  return tlcrash_async_task_read_uint64(*gRun->task, tlcrash_async_byteorder_direct(),
                                        tlcrash_async_thread_state_get_reg(state, TLCRASH_REG_SP),
                                        -16, &gRun->savedFramePointer);
}

void onSignal(int signal, siginfo_t* info, void*) {
  gRun->captureResult = tlcrash_async_thread_state_current(readFrame, nullptr);
  std::uint64_t word = 0;
  gRun->unmappedRead =
      tlcrash_async_task_read_uint64(*gRun->task, tlcrash_async_byteorder_direct(), 8, 0, &word);
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, gRun->fd, 64);
  const char* name = tlcrash_async_signal_signame(signal);
  const char* code = tlcrash_async_signal_sigcode(signal, info->si_code);
  gRun->written = tlcrash_async_file_write(&file, name, std::strlen(name)) &&
                  tlcrash_async_file_write(&file, "/", 1) &&
                  tlcrash_async_file_write(&file, code, std::strlen(code)) &&
                  tlcrash_async_file_flush(&file);
}

TEST(SignalHandlerTest, TheCrashPathRoutinesWorkInAHandlerOnAnAlternateStack) {
  SelfTask task;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  HandlerRun run;
  run.task = &task;
  run.fd = fds[1];
  gRun = &run;

  constexpr std::size_t kStackSize = 64 * 1024;
  auto stackMemory = std::make_unique<char[]>(kStackSize);
  stack_t stack{};
  stack.ss_sp = stackMemory.get();
  stack.ss_size = kStackSize;
  stack_t previousStack{};
  ASSERT_EQ(::sigaltstack(&stack, &previousStack), 0);
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGSEGV, &action, &previous), 0);

  // A SIGSEGV sent as if by the kernel's fault path: code SEGV_MAPERR.
  siginfo_t info{};
  info.si_signo = SIGSEGV;
  info.si_code = SEGV_MAPERR;
  ASSERT_EQ(::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), ::gettid(), SIGSEGV, &info), 0);

  ::sigaction(SIGSEGV, &previous, nullptr);
  ::sigaltstack(&previousStack, nullptr);
  gRun = nullptr;

  EXPECT_EQ(run.captureResult, tlcrash_error_t::success);
  EXPECT_EQ(run.savedFramePointer, run.framePointer);
  EXPECT_EQ(run.unmappedRead, tlcrash_error_t::notFound);
  EXPECT_TRUE(run.written);
  char text[64] = {};
  EXPECT_GT(::read(fds[0], text, sizeof text - 1), 0);
  EXPECT_EQ(std::string(text), "SIGSEGV/SEGV_MAPERR");
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace tlcrash

#include "crashcapture/capture/reporter/crash_callback.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/output.h"
#include "crashcapture/readers/core/thread_capture.h"
#include "crashcapture/readers/core/ucontext_state.h"

namespace tlcrash {
namespace {

// The first crashing thread; any other thread that crashes meanwhile waits
// for the process to end instead of writing over its report.
std::atomic<tlcrash_thread_t> gCrashingThread{0};

// Writes a report to `path`. internal when the file cannot be opened or
// closed; otherwise the writer's result.
tlcrash_error_t writeReportFile(TLCrashHandlerContext& context, tlcrash_thread_t crashed,
                                const tlcrash_async_thread_state* crashedState,
                                const tlcrash_log_writer_crash_info* crash) noexcept {
  const int fd = ::open(context.reportPath, O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return tlcrash_error_t::internal;
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, fd, kTLCrashReportSizeLimit);
  const tlcrash_error_t result =
      tlcrash_log_writer_write(&context.writer, crashed, *context.threads, *context.task,
                               context.images, &file, crashedState, crash);
  const bool writerClosed = tlcrash_log_writer_close(&context.writer) == tlcrash_error_t::success;
  const bool fileClosed = tlcrash_async_file_close(&file);
  if (!writerClosed || !fileClosed) return tlcrash_error_t::internal;
  return result;
}

// The fault address of a signal the kernel raised for a fault; 0 otherwise,
// where si_addr holds no address (for abort(), the sender's pid).
std::uint64_t faultAddress(int signo, const siginfo_t* info) noexcept {
  if (info->si_code <= 0) return 0;
  switch (signo) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE:
    case SIGTRAP:
      return reinterpret_cast<std::uintptr_t>(info->si_addr);
    default:
      return 0;
  }
}

void resetFatalSignals() noexcept {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  for (const int fatal : kTLCrashFatalSignals)
    ::sigaction(fatal, &fallback, nullptr);
}

}  // namespace

// The fatal signals go back to their default action only once the report and
// the callback are done, not before the write: a second thread that faults
// meanwhile would otherwise end the process before the report is written.
// It waits instead, in its handler, until the re-raised signal ends the
// process. A fault inside the crash path itself still ends the process: the
// same signal is blocked while its handler runs (the kernel then takes the
// default action), and another one finds its own thread already crashing.
bool tlcrash_crash_signal_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                   TLCrashSignalHandlerCallback*) noexcept {
  const tlcrash_thread_t self = tlcrash_async_thread_self();
  tlcrash_thread_t crashing = 0;
  if (!gCrashingThread.compare_exchange_strong(crashing, self)) {
    if (crashing == self) {
      resetFatalSignals();
      return false;
    }
    for (;;)
      ::pause();
  }

  auto& handlerContext = *static_cast<TLCrashHandlerContext*>(context);
  tlcrash_async_thread_state state;
  tlcrash_async_thread_state_ucontext_init(&state, uap);
  const tlcrash_log_writer_crash_info crash{
      signo, info->si_code, faultAddress(signo, info), false, 0, nullptr, 0};
  const tlcrash_error_t result = writeReportFile(handlerContext, self, &state, &crash);
  if (result == tlcrash_error_t::success && handlerContext.postCrash != nullptr)
    handlerContext.postCrash(info, uap, handlerContext.postCrashContext);
  resetFatalSignals();
  return false;
}

}  // namespace tlcrash

#pragma once

// The crash reporter's callback in the signal handler's chain: the first
// thread that crashes writes the report file with the report writer, runs
// the post-crash callback and hands the signal back for the default action.

#include <signal.h>
#include <sys/types.h>
#include <sys/ucontext.h>

#include "crashcapture/capture/reporter/signal_chain.h"
#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/capture/writer/thread_source.h"
#include "crashcapture/platform/task.h"

namespace tlcrash {

// The signals a crash arrives by, in the order they are armed.
inline constexpr int kTLCrashFatalSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// The largest report file the crash path writes.
inline constexpr off_t kTLCrashReportSizeLimit = 0x40000;

// Called on the crashed thread, inside the signal handler, after the report
// has been written. It may only do what is async-signal-safe.
using TLCrashReporterPostCrashSignalCallback = void (*)(siginfo_t* info, ucontext_t* uap,
                                                        void* context);

// What the crash callback writes with: filled by enabling before any handler
// is armed, only read on the crash path.
struct TLCrashHandlerContext {
  tlcrash_log_writer writer;
  char* reportPath;
  // The own process's threads, memory and images.
  TLCrashThreadSource* threads;
  const Task* task;
  tlcrash_log_writer_images images;
  TLCrashReporterPostCrashSignalCallback postCrash;
  void* postCrashContext;
};

// The chain callback; `context` is the TLCrashHandlerContext. The fatal
// signals go back to their default action once the report and the
// post-crash callback are done.
// Signal path: async-signal-safe.
bool tlcrash_crash_signal_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                   TLCrashSignalHandlerCallback* next) noexcept;

}  // namespace tlcrash

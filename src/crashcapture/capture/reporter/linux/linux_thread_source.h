#pragma once

// The threads of this process for the report writer, stopped by the Linux
// thread suspender (a real-time signal per thread), and the conversion of the
// registers the kernel saves for a signal into a thread state.

#include <sys/ucontext.h>

#include <cstddef>

#include "crashcapture/capture/writer/thread_source.h"
#include "crashcapture/platform/linux/thread_suspender.h"
#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/thread_state.h"

namespace tlcrash {

// The state of the general registers `gregs` (as in a signal's user
// context), every register valid; the exception state from the trap number,
// error code and fault address the kernel saved.
// Crash path: async-signal-safe.
void tlcrash_linux_thread_state_from_gregs(tlcrash_async_thread_state* state,
                                           const greg_t* gregs) noexcept;

class LinuxThreadSource final : public TLCrashThreadSource {
 public:
  // `suspender` must be armed before a write and outlive this source.
  explicit LinuxThreadSource(ThreadSuspender& suspender) : suspender_(suspender) {}

  void suspendAll() noexcept override;
  void resumeAll() noexcept override;
  std::size_t threadCount() const noexcept override;
  tlcrash_thread_t threadAt(std::size_t index) const noexcept override;
  bool threadStateAt(std::size_t index, tlcrash_async_thread_state* state) const noexcept override;
  tlcrash_thread_t selfThread() const noexcept override;

 private:
  ThreadSuspender& suspender_;
};

}  // namespace tlcrash

#pragma once

// The threads of the task a report describes, held still while the writer
// walks them. The Linux implementation stops the other threads of the own
// process with a signal
// (crashcapture/capture/reporter/linux/linux_thread_source.h); tests describe
// threads in a fake task.
// Crash path: every member is async-signal-safe in every implementation.

#include <cstddef>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/thread_state.h"

namespace tlcrash {

class TLCrashThreadSource {
 public:
  virtual ~TLCrashThreadSource() = default;

  // Lists the task's threads and stops every one but the calling thread,
  // taking each one's registers once, so that every later question about a
  // thread gets the same answer until resumeAll(). A list that cannot be read
  // counts as no threads.
  virtual void suspendAll() noexcept = 0;
  // Lets the stopped threads run on.
  virtual void resumeAll() noexcept = 0;

  // The threads of the last suspendAll(), in the task's order.
  virtual std::size_t threadCount() const noexcept = 0;
  virtual tlcrash_thread_t threadAt(std::size_t index) const noexcept = 0;
  // The registers thread `index` had when it stopped; false when there are
  // none (it did not stop in time, or it is the calling thread).
  virtual bool threadStateAt(std::size_t index,
                             tlcrash_async_thread_state* state) const noexcept = 0;

  // The thread that writes the report.
  virtual tlcrash_thread_t selfThread() const noexcept = 0;
};

}  // namespace tlcrash

#include "crashcapture/capture/reporter/linux/linux_thread_source.h"

#include "crashcapture/readers/core/thread_capture.h"
#include "crashcapture/readers/core/ucontext_state.h"

namespace tlcrash {

void tlcrash_linux_thread_state_from_gregs(tlcrash_async_thread_state* state,
                                           const greg_t* gregs) noexcept {
  mcontext_t context{};
  for (int reg = 0; reg < NGREG; ++reg)
    context.gregs[reg] = gregs[reg];
  tlcrash_async_thread_state_linux_mcontext_init(state, &context);
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

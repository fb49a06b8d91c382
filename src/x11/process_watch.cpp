#include "x11/process_watch.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace wendrix::x11::detail {

std::unique_ptr<ProcessWatch> ProcessWatch::start(dispatch::MainLoop& loop, std::int32_t pid,
                                                  std::function<void()> onExit) {
  // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return nullptr;
  std::unique_ptr<ProcessWatch> watch(new ProcessWatch(pid, fd));
  watch->watch_ = loop.watch(fd, dispatch::MainLoop::kReadable,
                             [onExit = std::move(onExit)](unsigned) { onExit(); });
  return watch;
}

ProcessWatch::~ProcessWatch() {
  watch_.cancel();
  ::close(fd_);
}

}  // namespace wendrix::x11::detail

#pragma once

// Tells when a process ends: its pidfd, watched on the main loop.

#include <cstdint>
#include <functional>
#include <memory>

#include "dispatch/main_loop.h"

namespace wendrix::x11::detail {

class ProcessWatch {
 public:
  // Calls `onExit` on `loop` once `pid` has ended (the watch may be
  // destroyed inside it). Nothing when the process is gone already.
  static std::unique_ptr<ProcessWatch> start(dispatch::MainLoop& loop, std::int32_t pid,
                                             std::function<void()> onExit);
  ~ProcessWatch();
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  std::int32_t pid() const { return pid_; }

 private:
  ProcessWatch(std::int32_t pid, int fd) : pid_(pid), fd_(fd) {}

  std::int32_t pid_;
  int fd_;
  dispatch::WatchHandle watch_;
};

}  // namespace wendrix::x11::detail

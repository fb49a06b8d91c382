#pragma once

// Facts about a process that a crash report records, read from /proc outside
// the crash path.

#include <sys/time.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace tlcrash {

class TLCrashProcessInfo {
 public:
  // The calling process.
  static std::optional<TLCrashProcessInfo> currentProcessInfo();
  // Process `pid`; none when /proc has no readable record of it.
  static std::optional<TLCrashProcessInfo> makeWithProcessID(pid_t pid);

  pid_t processID() const { return processID_; }
  // The kernel's command name (at most 15 bytes) cut to its valid UTF-8
  // prefix; none when that prefix is empty.
  const std::optional<std::string>& processName() const { return processName_; }
  pid_t parentProcessID() const { return parentProcessID_; }
  // When the process started, to the kernel clock tick.
  timeval startTime() const { return startTime_; }
  // Whether a tracer (a debugger) is attached.
  bool isTraced() const { return traced_; }
  // The executable's path; none when the link cannot be read (another user's
  // process, or a kernel thread).
  const std::optional<std::string>& processPath() const { return processPath_; }

 private:
  pid_t processID_ = 0;
  std::optional<std::string> processName_;
  pid_t parentProcessID_ = 0;
  timeval startTime_{};
  bool traced_ = false;
  std::optional<std::string> processPath_;
};

}  // namespace tlcrash

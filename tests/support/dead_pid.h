#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

// The id of a process that has just exited and been reaped: no process has
// it until the system hands it out again, which takes a full cycle of ids.
inline pid_t deadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

}  // namespace support

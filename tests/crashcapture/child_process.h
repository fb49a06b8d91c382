#pragma once

// Runs a test body in a forked child, for tests that change process-wide
// state (signal actions, threads) or that end the process. The child reports
// through a pipe; the parent checks how it ended.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

namespace tlcrash::testing {

struct ChildOutcome {
  bool exited = false;  // it returned or called _exit
  int exitCode = -1;
  int signal = 0;  // the signal that ended it, when it did not exit
  std::string output;
};

// Writes `text` to the parent. Async-signal-safe.
inline void childSay(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Runs `body(fd)` in a child, which then exits with 0. The child is killed
// by SIGALRM when it runs longer than `limitSeconds`, so a hang fails the
// test instead of stopping it.
template <class Body>
ChildOutcome runInChild(Body body, unsigned limitSeconds = 30) {
  ChildOutcome outcome;
  int fds[2];
  if (::pipe(fds) != 0) return outcome;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(limitSeconds);
    body(fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  char buffer[512];
  ssize_t count;
  while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0)
    outcome.output.append(buffer, static_cast<std::size_t>(count));
  ::close(fds[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return outcome;
  if (WIFEXITED(status)) {
    outcome.exited = true;
    outcome.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

}  // namespace tlcrash::testing

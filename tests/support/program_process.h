#pragma once

// A program started in a child process for tests that run the real program
// or other real programs, and a poll loop to wait on what they do.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace support {

// Polls `done` every 20 ms until it holds (true) or `timeout` passes (false).
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A started program (argv[0] searched in PATH unless it holds a slash), with
// `env` ("NAME=value") added to the test's environment and its output
// appended to `logFile`. It dies with the test process, and is killed when
// destroyed unless it has ended.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& logFile) {
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ != 0) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(log, 1);
    ::dup2(log, 2);
    for (int fd = 3; fd < 1024; ++fd)
      ::close(fd);
    for (const auto& e : env)
      ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ~Process() {
    if (!status_ && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The exit status once the program has ended within `timeout`.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
    eventually(
        [&] {
          int status = 0;
          if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
          return status_.has_value();
        },
        timeout);
    return status_;
  }
  bool running() { return !waitForExit(std::chrono::milliseconds(0)); }
  pid_t pid() const { return pid_; }
  void terminate() { ::kill(pid_, SIGTERM); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace support

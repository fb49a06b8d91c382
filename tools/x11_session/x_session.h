#pragma once

// A private X session for the X11 tests and benchmarks: Xvfb on a free
// display with openbox on it (or the window manager WENDRIX_TEST_WM names), started once per
// program (the program stops it at its end), plus the fixture client program. Every wait here is
// bounded.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace x11test {

class XSession {
 public:
  // Starts the session on first use.
  static XSession& shared();

  bool available() const { return available_; }
  // Why the session is not available (Xvfb or openbox missing, ...).
  const std::string& problem() const { return problem_; }
  const std::string& display() const { return display_; }

  // Stops and starts the window manager; start waits until it is there.
  void stopWindowManager();
  bool startWindowManager();

  // Waits until the window manager lists `count` client windows.
  bool waitForClientCount(std::size_t count, std::chrono::milliseconds timeout);

  void stop();

 private:
  void start();

  bool available_ = false;
  std::string problem_;
  std::string display_;
  std::string configHome_;
  pid_t server_ = -1;
  pid_t wm_ = -1;
};

// An Xvfb of its own, without a window manager, for a test that ends it.
class PrivateServer {
 public:
  static std::unique_ptr<PrivateServer> start();
  ~PrivateServer();

  const std::string& display() const { return display_; }
  void kill();

 private:
  PrivateServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

// One run of the fixture client (tools/x11_test_client) on the session's
// display; killed when destroyed.
class FixtureClient {
 public:
  // Starts it with `arguments` and waits until it has mapped its windows.
  static std::unique_ptr<FixtureClient> start(const std::vector<std::string>& arguments);
  ~FixtureClient();

  pid_t pid() const { return pid_; }
  void kill();

 private:
  explicit FixtureClient(pid_t pid) : pid_(pid) {}
  pid_t pid_;
};

}  // namespace x11test

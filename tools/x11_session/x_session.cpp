#include "x11_session/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

namespace x11test {

namespace {

using Clock = std::chrono::steady_clock;

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t end = rest.find(':', start);
    const std::string dir = rest.substr(start, end == std::string::npos ? end : end - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

// fork + exec with extra environment; the child dies with the test program.
// `keepFd` stays open in the child; `stdoutFd` (or /dev/null) becomes its
// standard output.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int keepFd = -1, int stdoutFd = -1) {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  const int devNull = ::open("/dev/null", O_RDWR);
  ::dup2(stdoutFd >= 0 ? stdoutFd : devNull, 1);
  ::dup2(devNull, 2);
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != keepFd) ::close(fd);
  }
  for (const auto& e : env)
    ::putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

void stopProcess(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  // Bounded: SIGKILL after a second.
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  while (::waitpid(pid, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      break;
    }
    ::poll(nullptr, 0, 5);
  }
  pid = -1;
}

// Reads a line from `fd` within `timeout`.
std::string readLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = Clock::now() + timeout;
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n <= 0) return "";
    line.append(buffer, static_cast<std::size_t>(n));
  }
  return line.substr(0, line.find('\n'));
}

bool wmPresent(Display* display) {
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  auto read = [&](Window w) -> Window {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    Window result = None;
    if (XGetWindowProperty(display, w, check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                           &after, &data) == Success &&
        data && count == 1) {
      result = *reinterpret_cast<Window*>(data);
    }
    if (data) XFree(data);
    return result;
  };
  int (*old)(Display*, XErrorEvent*) = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const Window w = read(DefaultRootWindow(display));
  const bool present = w != None && read(w) == w;
  XSync(display, False);
  XSetErrorHandler(old);
  return present;
}

std::vector<Window> clientList(Display* display) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::vector<Window> list;
  if (XGetWindowProperty(display, DefaultRootWindow(display),
                         XInternAtom(display, "_NET_CLIENT_LIST", False), 0, 4096, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) == Success &&
      data && format == 32) {
    const auto* windows = reinterpret_cast<const Window*>(data);
    list.assign(windows, windows + count);
  }
  if (data) XFree(data);
  return list;
}

bool inClientList(Display* display, Window window) {
  const auto list = clientList(display);
  return std::find(list.begin(), list.end(), window) != list.end();
}

// Waits (bounded) for `done`, woken by the root's property changes.
bool waitOnRoot(Display* display, Clock::time_point deadline, const std::function<bool()>& done) {
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    while (XPending(display)) {
      XEvent e;
      XNextEvent(display, &e);
    }
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(std::min<long>(left, 50)));
  }
  return true;
}

// The window manager's command: openbox, or the one WENDRIX_TEST_WM names
// (icewm, which decorates windows differently).
std::vector<std::string> windowManagerCommand() {
  const char* chosen = std::getenv("WENDRIX_TEST_WM");
  const std::string name = chosen && *chosen ? chosen : "openbox";
  if (name == "openbox") return {"openbox", "--sm-disable"};
  return {name};
}

// Starts the window manager and waits (bounded) until it manages new windows.
// Its check property comes early in its start, and a window mapped before it
// is fully up can be lost, so a probe window is mapped (again, until it is
// managed) and must show up in _NET_CLIENT_LIST.
pid_t startManager(const std::string& name, const std::vector<std::string>& env,
                   std::chrono::milliseconds timeout) {
  Display* display = XOpenDisplay(name.c_str());
  if (!display) return -1;
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, PropertyChangeMask);
  const pid_t pid = spawn(windowManagerCommand(), env);
  const auto deadline = Clock::now() + timeout;
  bool ready = waitOnRoot(display, deadline, [&] { return wmPresent(display); });
  if (ready) {
    const Window probe = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
    auto lastMap = Clock::time_point();
    ready = waitOnRoot(display, deadline, [&] {
      if (inClientList(display, probe)) return true;
      if (Clock::now() - lastMap > std::chrono::milliseconds(100)) {
        XMapWindow(display, probe);
        XFlush(display);
        lastMap = Clock::now();
      }
      return false;
    });
    XDestroyWindow(display, probe);
    XSync(display, False);
    ready = ready && waitOnRoot(display, deadline, [&] { return !inClientList(display, probe); });
  }
  XCloseDisplay(display);
  return ready ? pid : -pid;
}

}  // namespace

XSession& XSession::shared() {
  static XSession session;
  static bool started = false;
  if (!started) {
    started = true;
    session.start();
  }
  return session;
}

pid_t startServer(std::string& display) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t server = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                        "1280x1024x24", "-nolisten", "tcp"},
                       {}, fds[1]);
  ::close(fds[1]);
  const std::string number = readLine(fds[0], std::chrono::seconds(10));
  ::close(fds[0]);
  if (number.empty()) {
    stopProcess(server);
    return -1;
  }
  display = ":" + number;
  return server;
}

void XSession::start() {
  const std::string manager = windowManagerCommand().front();
  if (!onPath("Xvfb") || !onPath(manager)) {
    problem_ = "Xvfb or " + manager + " is not installed (scripts/setup installs both)";
    return;
  }
  server_ = startServer(display_);
  if (server_ < 0) {
    problem_ = "Xvfb did not start";
    return;
  }
  char dir[] = "/tmp/wendrix-x11-XXXXXX";
  if (::mkdtemp(dir)) configHome_ = dir;
  if (!startWindowManager()) {
    problem_ = manager + " did not start on " + display_;
    stop();
    return;
  }
  available_ = true;
}

bool XSession::startWindowManager() {
  wm_ = startManager(
      display_, {"DISPLAY=" + display_, "XDG_CONFIG_HOME=" + configHome_, "HOME=" + configHome_},
      std::chrono::seconds(10));
  if (wm_ >= 0) return true;
  wm_ = -wm_;
  return false;
}

void XSession::stopWindowManager() {
  stopProcess(wm_);
}

bool XSession::waitForClientCount(std::size_t count, std::chrono::milliseconds timeout) {
  Display* display = XOpenDisplay(display_.c_str());
  if (!display) return false;
  XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
  const bool listed = waitOnRoot(display, Clock::now() + timeout,
                                 [&] { return clientList(display).size() == count; });
  XCloseDisplay(display);
  return listed;
}

void XSession::stop() {
  stopProcess(wm_);
  stopProcess(server_);
  if (!configHome_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(configHome_, ignored);
    configHome_.clear();
  }
  available_ = false;
}

std::unique_ptr<PrivateServer> PrivateServer::start() {
  std::string display;
  const pid_t pid = startServer(display);
  if (pid < 0) return nullptr;
  return std::unique_ptr<PrivateServer>(new PrivateServer(pid, display));
}

PrivateServer::~PrivateServer() {
  kill();
}

void PrivateServer::kill() {
  stopProcess(pid_);
}

std::unique_ptr<FixtureClient> FixtureClient::start(const std::vector<std::string>& arguments) {
  int fds[2];
  if (::pipe(fds) != 0) return nullptr;
  std::vector<std::string> argv{WENDRIX_X11_TEST_CLIENT};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t pid = spawn(argv, {"DISPLAY=" + XSession::shared().display()}, -1, fds[1]);
  ::close(fds[1]);
  std::unique_ptr<FixtureClient> client(new FixtureClient(pid));
  const bool ready = readLine(fds[0], std::chrono::seconds(5)) == "ready";
  ::close(fds[0]);
  if (!ready) return nullptr;
  return client;
}

FixtureClient::~FixtureClient() {
  kill();
}

void FixtureClient::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace x11test

#include "platform/running_apps/linux/x11_running_applications.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/xconn/client_process.h"
#include "platform/xconn/connection.h"
#include "platform/xconn/ewmh.h"

namespace platform {

namespace {

bool processExists(std::int32_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

X11RunningApplications::X11RunningApplications(std::shared_ptr<xconn::Connection> connection,
                                               std::string selfBundleIdentifier, ProcessGroup group)
    : connection_(std::move(connection)),
      selfBundleIdentifier_(std::move(selfBundleIdentifier)),
      group_(std::move(group)) {}

std::vector<std::int32_t> X11RunningApplications::groupOf(std::int32_t pid) const {
  auto pids = group_ ? group_(pid) : std::vector<std::int32_t>{};
  if (std::find(pids.begin(), pids.end(), pid) == pids.end()) pids.push_back(pid);
  return pids;
}

std::optional<bool> X11RunningApplications::isActive(std::int32_t processIdentifier) {
  if (!processExists(processIdentifier)) return std::nullopt;
  auto front = frontmost();
  if (!front) return false;
  const auto pids = groupOf(processIdentifier);
  return std::find(pids.begin(), pids.end(), *front) != pids.end();
}

bool X11RunningApplications::activate(std::int32_t processIdentifier, std::uint32_t options) {
  if (!processExists(processIdentifier)) return false;
  xconn::Connection& connection = *connection_;
  const auto windows = xconn::windowsOf(connection, groupOf(processIdentifier));
  if (windows.empty()) return true;  // nothing to bring forward; the request is made
  auto shown = [&](::Window window) { return !xconn::iconic(connection, window).value_or(false); };
  // The topmost shown window, else the topmost of all (the window manager
  // de-iconifies what it activates).
  ::Window target = windows.back();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (shown(*it)) {
      target = *it;
      break;
    }
  }
  std::vector<::Window> raised;
  if (options & activateAllWindows) {
    for (::Window window : windows) {
      if (window != target && shown(window)) raised.push_back(window);
    }
  }
  const ::Window active = xconn::activeWindow(connection);
  const long kPager = 2;
  const long kAbove = 0;
  const xconn::Atoms& atoms = connection.atoms();
  // A window gone meanwhile fails its message and nothing else.
  connection.run([&](Display*) {
    for (::Window window : raised)
      xconn::sendRootMessage(connection, window, atoms.netRestackWindow, {kPager, 0, kAbove});
    xconn::sendRootMessage(connection, target, atoms.netActiveWindow,
                           {kPager, 0, static_cast<long>(active)});
  });
  return true;
}

std::optional<std::int32_t> X11RunningApplications::frontmost() {
  const ::Window active = xconn::activeWindow(*connection_);
  if (active == None) return std::nullopt;
  if (auto pid = xconn::processOf(*connection_, active)) return pid;
  return xconn::clientProcessOf(*connection_, active);
}

CurrentApplication X11RunningApplications::current() {
  return {static_cast<std::int32_t>(::getpid()), selfBundleIdentifier_};
}

}  // namespace platform

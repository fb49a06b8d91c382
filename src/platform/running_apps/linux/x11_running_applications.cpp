#include "platform/running_apps/linux/x11_running_applications.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

bool processExists(std::int32_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

X11RunningApplications::X11RunningApplications(std::shared_ptr<X11Display> display,
                                               std::string selfBundleIdentifier, ProcessGroup group)
    : display_(std::move(display)),
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
  const auto windows = display_->windowsOf(groupOf(processIdentifier));
  if (windows.empty()) return true;  // nothing to bring forward; the request is made
  // The topmost shown window, else the topmost of all (the window manager
  // de-iconifies what it activates).
  X11Display::WindowId target = windows.back();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (!display_->isIconic(*it)) {
      target = *it;
      break;
    }
  }
  const long kPager = 2;
  const long kAbove = 0;
  if (options & activateAllWindows) {
    for (X11Display::WindowId window : windows) {
      if (window != target && !display_->isIconic(window)) {
        display_->sendRootMessage(window, "_NET_RESTACK_WINDOW", {kPager, 0, kAbove});
      }
    }
  }
  display_->sendRootMessage(target, "_NET_ACTIVE_WINDOW",
                            {kPager, 0, static_cast<long>(display_->activeWindow())});
  display_->run([](auto*) {});
  return true;
}

std::optional<std::int32_t> X11RunningApplications::frontmost() {
  const auto active = display_->activeWindow();
  if (active == 0) return std::nullopt;
  return display_->processOf(active);
}

CurrentApplication X11RunningApplications::current() {
  return {static_cast<std::int32_t>(::getpid()), selfBundleIdentifier_};
}

}  // namespace platform

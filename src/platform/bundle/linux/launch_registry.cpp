#include "platform/bundle/linux/launch_registry.h"

#include <charconv>
#include <vector>

#include "platform/bundle/linux/desktop_applications.h"

namespace platform {

void LaunchRegistry::recordLaunch(std::int32_t pid, std::string desktopId) {
  {
    std::lock_guard lock(mutex_);
    running_.insert_or_assign(pid, desktopId);
  }
  notify(pid, desktopId, true);
}

void LaunchRegistry::recordExit(std::int32_t pid) {
  std::string desktopId;
  {
    std::lock_guard lock(mutex_);
    auto it = running_.find(pid);
    if (it == running_.end()) return;
    desktopId = std::move(it->second);
    running_.erase(it);
  }
  notify(pid, desktopId, false);
}

std::optional<std::string> LaunchRegistry::desktopIdOf(std::int32_t pid) const {
  std::lock_guard lock(mutex_);
  auto it = running_.find(pid);
  if (it == running_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> LaunchRegistry::desktopIdOfProcessOrAncestor(std::int32_t pid) const {
  {
    std::lock_guard lock(mutex_);
    if (running_.empty()) return std::nullopt;
  }
  // Bounded, so a process tree that changes while it is read cannot loop.
  for (int depth = 0; depth < 64 && pid > 1; ++depth) {
    if (auto id = desktopIdOf(pid)) return id;
    std::optional<std::int32_t> parent = parentProcessId(pid);
    if (!parent) return std::nullopt;
    pid = *parent;
  }
  return std::nullopt;
}

std::uint64_t LaunchRegistry::addListener(Listener listener) {
  std::lock_guard lock(mutex_);
  const std::uint64_t id = nextListener_++;
  listeners_.emplace(id, std::make_shared<Listener>(std::move(listener)));
  return id;
}

void LaunchRegistry::removeListener(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

void LaunchRegistry::notify(std::int32_t pid, const std::string& desktopId, bool running) {
  std::vector<std::shared_ptr<Listener>> listeners;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, listener] : listeners_)
      listeners.push_back(listener);
  }
  for (const auto& listener : listeners)
    (*listener)(pid, desktopId, running);
}

std::optional<std::int32_t> parentProcessId(std::int32_t pid) {
  if (pid <= 0) return std::nullopt;
  base::Result<std::string> stat =
      readSmallRegularFile("/proc/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return std::nullopt;
  // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
  const std::size_t close = stat->rfind(')');
  if (close == std::string::npos || close + 4 >= stat->size()) return std::nullopt;
  const char* begin = stat->data() + close + 4;  // past ") S "
  const char* end = stat->data() + stat->size();
  std::int32_t parent = 0;
  auto [ptr, ec] = std::from_chars(begin, end, parent);
  if (ec != std::errc() || ptr == begin) return std::nullopt;
  return parent;
}

}  // namespace platform

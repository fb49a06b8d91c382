#pragma once

// The processes Wendrix launched from desktop entries, while they run. The
// workspace records launches and exits; the bundle-id resolver asks which
// desktop entry a window's process (or one of its ancestors) came from.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class LaunchRegistry {
 public:
  // Told of each recorded launch (running true) and exit (running false), on
  // the thread that records it.
  using Listener =
      std::function<void(std::int32_t pid, const std::string& desktopId, bool running)>;

  void recordLaunch(std::int32_t pid, std::string desktopId);
  // Forgets `pid`; nothing happens for a pid that was not recorded.
  void recordExit(std::int32_t pid);

  std::optional<std::string> desktopIdOf(std::int32_t pid) const;
  // The desktop id of `pid`, else of its nearest ancestor that was recorded.
  std::optional<std::string> desktopIdOfProcessOrAncestor(std::int32_t pid) const;

  std::uint64_t addListener(Listener listener);
  void removeListener(std::uint64_t id);

 private:
  void notify(std::int32_t pid, const std::string& desktopId, bool running);

  mutable std::mutex mutex_;
  std::map<std::int32_t, std::string> running_;
  std::map<std::uint64_t, std::shared_ptr<Listener>> listeners_;
  std::uint64_t nextListener_ = 1;
};

// The parent of a running process, from /proc; none when it cannot be read.
std::optional<std::int32_t> parentProcessId(std::int32_t pid);

}  // namespace platform

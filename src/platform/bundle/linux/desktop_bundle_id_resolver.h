#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/bundle/bundle_id_resolver.h"
#include "platform/bundle/linux/desktop_applications.h"
#include "platform/bundle/linux/launch_registry.h"

namespace platform {

// What the system tells of a running process.
struct ProcessFacts {
  // The absolute path of its executable (/proc/<pid>/exe).
  std::optional<std::string> executable;
  // GIO_LAUNCHED_DESKTOP_FILE of its environment, when its
  // GIO_LAUNCHED_DESKTOP_FILE_PID names the process itself: the desktop file
  // a launcher started it from.
  std::optional<std::string> launchedDesktopFile;
};
using ProcessFactsReader = std::function<ProcessFacts(std::int32_t pid)>;

// The facts of `pid` from /proc; empty ones for a process that cannot be read.
ProcessFacts readProcessFacts(std::int32_t pid);

// Resolves windows to desktop-file ids, in this order: the entry Wendrix
// launched for the window's process or an ancestor (from the launch
// registry); the _GTK_APPLICATION_ID and _KDE_NET_WM_DESKTOP_FILE hints (a
// path or a name with ".desktop" is reduced to its id); the process's
// GIO_LAUNCHED_DESKTOP_FILE; the first installed entry, in search order,
// whose StartupWMClass equals the WM_CLASS class name, else the instance
// name; an installed entry whose id equals the class or instance name, case
// aside; an installed entry whose Exec program is the process's executable.
// Without any, a window of a known process is the application of its
// executable, named by its absolute path. Hints that are empty or hold
// control characters are ignored.
class DesktopBundleIdResolver final : public BundleIdResolver {
 public:
  DesktopBundleIdResolver(DesktopEntryDirectories directories,
                          std::shared_ptr<const LaunchRegistry> launches,
                          ProcessFactsReader processes = readProcessFacts);

  std::optional<std::string> bundleIdentifierFor(const WindowOwnerHints& hints) const override;

 private:
  std::optional<std::string> idFromHint(const std::optional<std::string>& hint) const;
  std::optional<std::string> idFromEntries(const WindowOwnerHints& hints,
                                           const std::optional<std::string>& executable) const;

  DesktopEntryDirectories directories_;
  std::shared_ptr<const LaunchRegistry> launches_;
  ProcessFactsReader processes_;
};

}  // namespace platform

#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "dispatch/main_loop.h"
#include "platform/bundle/linux/desktop_applications.h"
#include "platform/bundle/linux/launch_registry.h"
#include "platform/workspace/workspace.h"

namespace platform {

inline constexpr std::string_view kWorkspaceErrorDomain = "Wendrix.WorkspaceError";

// Codes of kWorkspaceErrorDomain.
enum WorkspaceError : std::int64_t {
  workspaceNoApplication = 1,  // nothing that can be launched at the URL
  workspaceCannotLaunch = 2    // the entry's command line or the start of its program failed
};

// Launches applications from their desktop entries. An application URL is the
// file URL of a .desktop file (or of an executable, started as it is); its
// Exec line is expanded with the documents and run with posix_spawn, one
// process per document when the line takes a single %f or %u. Asking a
// running application again starts the entry again, which single-instance
// applications turn into a new window of the running one.
//
// Each started process is recorded in the launch registry under its
// desktop-file id and watched through a pidfd on the main loop: when it ends it
// is reaped and its record removed. Completions are always posted to the main
// loop, never run inside the call. Use from the main loop's thread.
class DesktopWorkspace final : public Workspace {
 public:
  DesktopWorkspace(dispatch::MainLoop& loop, DesktopEntryDirectories directories,
                   std::string locale, std::shared_ptr<LaunchRegistry> launches);
  // Stops watching; children still running are left to run.
  ~DesktopWorkspace() override;
  DesktopWorkspace(const DesktopWorkspace&) = delete;
  DesktopWorkspace& operator=(const DesktopWorkspace&) = delete;

  // The installed desktop entry with this id (not Hidden, TryExec found); an
  // absolute path names an executable file, the program of no entry.
  std::optional<base::Url> urlForApplication(std::string_view bundleIdentifier) override;
  void openApplication(const base::Url& applicationURL, OpenCompletion completion) override;
  void openURLs(const std::vector<base::Url>& urls, const base::Url& applicationURL,
                OpenCompletion completion) override;
  // Runs the entry's new-window action when it has one, else launches as
  // openApplication does.
  void reopenApplication(const base::Url& applicationURL, OpenCompletion completion) override;

  // Whether a process this workspace started is still watched (not yet ended).
  bool isWatching(pid_t pid) const { return children_.count(pid) != 0; }

 private:
  struct Child;

  base::Result<LaunchedApplication> launch(const base::Url& applicationURL,
                                           const std::vector<base::Url>& documents,
                                           bool newWindow = false);
  void watchChild(pid_t pid);
  void childEnded(pid_t pid);
  void complete(OpenCompletion completion, base::Result<LaunchedApplication> result);

  dispatch::MainLoop& loop_;
  DesktopEntryDirectories directories_;
  std::string locale_;
  std::shared_ptr<LaunchRegistry> launches_;
  std::map<pid_t, std::unique_ptr<Child>> children_;
};

}  // namespace platform

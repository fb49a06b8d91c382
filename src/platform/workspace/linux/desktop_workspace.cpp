#include "platform/workspace/linux/desktop_workspace.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/workspace/linux/spawn.h"

namespace platform {
namespace {

base::Error noApplication(const base::Url& url, std::string_view why = {}) {
  std::string description = "No application at " + url.absoluteString() + ".";
  if (!why.empty()) description += " " + std::string(why);
  return base::Error(std::string(kWorkspaceErrorDomain), workspaceNoApplication, description);
}

base::Error cannotLaunch(const base::Error& cause) {
  return base::Error(std::string(kWorkspaceErrorDomain), workspaceCannotLaunch, cause.description);
}

// Through syscall(): this glibc's <sys/pidfd.h> declares pidfd_open without C linkage.
int openPidfd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

struct DesktopWorkspace::Child {
  int pidfd = -1;
  dispatch::WatchHandle watch;
  ~Child() {
    watch.cancel();
    if (pidfd >= 0) ::close(pidfd);
  }
};

DesktopWorkspace::DesktopWorkspace(dispatch::MainLoop& loop, DesktopEntryDirectories directories,
                                   std::string locale, std::shared_ptr<LaunchRegistry> launches)
    : loop_(loop),
      directories_(std::move(directories)),
      locale_(std::move(locale)),
      launches_(std::move(launches)) {}

DesktopWorkspace::~DesktopWorkspace() = default;

std::optional<base::Url> DesktopWorkspace::urlForApplication(std::string_view bundleIdentifier) {
  // A program without a desktop entry is named by its executable's path.
  if (bundleIdentifier.starts_with('/')) {
    const std::string path(bundleIdentifier);
    if (!isExecutableFile(path)) return std::nullopt;
    return base::Url::fromFilePath(path);
  }
  const std::optional<std::string> path = directories_.pathForId(bundleIdentifier);
  if (!path) return std::nullopt;
  base::Result<DesktopApplication> app =
      readDesktopApplication(directories_.entries(), *path, std::string(bundleIdentifier), locale_);
  if (!app || !app->installed()) return std::nullopt;
  return base::Url::fromFilePath(*path);
}

void DesktopWorkspace::openApplication(const base::Url& applicationURL, OpenCompletion completion) {
  complete(std::move(completion), launch(applicationURL, {}));
}

void DesktopWorkspace::openURLs(const std::vector<base::Url>& urls, const base::Url& applicationURL,
                                OpenCompletion completion) {
  complete(std::move(completion), launch(applicationURL, urls));
}

void DesktopWorkspace::reopenApplication(const base::Url& applicationURL,
                                         OpenCompletion completion) {
  complete(std::move(completion), launch(applicationURL, {}, /*newWindow=*/true));
}

void DesktopWorkspace::complete(OpenCompletion completion,
                                base::Result<LaunchedApplication> result) {
  loop_.post([completion = std::move(completion), result = std::move(result)] {
    if (!completion) return;
    if (result) {
      completion(*result, std::nullopt);
    } else {
      completion(std::nullopt, result.error());
    }
  });
}

base::Result<LaunchedApplication> DesktopWorkspace::launch(const base::Url& applicationURL,
                                                           const std::vector<base::Url>& documents,
                                                           bool newWindow) {
  const std::optional<std::string> path = applicationURL.filePath();
  if (!path) return noApplication(applicationURL);

  std::vector<std::vector<std::string>> commands;
  std::optional<std::string> workingDirectory;
  LaunchedApplication launched;
  launched.bundleURL = applicationURL;

  if (std::optional<std::string> id = directories_.idForPath(*path)) {
    base::Result<DesktopApplication> app =
        readDesktopApplication(directories_.entries(), *path, *id, locale_);
    if (!app) return noApplication(applicationURL, app.error().description);
    if (app->hidden) return noApplication(applicationURL, "The desktop entry is hidden.");
    if (!app->exec) return cannotLaunch(app->exec.error());
    const ExecLine& line = newWindow && app->newWindowExec ? *app->newWindowExec : *app->exec;
    base::Result<std::vector<std::vector<std::string>>> expanded =
        line.expand(ExecLine::Context{documents, app->icon, app->name, app->path});
    if (!expanded) return cannotLaunch(expanded.error());
    commands = std::move(*expanded);
    workingDirectory = app->workingDirectory;
    launched.bundleIdentifier = app->id;
  } else {
    // A plain executable takes the documents as arguments: local paths for
    // file URLs, the URL text otherwise.
    if (!isExecutableFile(*path)) return noApplication(applicationURL);
    launched.bundleIdentifier = *path;
    std::vector<std::string> argv{*path};
    for (const base::Url& url : documents) {
      argv.push_back(url.filePath().value_or(url.absoluteString()));
    }
    commands.push_back(std::move(argv));
  }

  for (std::size_t i = 0; i < commands.size(); ++i) {
    base::Result<pid_t> pid = spawnProcess(commands[i], workingDirectory);
    if (!pid) return pid.error();
    if (i == 0) launched.processIdentifier = *pid;
    if (launched.bundleIdentifier && !launched.bundleIdentifier->starts_with('/') && launches_) {
      launches_->recordLaunch(*pid, *launched.bundleIdentifier);
    }
    watchChild(*pid);
  }
  return launched;
}

void DesktopWorkspace::watchChild(pid_t pid) {
  auto child = std::make_unique<Child>();
  child->pidfd = openPidfd(pid);
  if (child->pidfd < 0) {
    // Already gone and reaped elsewhere. Without pidfd support (ENOSYS) the
    // process runs on unwatched and stays recorded.
    if (errno == ESRCH && launches_) launches_->recordExit(pid);
    return;
  }
  child->watch = loop_.watch(child->pidfd, dispatch::MainLoop::kReadable,
                             [this, pid](unsigned) { childEnded(pid); });
  children_[pid] = std::move(child);
}

void DesktopWorkspace::childEnded(pid_t pid) {
  auto it = children_.find(pid);
  if (it == children_.end()) return;
  siginfo_t info{};
  if (::waitid(P_PIDFD, static_cast<id_t>(it->second->pidfd), &info, WEXITED | WNOHANG) == 0 &&
      info.si_pid == 0) {
    return;  // not ended yet
  }
  // Reaped now, or by someone else (ECHILD): either way it has ended.
  children_.erase(it);
  if (launches_) launches_->recordExit(pid);
}

}  // namespace platform

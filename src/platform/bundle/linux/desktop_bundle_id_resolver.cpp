#include "platform/bundle/linux/desktop_bundle_id_resolver.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "base/utf8.h"
#include "platform/bundle/linux/desktop_applications.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::optional<std::string> canonical(const std::string& path) {
  std::error_code ec;
  fs::path resolved = fs::canonical(path, ec);
  if (ec) return std::nullopt;
  return resolved.string();
}

// Where an Exec program leads: an absolute path as it is, a bare name through
// PATH; canonical, so links compare equal to their target.
std::optional<std::string> resolveProgram(const std::string& program) {
  if (program.empty()) return std::nullopt;
  if (program.front() == '/') return canonical(program);
  if (program.find('/') != std::string::npos) return std::nullopt;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!dirs.empty()) {
    const std::size_t colon = std::min(dirs.find(':'), dirs.size());
    const std::string dir(dirs.substr(0, colon));
    dirs.remove_prefix(std::min(colon + 1, dirs.size()));
    if (dir.empty() || dir.front() != '/') continue;
    const std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return canonical(candidate);
  }
  return std::nullopt;
}

}  // namespace

ProcessFacts readProcessFacts(std::int32_t pid) {
  ProcessFacts facts;
  if (pid <= 0) return facts;
  const std::string dir = "/proc/" + std::to_string(pid);
  char target[4096];
  const ssize_t n = ::readlink((dir + "/exe").c_str(), target, sizeof(target) - 1);
  if (n > 0) {
    std::string exe(target, static_cast<std::size_t>(n));
    // An executable replaced while running reads with this mark.
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
    if (!exe.empty() && exe.front() == '/') facts.executable = std::move(exe);
  }
  if (base::Result<std::string> environ = readSmallRegularFile(dir + "/environ", 1 << 20)) {
    // Children inherit the variable; it names the process's own entry only
    // where GIO_LAUNCHED_DESKTOP_FILE_PID is the process itself.
    constexpr std::string_view kFile = "GIO_LAUNCHED_DESKTOP_FILE=";
    constexpr std::string_view kPid = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
    std::optional<std::string> file;
    bool own = false;
    std::string_view rest = *environ;
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find('\0'), rest.size());
      const std::string_view variable = rest.substr(0, end);
      if (variable.starts_with(kFile)) file = std::string(variable.substr(kFile.size()));
      if (variable.starts_with(kPid)) own = variable.substr(kPid.size()) == std::to_string(pid);
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    if (own) facts.launchedDesktopFile = std::move(file);
  }
  return facts;
}

DesktopBundleIdResolver::DesktopBundleIdResolver(DesktopEntryDirectories directories,
                                                 std::shared_ptr<const LaunchRegistry> launches,
                                                 ProcessFactsReader processes)
    : directories_(std::move(directories)),
      launches_(std::move(launches)),
      processes_(std::move(processes)) {}

std::optional<std::string> DesktopBundleIdResolver::bundleIdentifierFor(
    const WindowOwnerHints& hints) const {
  if (launches_ && hints.pid > 0) {
    if (auto id = launches_->desktopIdOfProcessOrAncestor(hints.pid)) return id;
  }
  if (auto id = idFromHint(hints.gtkApplicationId)) return id;
  if (auto id = idFromHint(hints.kdeDesktopFile)) return id;
  ProcessFacts facts;
  if (hints.pid > 0 && processes_) facts = processes_(hints.pid);
  if (facts.launchedDesktopFile && facts.launchedDesktopFile->starts_with("/")) {
    if (auto id = idFromHint(facts.launchedDesktopFile)) return id;
  }
  if (auto id = idFromEntries(hints, facts.executable)) return id;
  return facts.executable;
}

std::optional<std::string> DesktopBundleIdResolver::idFromHint(
    const std::optional<std::string>& hint) const {
  if (!hint || hint->empty() || !base::isValidUtf8(*hint)) return std::nullopt;
  if (std::any_of(hint->begin(), hint->end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return std::nullopt;
  }
  if (hint->front() == '/') {
    if (hint->size() > kDesktopFileSuffix.size() && hint->ends_with(kDesktopFileSuffix)) {
      return directories_.idForPath(*hint);
    }
    return std::nullopt;
  }
  std::string id = *hint;
  if (id.ends_with(kDesktopFileSuffix)) id.resize(id.size() - kDesktopFileSuffix.size());
  if (id.empty() || id.find('/') != std::string::npos) return std::nullopt;
  return id;
}

std::optional<std::string> DesktopBundleIdResolver::idFromEntries(
    const WindowOwnerHints& hints, const std::optional<std::string>& executable) const {
  const std::string wmClass = hints.wmClass.value_or("");
  const std::string instance = hints.wmInstance.value_or("");
  const std::string classLower = lowered(wmClass);
  const std::string instanceLower = lowered(instance);
  const std::optional<std::string> exe = executable ? canonical(*executable) : std::nullopt;
  if (wmClass.empty() && instance.empty() && !exe) return std::nullopt;

  // The first entry of each rule, in search order; the rules rank as listed.
  std::optional<std::string> byInstance, byId, byExec;
  for (const DesktopFile& file : directories_.list()) {
    base::Result<DesktopApplication> app =
        readDesktopApplication(directories_.entries(), file.path, file.id, "");
    if (!app || !app->installed()) continue;
    if (const auto& startup = app->startupWMClass) {
      if (!wmClass.empty() && *startup == wmClass) return app->id;
      if (!byInstance && !instance.empty() && *startup == instance) byInstance = app->id;
    }
    if (!byId) {
      const std::string id = lowered(app->id);
      if ((!classLower.empty() && id == classLower) ||
          (!instanceLower.empty() && id == instanceLower)) {
        byId = app->id;
      }
    }
    if (!byExec && exe && app->exec && resolveProgram(app->exec->program()) == exe) {
      byExec = app->id;
    }
  }
  if (byInstance) return byInstance;
  if (byId) return byId;
  return byExec;
}

}  // namespace platform

#include "telemetry/util/utility.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "base/file_io.h"
#include "base/private_files.h"
#include "platform/bundle/app_identity.h"
#include "platform/paths/paths.h"
#include "telemetry/core/logger.h"
#include "telemetry/core/sdk_identity.h"

namespace tlm {
namespace fs = std::filesystem;

namespace {

constexpr const char* kSdkFolderName = "com.zodoradud.daraveved";

struct DirectoryState {
  std::recursive_mutex mutex;  // the class lock of the file operations
  std::optional<fs::path> directory;
};

DirectoryState& directoryState() {
  static DirectoryState state;
  return state;
}

// The data directory, worked out and created on first use. Call under the lock.
const fs::path& directoryLocked() {
  auto& state = directoryState();
  if (!state.directory) {
    state.directory = platform::paths::dataHome() /
                      platform::AppIdentity::current().bundleIdentifier / kSdkFolderName;
    TLMUtility::createDirectoryAtURL(*state.directory);
  }
  return *state.directory;
}

// The absolute path of a component, or none for an empty, absolute or
// climbing one.
std::optional<fs::path> resolve(std::string_view component) {
  if (component.empty()) return std::nullopt;
  const fs::path relative(component);
  if (relative.is_absolute()) return std::nullopt;
  for (const auto& part : relative)
    if (part == "..") return std::nullopt;
  // "." and the like name the directory itself, which no caller may replace.
  if (const auto normal = relative.lexically_normal(); normal.empty() || normal == ".")
    return std::nullopt;
  return (directoryLocked() / relative).lexically_normal();
}

std::string errnoText(int error) {
  return std::strerror(error);
}

bool writeAll(int fd, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data = data.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

bool writeInPlace(const fs::path& path, std::span<const std::uint8_t> data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = writeAll(fd, data);
  return (::close(fd) == 0) && ok;
}

bool removeItem(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) {
    if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
  } else {
    fs::remove_all(path, ec);
  }
  if (ec) {
    TLM_LOG_DEBUG(kTLMLogTag, "Couldn't remove item at ", path.string(), ": ", ec.message());
    return false;
  }
  return true;
}

}  // namespace

fs::path TLMUtility::darAvevedDirectoryURL() {
  std::lock_guard lock(directoryState().mutex);
  return directoryLocked();
}

void TLMUtility::resetDirectoryForTesting() {
  std::lock_guard lock(directoryState().mutex);
  directoryState().directory.reset();
}

std::optional<fs::path> TLMUtility::createFileAtPathComponent(std::string_view component,
                                                              std::span<const std::uint8_t> data,
                                                              bool atomically,
                                                              bool forceOverwrite) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  if (!path) return std::nullopt;
  std::error_code ec;
  if (!forceOverwrite && fs::exists(*path, ec)) return path;

  createDirectoryAtURL(path->parent_path());
  // SDK files are private to the user (mode 0600), however they are written.
  const bool written =
      atomically ? base::writeFileAtomically(*path, data, 0600).ok() : writeInPlace(*path, data);
  if (!written) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't create new file at path ", path->string());
    return std::nullopt;
  }
  return path;
}

bool TLMUtility::deleteItemForPathComponent(std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  return path && removeItem(*path);
}

bool TLMUtility::deleteFileAtURL(const fs::path& path) {
  std::lock_guard lock(directoryState().mutex);
  return !path.empty() && removeItem(path);
}

std::optional<fs::path> TLMUtility::createDirectoryForPathComponent(std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  if (!path || !createDirectoryAtURL(*path)) return std::nullopt;
  return path;
}

std::optional<base::Bytes> TLMUtility::loadDataForPathComponent(std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  if (!path) return std::nullopt;
  auto data = base::readRegularFile(*path);
  if (!data) return std::nullopt;
  return std::move(data).value();
}

std::optional<base::Bytes> TLMUtility::loadDataOrMoveAsideForPathComponent(
    std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  if (!path) return std::nullopt;
  auto data = base::readRegularFile(*path);
  if (data) return std::move(data).value();
  if (data.error().code == ENOENT) return std::nullopt;
  const auto aside = base::moveAside(*path, ".unreadable");
  std::fprintf(stderr, "%s; %s%s%s\n", data.error().description.c_str(),
               aside ? "moved it to \"" : "it could not be moved aside either",
               aside ? aside.value().c_str() : "", aside ? "\"" : "");
  return std::nullopt;
}

std::optional<std::vector<fs::path>> TLMUtility::contentsOfDirectory(std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  if (!path) return std::nullopt;
  std::error_code ec;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(*path, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(it->path());
  if (ec) {
    TLM_LOG_DEBUG(kTLMLogTag, "Couldn't get files in the directory \"", component,
                  "\": ", ec.message());
    return std::nullopt;
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool TLMUtility::fileExistsForPathComponent(std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  const auto path = resolve(component);
  std::error_code ec;
  return path && fs::exists(*path, ec);
}

std::optional<fs::path> TLMUtility::fullURLForPathComponent(std::string_view component) {
  std::lock_guard lock(directoryState().mutex);
  return resolve(component);
}

bool TLMUtility::createDirectoryAtURL(const fs::path& path) {
  if (path.empty()) return false;
  // SDK folders hold user ids and event properties: private to the user.
  if (const base::Status made = base::createPrivateDirectories(path); !made) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't create directory at ", path.string(), ": ",
                  errnoText(static_cast<int>(made.error().code)));
    return false;
  }
  disableBackupForDirectoryURL(path);
  return true;
}

bool TLMUtility::disableBackupForDirectoryURL(const fs::path& path) {
  static constexpr char kAttribute[] = "user.xdg.robots.backup";
  static constexpr char kNo[] = "false";
  int error = EINVAL;
  if (!path.empty()) {
    if (::setxattr(path.c_str(), kAttribute, kNo, sizeof kNo - 1, 0) == 0) return true;
    error = errno;
    if (error == ENOTSUP) return true;
  }
  TLM_LOG_ERROR(kTLMLogTag, "Error excluding ", path.string(), " from iCloud backup ",
                errnoText(error));
  return false;
}

TLMApplicationState TLMUtility::applicationState() {
  char exe[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string_view executable(exe, n > 0 ? static_cast<std::size_t>(n) : 0);
  // The agent has no hidden state of its own: it lives in the tray.
  return applicationStateFor(executable, ::gettid() == ::getpid(), /*hidden=*/false);
}

TLMApplicationState TLMUtility::applicationStateFor(std::string_view executablePath,
                                                    bool onMainThread, bool hidden) {
  if (executablePath.find(".appex/") != std::string_view::npos || !onMainThread)
    return TLMApplicationState::Unknown;
  return hidden ? TLMApplicationState::Background : TLMApplicationState::Active;
}

std::string_view TLMUtility::sdkName() {
  return kTLMSdkName;
}
std::string_view TLMUtility::sdkVersion() {
  return kTLMSdkVersion;
}

}  // namespace tlm

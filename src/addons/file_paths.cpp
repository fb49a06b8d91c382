#include "addons/file_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/paths/paths.h"

namespace wendrix::addons {

std::string lastPathComponent(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] == '/')
    --end;
  if (end == 0) return path.empty() ? std::string() : std::string("/");
  const std::size_t slash = path.rfind('/', end - 1);
  const std::size_t begin = slash == std::string_view::npos ? 0 : slash + 1;
  return std::string(path.substr(begin, end - begin));
}

std::string deletingPathExtension(std::string_view component) {
  const std::size_t dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == component.size()) {
    return std::string(component);
  }
  return std::string(component.substr(0, dot));
}

std::string lastPathComponent(const base::Url& url) {
  return lastPathComponent(url.filePath().value_or(url.path()));
}

namespace {

std::optional<std::string> homeOfUser(const std::string& name) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir) {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

}  // namespace

std::string expandingTildeInPath(std::string_view path) {
  if (path.empty() || path.front() != '~') return std::string(path);
  const std::size_t slash = path.find('/');
  const std::string_view user =
      path.substr(1, slash == std::string_view::npos ? path.npos : slash - 1);
  const std::string_view rest =
      slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  std::optional<std::string> home;
  if (!user.empty()) {
    home = homeOfUser(std::string(user));
  } else if (const auto own = platform::paths::knownHomeDirectory()) {
    home = own->string();
  }
  if (!home) return std::string(path);
  // "~" of a home folder "/" must not give "//x".
  if (home->size() > 1 && home->back() == '/') home->pop_back();
  if (*home == "/" && !rest.empty()) return std::string(rest);
  return *home + std::string(rest);
}

base::Url fileURL(std::string_view path, bool isDirectory) {
  if (!path.empty() && path.front() == '/') return base::Url::fromFilePath(path, isDirectory);
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), error);
  if (error) return base::Url::fromFilePath(path, isDirectory);
  return base::Url::fromFilePath(absolute.string(), isDirectory);
}

std::optional<bool> isDirectoryAt(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
  return S_ISDIR(info.st_mode);
}

}  // namespace wendrix::addons

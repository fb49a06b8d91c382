#include "platform/paths/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace platform::paths {
namespace fs = std::filesystem;

namespace {

bool isAbsolute(const char* value) {
  return value && value[0] == '/';
}

// The variable's value when it is an absolute path.
std::optional<fs::path> absoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!isAbsolute(value)) return std::nullopt;
  return fs::path(value);
}

// The absolute entries of the colon-separated list in `name`, else `fallback`.
std::vector<fs::path> absoluteList(const char* name, std::vector<fs::path> fallback) {
  std::vector<fs::path> out;
  const char* value = std::getenv(name);
  std::string_view rest = value ? value : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (!entry.empty() && entry.front() == '/') out.emplace_back(entry);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return out.empty() ? fallback : out;
}

fs::path underHome(const char* name, const fs::path& fallback) {
  if (auto value = absoluteVariable(name)) return *value;
  return homeDirectory() / fallback;
}

}  // namespace

std::optional<fs::path> knownHomeDirectory() {
  if (auto home = absoluteVariable("HOME")) return home;
  // The reentrant lookup: callers run on any thread.
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      isAbsolute(found->pw_dir)) {
    return fs::path(found->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::string> loginName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && *found->pw_name) {
    return std::string(found->pw_name);
  }
  if (const char* user = std::getenv("USER"); user && *user) return std::string(user);
  return std::nullopt;
}

fs::path homeDirectory() {
  return knownHomeDirectory().value_or("/tmp");
}

fs::path configHome() {
  return underHome("XDG_CONFIG_HOME", ".config");
}

fs::path dataHome() {
  return underHome("XDG_DATA_HOME", fs::path(".local") / "share");
}

fs::path cacheHome() {
  return underHome("XDG_CACHE_HOME", ".cache");
}

std::optional<fs::path> runtimeDirectory() {
  return absoluteVariable("XDG_RUNTIME_DIR");
}

std::vector<fs::path> configDirectories() {
  return absoluteList("XDG_CONFIG_DIRS", {"/etc/xdg"});
}

std::vector<std::string> currentDesktops() {
  std::vector<std::string> out;
  const char* value = std::getenv("XDG_CURRENT_DESKTOP");
  std::string_view rest = value ? value : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    if (colon != 0) out.emplace_back(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return out;
}

std::vector<fs::path> dataDirectories() {
  return absoluteList("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"});
}

std::vector<fs::path> dataSearchDirectories() {
  std::vector<fs::path> out{dataHome()};
  for (auto& dir : dataDirectories())
    out.push_back(std::move(dir));
  return out;
}

}  // namespace platform::paths

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

fs::path underHome(const char* name, const fs::path& fallback) {
  if (auto value = absoluteVariable(name)) return *value;
  return homeDirectory() / fallback;
}

}  // namespace

fs::path homeDirectory() {
  if (auto home = absoluteVariable("HOME")) return *home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && isAbsolute(entry->pw_dir)) {
    return entry->pw_dir;
  }
  return "/tmp";
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

std::vector<fs::path> dataDirectories() {
  std::vector<fs::path> out;
  const char* value = std::getenv("XDG_DATA_DIRS");
  std::string_view rest = value ? value : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (!entry.empty() && entry.front() == '/') out.emplace_back(entry);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  if (out.empty()) out = {"/usr/local/share", "/usr/share"};
  return out;
}

std::vector<fs::path> dataSearchDirectories() {
  std::vector<fs::path> out{dataHome()};
  for (auto& dir : dataDirectories())
    out.push_back(std::move(dir));
  return out;
}

}  // namespace platform::paths

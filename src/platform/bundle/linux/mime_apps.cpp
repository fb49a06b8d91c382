#include "platform/bundle/linux/mime_apps.h"

#include "platform/bundle/linux/desktop_applications.h"
#include "platform/paths/paths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform {
namespace {

constexpr std::size_t kMaxListFileSize = 1 << 20;

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// The entries listed for `mimeType` under [Default Applications] of a
// mimeapps.list text, in order.
std::vector<std::string> defaultsIn(std::string_view text, std::string_view mimeType) {
  bool inDefaults = false;
  for (const std::string& rawLine : split(text, '\n')) {
    const std::string_view line = trimmed(rawLine);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inDefaults = line == "[Default Applications]";
      continue;
    }
    if (!inDefaults) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != mimeType) continue;
    std::vector<std::string> entries;
    for (const std::string& item : split(line.substr(equals + 1), ';')) {
      const std::string_view entry = trimmed(item);
      if (!entry.empty()) entries.emplace_back(entry);
    }
    return entries;
  }
  return {};
}

bool installed(const DesktopEntryDirectories& directories, const std::string& id) {
  const std::optional<std::string> path = directories.pathForId(id);
  if (!path) return false;
  auto app = readDesktopApplication(directories.entries(), *path, id, "");
  return app.ok() && app->installed();
}

}  // namespace

std::vector<std::string> mimeAppsListFilesFromEnvironment(
    const DesktopEntryDirectories& directories) {
  std::vector<std::string> folders{platform::paths::configHome().string()};
  for (const auto& dir : platform::paths::configDirectories())
    folders.push_back(dir.string());
  for (const std::string& dir : directories.applicationDirs())
    folders.push_back(dir);

  std::vector<std::string> desktops = platform::paths::currentDesktops();
  for (std::string& name : desktops) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  std::vector<std::string> files;
  for (const std::string& folder : folders) {
    for (const std::string& desktop : desktops)
      files.push_back(folder + "/" + desktop + "-mimeapps.list");
    files.push_back(folder + "/mimeapps.list");
  }
  return files;
}

std::optional<std::string> defaultApplicationId(std::string_view mimeType,
                                                const std::vector<std::string>& files,
                                                const DesktopEntryDirectories& directories) {
  for (const std::string& file : files) {
    base::Result<std::string> text = readSmallRegularFile(file, kMaxListFileSize);
    if (!text.ok()) continue;
    for (std::string entry : defaultsIn(*text, mimeType)) {
      if (entry.size() <= kDesktopFileSuffix.size() || !entry.ends_with(kDesktopFileSuffix))
        continue;
      entry.resize(entry.size() - kDesktopFileSuffix.size());
      if (installed(directories, entry)) return entry;
    }
  }
  return std::nullopt;
}

std::optional<std::string> defaultFileManagerId(const DesktopEntryDirectories& directories) {
  return defaultApplicationId("inode/directory", mimeAppsListFilesFromEnvironment(directories),
                              directories);
}

}  // namespace platform

#include "platform/bundle/linux/desktop_applications.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/paths/paths.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isExecutableFile(const std::string& path) {
  return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> splitAbsolutePaths(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t colon = text.find(':', start);
    if (colon == std::string_view::npos) colon = text.size();
    const std::string_view part = text.substr(start, colon - start);
    if (!part.empty() && part.front() == '/') out.emplace_back(part);
    start = colon + 1;
  }
  return out;
}

std::string normalized(std::string_view path) {
  std::string out = fs::path(path).lexically_normal().string();
  while (out.size() > 1 && out.back() == '/')
    out.pop_back();
  return out;
}

// Depth-first search for `rest` below `dir`: "a-b-c" may be a-b-c.desktop,
// a/b-c.desktop, a-b/c.desktop, a/b/c.desktop, ...
std::optional<std::string> findBelow(const std::string& dir, std::string_view rest, int depth) {
  const std::string direct = dir + "/" + std::string(rest) + std::string(kDesktopFileSuffix);
  if (isRegularFile(direct)) return direct;
  if (depth == 0) return std::nullopt;
  std::error_code ec;
  std::vector<std::string> subdirs;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (rest.size() > name.size() + 1 && rest.substr(0, name.size()) == name &&
        rest[name.size()] == '-' && it->is_directory(ec)) {
      subdirs.push_back(name);
    }
  }
  std::sort(subdirs.begin(), subdirs.end());
  for (const std::string& name : subdirs) {
    if (auto found = findBelow(dir + "/" + name, rest.substr(name.size() + 1), depth - 1)) {
      return found;
    }
  }
  return std::nullopt;
}

base::Error readError(const std::string& path, std::string why) {
  return base::Error(std::string(kDesktopEntryErrorDomain), desktopEntryUnreadable,
                     "Cannot read " + path + ": " + why + ".");
}

std::optional<std::string> findInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  for (const std::string& dir : splitAbsolutePaths(path ? path : "/usr/local/bin:/usr/bin:/bin")) {
    const std::string candidate = dir + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

base::Error withPath(const std::string& path, base::Error error) {
  error.description = path + ": " + error.description;
  return error;
}

std::string asciiLower(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '-' || c == '_') continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// The Exec line of the entry's new-window action, if it has one that parses.
std::optional<ExecLine> newWindowAction(const DesktopEntry& entry) {
  const auto actions = entry.stringList("Actions");
  if (!actions) return std::nullopt;
  auto execOf = [&](const std::string& action) -> std::optional<ExecLine> {
    const std::string* raw = entry.raw("Exec", "Desktop Action " + action);
    if (!raw) return std::nullopt;
    base::Result<ExecLine> line = ExecLine::parse(*raw);
    if (!line) return std::nullopt;
    return std::move(*line);
  };
  for (const std::string& action : *actions) {
    if (asciiLower(action) == "newwindow") return execOf(action);
  }
  for (const std::string& action : *actions) {
    const auto name = entry.string("Name", "Desktop Action " + action);
    if (name && asciiLower(*name) == "new window") return execOf(action);
  }
  return std::nullopt;
}

// The application a parsed entry describes.
base::Result<DesktopApplication> applicationFromEntry(const DesktopEntry& entry,
                                                      const std::string& path, std::string id,
                                                      std::string_view locale) {
  auto invalid = [&](const std::string& why) {
    return base::Error(std::string(kDesktopEntryErrorDomain), desktopEntryInvalidValue,
                       path + ": " + why);
  };

  const std::optional<std::string> type = entry.string("Type");
  if (!type) return invalid("Desktop entry has no Type.");
  if (*type != "Application") return invalid("Desktop entry is of Type " + *type + ".");

  DesktopApplication app;
  app.id = std::move(id);
  app.path = path;
  std::optional<std::string> name = entry.localeString("Name", locale);
  if (!name || name->empty()) return invalid("Desktop entry has no Name.");
  app.name = std::move(*name);
  app.icon = entry.string("Icon");
  app.startupWMClass = entry.string("StartupWMClass");
  app.tryExec = entry.string("TryExec");
  app.workingDirectory = entry.string("Path");
  if (app.workingDirectory && app.workingDirectory->empty()) app.workingDirectory.reset();

  struct Flag {
    const char* key;
    bool* target;
  };
  for (const Flag& flag : {Flag{"Hidden", &app.hidden}, Flag{"NoDisplay", &app.noDisplay},
                           Flag{"X-Wendrix-Agent", &app.agent}}) {
    base::Result<std::optional<bool>> value = entry.boolean(flag.key);
    if (!value) return invalid(value.error().description);
    *flag.target = value->value_or(false);
  }

  app.newWindowExec = newWindowAction(entry);
  if (const std::string* exec = entry.raw("Exec")) {
    app.exec = ExecLine::parse(*exec);
    if (!app.exec) {
      base::Error error = app.exec.error();
      error.description = path + ": " + error.description;
      app.exec = error;
    }
  } else {
    app.exec = base::Error(std::string(kExecLineErrorDomain), execLineMalformed,
                           path + ": Desktop entry has no Exec line.");
  }
  return app;
}

}  // namespace

DesktopEntryDirectories::DesktopEntryDirectories(std::vector<std::string> dataDirs) {
  for (const std::string& dir : dataDirs) {
    if (dir.empty() || dir.front() != '/') continue;
    std::string applications = normalized(dir + "/applications");
    if (std::find(applicationDirs_.begin(), applicationDirs_.end(), applications) ==
        applicationDirs_.end()) {
      applicationDirs_.push_back(std::move(applications));
    }
  }
}

DesktopEntryDirectories DesktopEntryDirectories::fromEnvironment() {
  std::vector<std::string> dirs;
  for (const fs::path& dir : paths::dataSearchDirectories())
    dirs.push_back(dir.string());
  return DesktopEntryDirectories(std::move(dirs));
}

std::optional<std::string> DesktopEntryDirectories::pathForId(std::string_view id) const {
  if (id.empty() || id.find('/') != std::string_view::npos || id.find('\0') != id.npos) {
    return std::nullopt;
  }
  for (const std::string& dir : applicationDirs_) {
    if (auto found = findBelow(dir, id, 8)) return found;
  }
  return std::nullopt;
}

std::optional<std::string> DesktopEntryDirectories::idForPath(std::string_view path) const {
  const std::string file = normalized(path);
  if (!endsWith(file, kDesktopFileSuffix) || file.size() == kDesktopFileSuffix.size())
    return std::nullopt;
  std::string relative = file.substr(file.rfind('/') + 1);
  for (const std::string& dir : applicationDirs_) {
    if (file.size() > dir.size() + 1 && file.compare(0, dir.size(), dir) == 0 &&
        file[dir.size()] == '/') {
      relative = file.substr(dir.size() + 1);
      break;
    }
  }
  relative.resize(relative.size() - kDesktopFileSuffix.size());
  if (relative.empty() || relative.back() == '/') return std::nullopt;
  std::replace(relative.begin(), relative.end(), '/', '-');
  return relative;
}

std::vector<DesktopFile> DesktopEntryDirectories::list() const {
  std::vector<DesktopFile> out;
  std::vector<std::string> seen;
  for (const std::string& dir : applicationDirs_) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string path = it->path().string();
      if (endsWith(path, kDesktopFileSuffix) && isRegularFile(path)) paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end());
    for (std::string& path : paths) {
      std::optional<std::string> id = idForPath(path);
      if (!id || std::find(seen.begin(), seen.end(), *id) != seen.end()) continue;
      seen.push_back(*id);
      out.push_back(DesktopFile{std::move(*id), std::move(path)});
    }
  }
  return out;
}

std::string messagesLocaleFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(name); value && *value) return value;
  }
  return {};
}

bool DesktopApplication::tryExecFound() const {
  if (!tryExec) return true;
  if (tryExec->empty()) return false;
  if (tryExec->front() == '/') return isExecutableFile(*tryExec);
  if (tryExec->find('/') != std::string::npos) return false;
  return findInPath(*tryExec).has_value();
}

base::Result<std::string> readSmallRegularFile(const std::string& path, std::size_t maxSize) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return readError(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return readError(path, "not a regular file");
  }
  std::string text;
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      return readError(path, std::strerror(saved));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > maxSize) {
      ::close(fd);
      return readError(path, "larger than " + std::to_string(maxSize) + " bytes");
    }
  }
  ::close(fd);
  return text;
}

base::Result<DesktopApplication> readDesktopApplication(const std::string& path, std::string id,
                                                        std::string_view locale) {
  base::Result<std::string> text = readSmallRegularFile(path, DesktopEntryCache::kMaxEntrySize);
  if (!text) return text.error();
  return parseDesktopApplication(*text, path, std::move(id), locale);
}

base::Result<DesktopApplication> readDesktopApplication(DesktopEntryCache& entries,
                                                        const std::string& path, std::string id,
                                                        std::string_view locale) {
  base::Result<DesktopEntryCache::EntryPtr> entry = entries.entryAt(path);
  if (!entry) {
    // Read errors name the file already.
    if (entry.error().code == desktopEntryUnreadable) return entry.error();
    return withPath(path, entry.error());
  }
  return applicationFromEntry(**entry, path, std::move(id), locale);
}

base::Result<DesktopApplication> parseDesktopApplication(std::string_view text,
                                                         const std::string& path, std::string id,
                                                         std::string_view locale) {
  base::Result<DesktopEntry> parsed = DesktopEntry::parse(text);
  if (!parsed) return withPath(path, parsed.error());
  return applicationFromEntry(*parsed, path, std::move(id), locale);
}

}  // namespace platform

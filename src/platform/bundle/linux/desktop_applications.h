#pragma once

// Finding desktop entries in the XDG data folders and reading them as
// applications.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/bundle/linux/desktop_entry.h"
#include "platform/bundle/linux/desktop_entry_cache.h"
#include "platform/bundle/linux/exec_line.h"

namespace platform {

// The file name extension of desktop entries.
inline constexpr std::string_view kDesktopFileSuffix = ".desktop";

struct DesktopFile {
  std::string id;    // desktop-file id, e.g. "org.example.Editor" or "kde4-editor"
  std::string path;  // absolute path of the .desktop file
};

// The "applications" folders below the XDG data folders. The desktop-file id
// of a file is its path below the folder, with '/' turned into '-' and
// without ".desktop"; among files of the same id the one in the earlier folder
// counts.
class DesktopEntryDirectories {
 public:
  // `dataDirs`: XDG data folders, most important first.
  explicit DesktopEntryDirectories(std::vector<std::string> dataDirs);
  // The XDG data folders of paths::dataSearchDirectories().
  static DesktopEntryDirectories fromEnvironment();

  const std::vector<std::string>& applicationDirs() const { return applicationDirs_; }

  // The file that defines `id`, if any.
  std::optional<std::string> pathForId(std::string_view id) const;

  // The id of the desktop file at `path` (absolute): the id below the first
  // applications folder that holds it; for a file elsewhere its base name
  // without ".desktop". None when the name does not end in ".desktop".
  std::optional<std::string> idForPath(std::string_view path) const;

  // Every id with the file that defines it, in search order (folders in
  // order, each folder's files sorted by path).
  std::vector<DesktopFile> list() const;

  // The parsed entries of these folders' files, shared by every copy of this
  // object.
  DesktopEntryCache& entries() const { return *entries_; }

 private:
  std::vector<std::string> applicationDirs_;
  std::shared_ptr<DesktopEntryCache> entries_ = std::make_shared<DesktopEntryCache>();
};

// The locale of messages: the first set of LC_ALL, LC_MESSAGES and LANG.
std::string messagesLocaleFromEnvironment();

// An application as its desktop entry describes it.
struct DesktopApplication {
  std::string id;
  std::string path;
  std::string name;  // Name, localized
  std::optional<std::string> icon;
  std::optional<std::string> startupWMClass;
  std::optional<std::string> tryExec;
  std::optional<std::string> workingDirectory;  // Path
  bool hidden = false;                          // Hidden: the entry counts as deleted
  bool noDisplay = false;
  bool agent = false;  // X-Wendrix-Agent
  // The parsed Exec line, or why there is none usable.
  base::Result<ExecLine> exec{base::Error()};
  // The Exec line of the entry's action that opens a new window: the action
  // "new-window" (any case, '-' or '_' or nothing between the words), else
  // the first action named "New Window"; none without such an action or when
  // its line does not parse.
  std::optional<ExecLine> newWindowExec;

  // Whether TryExec, when given, names an executable file (a bare name is
  // looked up in PATH).
  bool tryExecFound() const;
  // Whether the entry stands for an installed application: not Hidden and
  // TryExec found.
  bool installed() const { return !hidden && tryExecFound(); }
};

// Reads the file at `path` (a regular file of at most 1 MiB) as an
// application with the given id. Fails when it cannot be read, is malformed,
// is not of Type=Application, has no Name, or a boolean key holds other text.
// A missing or unparsable Exec line does not fail the read: it is kept in
// `exec` and fails a launch.
base::Result<DesktopApplication> readDesktopApplication(const std::string& path, std::string id,
                                                        std::string_view locale);
// The same through `entries`: a file unchanged since it was last read there is
// not read or parsed again.
base::Result<DesktopApplication> readDesktopApplication(DesktopEntryCache& entries,
                                                        const std::string& path, std::string id,
                                                        std::string_view locale);
// The same for entry text already read from `path`.
base::Result<DesktopApplication> parseDesktopApplication(std::string_view text,
                                                         const std::string& path, std::string id,
                                                         std::string_view locale);

// The contents of a regular file of at most `maxSize` bytes. Other kinds of
// file (FIFOs, devices, folders) fail without blocking.
base::Result<std::string> readSmallRegularFile(const std::string& path, std::size_t maxSize);

}  // namespace platform

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace tlm {

// What the SDK knows of the application's run state.
enum class TLMApplicationState : int {
  Active = 0,      // the application is not hidden
  Background = 2,  // the application is hidden
  Unknown = 3,     // an application extension, or asked off the main thread
};

// Shared helpers of the SDK: its private data directory and the file
// operations inside it, the application's state, and the build environment.
//
// Every path component is relative to the data directory
// "$XDG_DATA_HOME/<bundle id>/com.zodoradud.daraveved", the bundle id being the
// installed platform::AppIdentity's. An empty component
// stands for "none"; a component that is absolute or climbs out with ".."
// is refused like none, so no caller can reach outside the directory.
// File operations are serialised on one process-wide lock.
class TLMUtility {
 public:
  // The data directory, worked out once per process from the environment and
  // created (with intermediate folders) then; a failure to create it is
  // logged once and not retried.
  static std::filesystem::path darAvevedDirectoryURL();
  // Forgets the directory so the next use works it out again (tests point
  // XDG_DATA_HOME at a temporary folder).
  static void resetDirectoryForTesting();

  // Writes `data` (empty for none) to the component, atomically when asked,
  // after creating its folder. When something exists there and
  // `forceOverwrite` is false, answers its path without writing.
  static std::optional<std::filesystem::path> createFileAtPathComponent(
      std::string_view component, std::span<const std::uint8_t> data, bool atomically,
      bool forceOverwrite);
  // Removes the file or directory (with its contents).
  static bool deleteItemForPathComponent(std::string_view component);
  // Removes the file or directory at an absolute path.
  static bool deleteFileAtURL(const std::filesystem::path& path);
  // Creates the folder with intermediates; an existing folder is fine.
  static std::optional<std::filesystem::path> createDirectoryForPathComponent(
      std::string_view component);
  static std::optional<base::Bytes> loadDataForPathComponent(std::string_view component);
  // The same for a file read at start: one that is there but cannot be read
  // (a folder, a FIFO, a read error) is moved aside to
  // "<name>.unreadable[-n]", with one line on stderr, so that later starts do
  // not meet it again.
  static std::optional<base::Bytes> loadDataOrMoveAsideForPathComponent(std::string_view component);
  // The entries of a folder, sorted by name; none when it cannot be listed.
  static std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(
      std::string_view component);
  static bool fileExistsForPathComponent(std::string_view component);
  static std::optional<std::filesystem::path> fullURLForPathComponent(std::string_view component);
  // Creates the folder with intermediates and marks it as excluded from
  // backups.
  static bool createDirectoryAtURL(const std::filesystem::path& path);
  // Marks the item with the desktop's backup-exclusion attribute
  // ("user.xdg.robots.backup"); a file system without user attributes has no
  // backups to exclude from and counts as success.
  static bool disableBackupForDirectoryURL(const std::filesystem::path& path);

  // The application's state as seen from the calling thread.
  static TLMApplicationState applicationState();
  // The rule behind `applicationState`, on given facts.
  static TLMApplicationState applicationStateFor(std::string_view executablePath, bool onMainThread,
                                                 bool hidden);

  // The build environment: always 99 (neither store nor test flight).
  static int currentAppEnvironment() { return 99; }
  static bool hasEmbeddedMobileProvision() { return false; }
  static bool isAppStoreReceiptSandbox() { return false; }

  static std::string_view sdkName();
  static std::string_view sdkVersion();
};

}  // namespace tlm

#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <sys/types.h>

#include "platform/defaults/revisions.h"
#include "platform/defaults/user_defaults.h"

namespace platform {

// A store kept in one property-list file. Every change reaches the disk
// before the call returns: the whole domain is written (binary property list, which keeps dates to
// the microsecond) to a temporary file in the same folder, synced and renamed over the store file.
// Changes are made under an advisory lock on "<file>.lock" against the file as it is on disk, so
// several instances (or processes) on one file lose no key; a read picks up a file another instance
// replaced.
//
// A store file that cannot be parsed is renamed aside to a free
// "<file>.corrupt-<UTC time>[-n]" with a line on standard error, and the
// store starts empty: it is never silently overwritten.
class FileUserDefaults final : public UserDefaults {
 public:
  // "$XDG_CONFIG_HOME/<bundle id>/defaults.plist" (XDG_CONFIG_HOME defaults
  // to "~/.config"), the bundle id being the installed AppIdentity's.
  static std::filesystem::path defaultPath();

  // Reads the file when it exists; its folder is made on the first write.
  // Removes the temporary files of writers that died mid-write. Fails only
  // when an existing file cannot be read at all.
  static base::Result<std::shared_ptr<FileUserDefaults>> open(std::filesystem::path path);

  std::optional<coding::Value> get(std::string_view key) const override;
  bool read(std::string_view key,
            const std::function<void(const coding::Value&)>& visit) const override;
  bool readWithRevision(
      std::string_view key,
      const std::function<void(const coding::Value&, Revision)>& visit) const override;
  base::Status set(std::string_view key, coding::Value value) override;
  base::Status remove(std::string_view key) override;
  // Edits the data in place; the whole file is written as for any change.
  base::Result<Revision> replaceDataTail(std::string_view key, Revision expected, std::size_t keep,
                                         std::span<const std::uint8_t> tail) override;
  std::vector<std::string> keys() const override;
  coding::Dictionary snapshot() const override;

  const std::filesystem::path& path() const { return path_; }

 private:
  struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNanos = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
  };

  explicit FileUserDefaults(std::filesystem::path path) : path_(std::move(path)) {}

  // Reloads the cache when the file on disk is not the one last read.
  // `haveFileLock`: the caller holds the advisory lock already (flock
  // conflicts between two descriptors of one process).
  base::Status refreshLocked(bool haveFileLock) const;
  base::Status loadLocked(bool haveFileLock) const;
  base::Status change(std::string_view key, std::optional<coding::Value> value);
  // Writes `values` as the file (they are given back as they were).
  base::Status writeLocked(coding::Dictionary& values);
  FileStamp stampOf() const;

  std::filesystem::path path_;
  mutable std::mutex mutex_;
  mutable coding::Dictionary values_;
  mutable FileStamp stamp_;
  mutable detail::Revisions revisions_;
};

}  // namespace platform

#pragma once

// Parsed desktop entries kept in memory until their files change, so that
// looking an application up again costs one stat(2), not a read and a parse.

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/result.h"
#include "platform/bundle/linux/desktop_entry.h"

namespace platform {

// Keeps each file's parse (or its parse error) by path, with the file's
// identity when it was read: device, inode, size, modification and change
// times. A file whose identity differs is read and parsed again; a file
// replaced through a rename has a new inode, one written in place a new
// change time. Safe to use from several threads.
class DesktopEntryCache {
 public:
  // Most files kept; past that the cache starts afresh.
  static constexpr std::size_t kMaxKeptFiles = 4096;
  // Largest desktop entry read, in bytes.
  static constexpr std::size_t kMaxEntrySize = 1 << 20;

  using EntryPtr = std::shared_ptr<const DesktopEntry>;

  // The entry in the regular file at `path`: the kept one while the file is
  // unchanged (the same object), else read and parsed anew. Fails as
  // readSmallRegularFile and DesktopEntry::parse do.
  base::Result<EntryPtr> entryAt(const std::string& path);

  // Files kept now.
  std::size_t size() const;

 private:
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const Identity& other) const;
  };
  struct Kept {
    Identity identity;
    base::Result<EntryPtr> entry;
  };

  mutable std::mutex mutex_;
  std::unordered_map<std::string, Kept> kept_;
};

}  // namespace platform

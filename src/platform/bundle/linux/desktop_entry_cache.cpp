#include "platform/bundle/linux/desktop_entry_cache.h"

#include <sys/stat.h>

#include "platform/bundle/linux/desktop_applications.h"

namespace platform {

bool DesktopEntryCache::Identity::operator==(const Identity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

base::Result<DesktopEntryCache::EntryPtr> DesktopEntryCache::entryAt(const std::string& path) {
  // The identity is taken before the read: a change after it gives the file
  // another identity, so what was read is never kept past a change.
  struct stat st {};
  const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  const Identity identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  {
    std::lock_guard lock(mutex_);
    auto it = kept_.find(path);
    if (it != kept_.end()) {
      if (regular && it->second.identity == identity) return it->second.entry;
      kept_.erase(it);
    }
  }
  base::Result<std::string> text = readSmallRegularFile(path, kMaxEntrySize);
  // A file that cannot be read is not kept: it may be readable next time.
  if (!text) return text.error();
  base::Result<EntryPtr> entry = EntryPtr();
  if (base::Result<DesktopEntry> parsed = DesktopEntry::parse(*text)) {
    entry = std::make_shared<const DesktopEntry>(std::move(*parsed));
  } else {
    entry = parsed.error();
  }
  if (regular) {
    std::lock_guard lock(mutex_);
    if (kept_.size() >= kMaxKeptFiles) kept_.clear();
    kept_.insert_or_assign(path, Kept{identity, entry});
  }
  return entry;
}

std::size_t DesktopEntryCache::size() const {
  std::lock_guard lock(mutex_);
  return kept_.size();
}

}  // namespace platform

#include "platform/defaults/file_user_defaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "base/file_io.h"
#include "coding/plist.h"
#include "platform/bundle/app_identity.h"
#include "platform/paths/paths.h"

namespace platform {
namespace {

constexpr const char* kDomain = "platform.defaults";

base::Error systemError(const std::string& what, const std::filesystem::path& path, int err) {
  return base::Error(kDomain, err, what + " \"" + path.string() + "\": " + std::strerror(err));
}

std::filesystem::path lockPathOf(const std::filesystem::path& storePath) {
  std::filesystem::path lockPath = storePath;
  lockPath += ".lock";
  return lockPath;
}

// Holds the advisory lock of one store file: exclusive while a writer
// changes it, shared while a reader reads it (a writer rewrites the file
// that the last write but one replaced, see base::replaceFileThroughSpare).
class FileLock {
 public:
  static base::Result<std::unique_ptr<FileLock>> acquire(const std::filesystem::path& storePath) {
    const std::filesystem::path lockPath = lockPathOf(storePath);
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return systemError("cannot open the lock file", lockPath, errno);
    auto lock = std::unique_ptr<FileLock>(new FileLock(fd));
    if (!lock->take(LOCK_EX)) return systemError("cannot lock", lockPath, errno);
    return lock;
  }
  // A shared lock for reading; none where the lock file can neither be
  // made nor opened (no folder, or one nobody can write in: no writer can
  // replace the file there either) or not locked.
  static std::unique_ptr<FileLock> forReading(const std::filesystem::path& storePath) {
    const std::filesystem::path lockPath = lockPathOf(storePath);
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto lock = std::unique_ptr<FileLock>(new FileLock(fd));
    return lock->take(LOCK_SH) ? std::move(lock) : nullptr;
  }
  ~FileLock() { ::flock(fd_.get(), LOCK_UN); }

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  bool take(int operation) {
    while (::flock(fd_.get(), operation) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }
  base::UniqueFd fd_;
};

// The store's advisory lock, its folder made first.
base::Result<std::unique_ptr<FileLock>> lockForChange(const std::filesystem::path& path) {
  std::error_code ec;
  if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) {
    return base::Error(kDomain, ec.value(),
                       "cannot create \"" + path.parent_path().string() + "\": " + ec.message());
  }
  return FileLock::acquire(path);
}

// Data from this size on is written from where the store keeps it.
constexpr std::size_t kLargeData = 64 * 1024;

// Large data (the saved layouts) is kept with room to grow at its end, so
// that the first edit of its tail after a read does not move megabytes to a
// new buffer. The room stays address space until an edit writes into it.
void leaveRoomToGrow(coding::Dictionary& values) {
  std::vector<std::string> large;
  for (const auto& [key, value] : values) {
    const base::Bytes* bytes = value.getIf<base::Bytes>();
    if (bytes && bytes->size() >= kLargeData) large.push_back(key);
  }
  for (const std::string& key : large) {
    base::Bytes& bytes = *values.find(key)->getIf<base::Bytes>();
    base::Bytes roomy;
    roomy.reserve(bytes.size() + bytes.size() / 4);
    roomy.assign(bytes.begin(), bytes.end());
    bytes = std::move(roomy);
  }
}

std::string utcStamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

}  // namespace

std::filesystem::path FileUserDefaults::defaultPath() {
  return paths::configHome() / AppIdentity::current().bundleIdentifier / "defaults.plist";
}

base::Result<std::shared_ptr<FileUserDefaults>> FileUserDefaults::open(std::filesystem::path path) {
  auto store = std::shared_ptr<FileUserDefaults>(new FileUserDefaults(std::move(path)));
  // What writers killed mid-write left beside the file.
  base::removeStaleTemporaries(store->path_);
  std::lock_guard lock(store->mutex_);
  if (auto status = store->loadLocked(false); !status) return status.error();
  return store;
}

FileUserDefaults::FileStamp FileUserDefaults::stampOf() const {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, st.st_size,
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

base::Status FileUserDefaults::refreshLocked(bool haveFileLock) const {
  if (stampOf() == stamp_) return {};
  return loadLocked(haveFileLock);
}

base::Status FileUserDefaults::loadLocked(bool haveFileLock) const {
  // Held until the file is read whole: no writer rewrites it meanwhile.
  std::unique_ptr<FileLock> reading;
  if (!haveFileLock) reading = FileLock::forReading(path_);
  base::UniqueFd file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      values_ = {};
      stamp_ = {};
      revisions_.reloaded();
      return {};
    }
    return systemError("cannot open the user defaults file", path_, errno);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return systemError("cannot read", path_, errno);
  // Read straight into a buffer of the file's size (one byte more tells a
  // file that grew meanwhile), not grown piece by piece: the file can be
  // megabytes.
  base::Bytes bytes(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(2 * bytes.size());
    const ssize_t n = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return systemError("cannot read", path_, errno);
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  file.close();
  reading.reset();
  const FileStamp readStamp{
      true, st.st_dev, st.st_ino, st.st_size,
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};

  auto tree = coding::decodePropertyList(std::span<const std::uint8_t>(bytes));
  if (tree && tree->getIf<coding::Dictionary>()) {
    values_ = std::move(*tree->getIf<coding::Dictionary>());
    leaveRoomToGrow(values_);
    stamp_ = readStamp;
    revisions_.reloaded();
    return {};
  }
  const std::string reason = tree ? "the top level is not a dictionary" : tree.error().description;

  // Move it aside under the store's lock, and only if it is still the file
  // we read: another writer may have replaced it meanwhile.
  std::unique_ptr<FileLock> lock;
  if (!haveFileLock) {
    auto acquired = FileLock::acquire(path_);
    if (!acquired) return acquired.error();
    lock = std::move(*acquired);
  }
  const FileStamp now = stampOf();
  if (now.exists && now.device == readStamp.device && now.inode == readStamp.inode) {
    auto aside = base::moveAside(path_, ".corrupt-" + utcStamp());
    if (!aside) {
      return systemError("cannot move the unreadable user defaults file aside", path_,
                         aside.error().code);
    }
    std::fprintf(stderr,
                 "wendrix: the user defaults file \"%s\" cannot be read (%s); moved it to "
                 "\"%s\" and starting with empty defaults\n",
                 path_.c_str(), reason.c_str(), aside->c_str());
    values_ = {};
    stamp_ = {};
    revisions_.reloaded();
    return {};
  }
  // Replaced meanwhile: read the new one.
  lock.reset();
  return loadLocked(haveFileLock);
}

std::optional<coding::Value> FileUserDefaults::get(std::string_view key) const {
  std::lock_guard lock(mutex_);
  (void)refreshLocked(false);  // on failure the last good contents stay in use
  const coding::Value* value = values_.find(key);
  return value ? std::optional<coding::Value>(*value) : std::nullopt;
}

bool FileUserDefaults::read(std::string_view key,
                            const std::function<void(const coding::Value&)>& visit) const {
  std::lock_guard lock(mutex_);
  (void)refreshLocked(false);
  const coding::Value* value = values_.find(key);
  if (!value) return false;
  visit(*value);
  return true;
}

bool FileUserDefaults::readWithRevision(
    std::string_view key, const std::function<void(const coding::Value&, Revision)>& visit) const {
  std::lock_guard lock(mutex_);
  (void)refreshLocked(false);
  const coding::Value* value = values_.find(key);
  if (!value) return false;
  visit(*value, revisions_.of(key));
  return true;
}

std::vector<std::string> FileUserDefaults::keys() const {
  std::vector<std::string> out;
  for (const auto& entry : snapshot())
    out.push_back(entry.first);
  return out;
}

coding::Dictionary FileUserDefaults::snapshot() const {
  std::lock_guard lock(mutex_);
  (void)refreshLocked(false);
  return values_;
}

base::Status FileUserDefaults::set(std::string_view key, coding::Value value) {
  if (value.isNull()) return change(key, std::nullopt);
  return change(key, std::move(value));
}

base::Status FileUserDefaults::remove(std::string_view key) {
  return change(key, std::nullopt);
}

base::Status FileUserDefaults::change(std::string_view key, std::optional<coding::Value> value) {
  std::lock_guard lock(mutex_);
  auto fileLock = lockForChange(path_);
  if (!fileLock) return fileLock.error();
  // Apply the change to the file as it is now, so other writers' keys stay.
  if (auto status = refreshLocked(true); !status) return status;

  coding::Value* existing = values_.find(key);
  if (value) {
    // The file holds this value already.
    if (existing && *existing == *value) return {};
    // Changed in place rather than on a copy of every value (the store may
    // hold megabytes); put back when the write fails.
    std::optional<coding::Value> previous;
    if (existing) {
      previous = std::exchange(*existing, std::move(*value));
    } else {
      values_.set(std::string(key), std::move(*value));
    }
    if (auto status = writeLocked(values_); !status) {
      if (previous) {
        *values_.find(key) = std::move(*previous);
      } else {
        values_.erase(key);
      }
      return status;
    }
  } else {
    if (!existing) return {};
    coding::Dictionary next = values_;
    next.erase(key);
    if (auto status = writeLocked(next); !status) return status;
    values_ = std::move(next);
  }
  stamp_ = stampOf();
  revisions_.changed(key);
  return {};
}

base::Result<UserDefaults::Revision> FileUserDefaults::replaceDataTail(
    std::string_view key, Revision expected, std::size_t keep, std::span<const std::uint8_t> tail) {
  std::lock_guard lock(mutex_);
  auto fileLock = lockForChange(path_);
  if (!fileLock) return fileLock.error();
  if (auto status = refreshLocked(true); !status) return status.error();
  auto data = detail::dataToReplace(values_, revisions_, key, expected, keep);
  if (!data) return data.error();
  base::Bytes previous = detail::replaceTail(**data, keep, tail);
  if (auto status = writeLocked(values_); !status) {
    auto restored = detail::dataToReplace(values_, revisions_, key, expected, keep);
    (void)detail::replaceTail(**restored, keep, previous);
    return status.error();
  }
  stamp_ = stampOf();
  revisions_.changed(key);
  return revisions_.of(key);
}

base::Status FileUserDefaults::writeLocked(coding::Dictionary& values) {
  // Large data (the saved layouts can be megabytes) goes to the file from
  // where the store keeps it, without a copy into the encoded list: the
  // values are moved into the tree to encode and back, not copied.
  coding::Value tree(std::move(values));
  auto pieces = coding::encodeBinaryPropertyListPieces(tree, kLargeData);
  base::Status status;
  if (!pieces) {
    status = pieces.error();
  } else if (auto written = base::replaceFileThroughSpare(path_, pieces->spans(), 0600); !written) {
    // The store is private to the user.
    status = base::Error(kDomain, written.error().code, written.error().description);
  }
  values = std::move(*tree.getIf<coding::Dictionary>());
  return status;
}

}  // namespace platform

#include "base/file_io.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <string>

namespace base {
Error fileError(std::string_view what, const std::filesystem::path& path, int err) {
  return Error(std::string(kFileErrorDomain), err,
               std::string(what) + " \"" + path.string() + "\": " + std::strerror(err));
}

namespace {

std::filesystem::path folderOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

constexpr std::string_view kTemporaryMark = ".tmp-";

// A fresh hidden file beside `path`, created exclusively with `mode` (less
// the umask); its name in `tmpPath`.
int createTemporaryBeside(const std::filesystem::path& path, mode_t mode,
                          std::filesystem::path& tmpPath) {
  static std::atomic<unsigned> counter{0};
  const std::string stem =
      (folderOf(path) / ("." + path.filename().string() + std::string(kTemporaryMark) +
                         std::to_string(::getpid()) + "-"))
          .string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpPath = stem + std::to_string(counter.fetch_add(1));
    const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool allDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The file name and writer of a temporary ".<name>.tmp-<pid>-<n>"; none for
// any other name.
std::optional<std::pair<std::string_view, pid_t>> parseTemporary(std::string_view entry) {
  if (entry.size() < 2 || entry.front() != '.') return std::nullopt;
  const std::size_t mark = entry.rfind(kTemporaryMark);
  if (mark == std::string_view::npos || mark < 2) return std::nullopt;
  const std::string_view tail = entry.substr(mark + kTemporaryMark.size());
  const std::size_t dash = tail.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view pidText = tail.substr(0, dash);
  if (!allDigits(pidText) || !allDigits(tail.substr(dash + 1))) return std::nullopt;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
  if (ec != std::errc() || pid <= 0) return std::nullopt;
  return std::pair(entry.substr(1, mark - 1), pid);
}

}  // namespace

Result<Bytes> readRegularFile(const std::filesystem::path& path) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return fileError("cannot open", path, errno);
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return fileError("cannot read", path, errno);
  if (!S_ISREG(st.st_mode))
    return fileError("cannot read", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  Bytes data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileError("cannot read", path, errno);
    }
    if (n == 0) return data;
    data.insert(data.end(), buffer, buffer + n);
  }
}

Result<std::filesystem::path> moveAside(const std::filesystem::path& path,
                                        std::string_view suffix) {
  const std::string stem = path.string() + std::string(suffix);
  for (int n = 0; n < 100; ++n) {
    const std::string candidate = n == 0 ? stem : stem + "-" + std::to_string(n);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0)
      return std::filesystem::path(candidate);
    if (errno == EEXIST) continue;
    if (errno != EINVAL) return fileError("cannot move aside", path, errno);
    // A file system without RENAME_NOREPLACE: look first (the callers hold
    // their store's lock, so no writer of theirs races this).
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) == 0) continue;
    if (::rename(path.c_str(), candidate.c_str()) == 0) return std::filesystem::path(candidate);
    return fileError("cannot move aside", path, errno);
  }
  return fileError("cannot move aside", path, EEXIST);
}

std::size_t removeStaleTemporaries(const std::filesystem::path& folder,
                                   const std::function<bool(std::string_view name)>& ofFile) {
  std::size_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    const auto temporary = parseTemporary(entry);
    if (!temporary || !ofFile(temporary->first)) continue;
    // Only ESRCH proves the writer gone; EPERM is a live process of another user.
    if (::kill(temporary->second, 0) == 0 || errno != ESRCH) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

std::size_t removeStaleTemporaries(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  return removeStaleTemporaries(folderOf(path),
                                [&](std::string_view file) { return file == name; });
}

Status writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           std::optional<mode_t> mode) {
  const std::span<const std::uint8_t> pieces[] = {bytes};
  return writeFileAtomically(path, std::span<const std::span<const std::uint8_t>>(pieces), mode);
}

Status writeFileAtomically(const std::filesystem::path& path,
                           std::span<const std::span<const std::uint8_t>> pieces,
                           std::optional<mode_t> mode) {
  std::filesystem::path tmpPath;
  UniqueFd tmp(createTemporaryBeside(path, mode ? 0600 : 0666, tmpPath));
  if (tmp.get() < 0) return fileError("cannot create a temporary file beside", path, errno);
  auto fail = [&](std::string_view what, const std::filesystem::path& subject, int err) {
    ::unlink(tmpPath.c_str());
    return fileError(what, subject, err);
  };

  std::optional<mode_t> bits = mode;
  if (!bits) {
    // A replaced file keeps its permission bits.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
      bits = existing.st_mode & 07777;
  }
  if (bits && ::fchmod(tmp.get(), *bits) != 0)
    return fail("cannot set the permissions of", tmpPath, errno);

  for (std::span<const std::uint8_t> bytes : pieces) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(tmp.get(), bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return fail("cannot write", tmpPath, errno);
      }
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
  }
  if (::fsync(tmp.get()) != 0) return fail("cannot sync", tmpPath, errno);
  if (tmp.close() != 0) return fail("cannot write", tmpPath, errno);
  if (::rename(tmpPath.c_str(), path.c_str()) != 0) return fail("cannot replace", path, errno);
  // Make the rename itself durable.
  UniqueFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return {};
}

namespace {

// The spare beside `path`, opened for writing: the one left by the last
// replace, or a new one where there is none or it is not a plain file of its
// own (an interrupted replace can leave the file itself under that name).
int openSpare(const std::filesystem::path& spare, const std::filesystem::path& path, mode_t mode) {
  const int fd = ::open(spare.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd >= 0) {
    struct stat own {};
    struct stat current {};
    const bool isFile = ::fstat(fd, &own) == 0 && S_ISREG(own.st_mode) && own.st_nlink == 1;
    const bool isPath = ::stat(path.c_str(), &current) == 0 && current.st_dev == own.st_dev &&
                        current.st_ino == own.st_ino;
    if (isFile && !isPath) return fd;
    ::close(fd);
  }
  ::unlink(spare.c_str());
  return ::open(spare.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

}  // namespace

Status replaceFileThroughSpare(const std::filesystem::path& path,
                               std::span<const std::span<const std::uint8_t>> pieces, mode_t mode) {
  const std::filesystem::path folder = folderOf(path);
  const std::string hidden = "." + path.filename().string() + ".spare";
  const std::filesystem::path spare = folder / hidden;
  const std::filesystem::path next = folder / (hidden + "-next");

  UniqueFd file(openSpare(spare, path, mode));
  // Something that is not ours in the way (a folder): a fresh file then.
  if (file.get() < 0) return writeFileAtomically(path, pieces, mode);
  if (::fchmod(file.get(), mode) != 0)
    return fileError("cannot set the permissions of", spare, errno);
  off_t offset = 0;
  for (std::span<const std::uint8_t> bytes : pieces) {
    while (!bytes.empty()) {
      const ssize_t n = ::pwrite(file.get(), bytes.data(), bytes.size(), offset);
      if (n < 0) {
        if (errno == EINTR) continue;
        return fileError("cannot write", spare, errno);
      }
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      offset += n;
    }
  }
  if (::ftruncate(file.get(), offset) != 0) return fileError("cannot write", spare, errno);
  if (::fsync(file.get()) != 0) return fileError("cannot sync", spare, errno);
  if (file.close() != 0) return fileError("cannot write", spare, errno);

  // The file replaced gets a second name first, so that it outlives the
  // rename and becomes the next spare. Without one (no file yet, or a link
  // refused) the next replace makes a new spare.
  ::unlink(next.c_str());  // left by an interrupted replace
  const bool keeping = ::link(path.c_str(), next.c_str()) == 0;
  if (::rename(spare.c_str(), path.c_str()) != 0) {
    const int err = errno;
    if (keeping) ::unlink(next.c_str());
    return fileError("cannot replace", path, err);
  }
  if (keeping && ::rename(next.c_str(), spare.c_str()) != 0) ::unlink(next.c_str());
  // Make the renames themselves durable.
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return {};
}

}  // namespace base

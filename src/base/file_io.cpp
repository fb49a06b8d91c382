#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace base {
namespace {

Error fileError(std::string_view what, const std::filesystem::path& path, int err) {
  return Error(std::string(kFileErrorDomain), err,
               std::string(what) + " \"" + path.string() + "\": " + std::strerror(err));
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// A fresh hidden file beside `path`, created exclusively with `mode` (less
// the umask); its name in `tmpPath`.
int createTemporaryBeside(const std::filesystem::path& path, mode_t mode,
                          std::filesystem::path& tmpPath) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = (folderOf(path) / ("." + path.filename().string() + ".tmp-" +
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

}  // namespace

Status writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
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

  while (!bytes.empty()) {
    const ssize_t n = ::write(tmp.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write", tmpPath, errno);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  if (::fsync(tmp.get()) != 0) return fail("cannot sync", tmpPath, errno);
  if (tmp.close() != 0) return fail("cannot write", tmpPath, errno);
  if (::rename(tmpPath.c_str(), path.c_str()) != 0) return fail("cannot replace", path, errno);
  // Make the rename itself durable.
  UniqueFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return {};
}

}  // namespace base

#include "storage/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/utf8.h"

namespace wendrix {
namespace {

std::string fileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

base::Error fileError(FileError::Code code, const std::string& path, std::string_view what,
                      int err) {
  std::string text = "The file \u201c" + fileName(path) + "\u201d " + std::string(what);
  if (err != 0) text += ": " + std::string(std::strerror(err));
  return base::Error(std::string(FileError::kDomain), code, text + ".");
}

// Closes a file descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// A fresh file beside `path`, created exclusively with mode 0666 less the
// umask (as a new file of the user's would be); its name in `tmpPath`.
int createTemporaryBeside(const std::string& path, std::string& tmpPath) {
  static std::atomic<unsigned> counter{0};
  const std::string stem =
      folderOf(path) + "/." + fileName(path) + ".tmp-" + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpPath = stem + std::to_string(counter.fetch_add(1));
    const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

base::Result<std::string> readUtf8File(const std::string& path) {
  // Non-blocking, so that opening a FIFO cannot hang; only regular files are read.
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.fd < 0) return fileError(FileError::readFailed, path, "couldn\u2019t be opened", errno);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) {
    return fileError(FileError::readFailed, path, "couldn\u2019t be read", errno);
  }
  if (!S_ISREG(st.st_mode)) {
    return fileError(FileError::readFailed, path, "couldn\u2019t be opened",
                     S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  std::string contents;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileError(FileError::readFailed, path, "couldn\u2019t be read", errno);
    }
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  if (!base::isValidUtf8(contents)) {
    return fileError(FileError::notUtf8, path,
                     "couldn\u2019t be opened using text encoding Unicode (UTF-8)", 0);
  }
  return contents;
}

base::Status writeFileAtomically(const std::string& path, std::string_view contents) {
  auto failure = [&path](int err) {
    return fileError(FileError::writeFailed, path, "couldn\u2019t be saved", err);
  };
  std::string tmpPath;
  Fd tmp(createTemporaryBeside(path, tmpPath));
  if (tmp.fd < 0) return failure(errno);
  auto fail = [&](int err) -> base::Status {
    ::unlink(tmpPath.c_str());
    return failure(err);
  };

  // A replaced file keeps its permission bits.
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    if (::fchmod(tmp.fd, existing.st_mode & 07777) != 0) return fail(errno);
  }
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(tmp.fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(tmp.fd) != 0) return fail(errno);
  if (::close(tmp.fd) != 0) {
    tmp.fd = -1;
    return fail(errno);
  }
  tmp.fd = -1;
  if (::rename(tmpPath.c_str(), path.c_str()) != 0) return fail(errno);
  // Make the rename itself durable.
  Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.fd >= 0) ::fsync(folder.fd);
  return {};
}

}  // namespace wendrix

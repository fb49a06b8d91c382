#include "storage/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/file_io.h"
#include "base/utf8.h"

namespace wendrix {
namespace {

std::string fileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

base::Error fileError(FileError::Code code, const std::string& path, std::string_view what,
                      int err) {
  std::string text = "The file \u201c" + fileName(path) + "\u201d " + std::string(what);
  if (err != 0) text += ": " + std::string(std::strerror(err));
  return base::Error(std::string(FileError::kDomain), code, text + ".");
}

}  // namespace

base::Result<std::string> readUtf8File(const std::string& path) {
  // Non-blocking, so that opening a FIFO cannot hang; only regular files are read.
  base::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0)
    return fileError(FileError::readFailed, path, "couldn\u2019t be opened", errno);
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) {
    return fileError(FileError::readFailed, path, "couldn\u2019t be read", errno);
  }
  if (!S_ISREG(st.st_mode)) {
    return fileError(FileError::readFailed, path, "couldn\u2019t be opened",
                     S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  std::string contents;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
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
  if (auto status = base::writeFileAtomically(path, contents); !status) {
    return fileError(FileError::writeFailed, path, "couldn\u2019t be saved",
                     static_cast<int>(status.error().code));
  }
  return {};
}

}  // namespace wendrix

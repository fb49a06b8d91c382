#include "base/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/file_io.h"

namespace base {
namespace {

// The permission bits less those of group and other.
mode_t ownerOnly(mode_t mode) {
  return mode & 07700;
}

}  // namespace

Status createPrivateDirectories(const std::filesystem::path& path) {
  if (path.empty()) return fileError("cannot create the folder", path, ENOENT);
  std::filesystem::path partial;
  for (const auto& part : path) {
    partial /= part;
    if (partial == partial.root_path()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
      return fileError("cannot create the folder", partial, errno);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fileError("cannot create the folder", path, errno);
  if (!S_ISDIR(st.st_mode)) return fileError("cannot create the folder", path, ENOTDIR);
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), ownerOnly(st.st_mode)) != 0)
    return fileError("cannot set the permissions of", path, errno);
  return {};
}

Status createPrivateFile(const std::filesystem::path& path) {
  // O_NONBLOCK: a FIFO in its place must not block the open.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
  if (fd.get() < 0) return fileError("cannot create", path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fileError("cannot create", path, errno);
  if (!S_ISREG(st.st_mode)) return fileError("cannot create", path, EINVAL);
  if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), ownerOnly(st.st_mode)) != 0)
    return fileError("cannot set the permissions of", path, errno);
  return {};
}

}  // namespace base

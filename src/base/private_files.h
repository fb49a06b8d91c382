#pragma once

// Folders and files only their owner may read: stores of user data are made
// through these, whatever the process's umask.

#include <filesystem>

#include "base/file_io.h"  // kFileErrorDomain
#include "base/result.h"

namespace base {

// Makes `path` a folder: every missing folder on the way is created with mode
// 0700, and group and other permissions are taken from `path` itself when it
// exists with them. Folders above it that existed are left as they are.
// A failure has domain kFileErrorDomain and the errno value as code.
Status createPrivateDirectories(const std::filesystem::path& path);

// Makes `path` a regular file: an empty one with mode 0600 when none exists;
// an existing one keeps its contents and loses its group and other
// permissions. Its folder must exist.
Status createPrivateFile(const std::filesystem::path& path);

}  // namespace base

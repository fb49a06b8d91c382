#pragma once

// Whole-file reads and writes of UTF-8 text (export and import files).

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace wendrix {

struct FileError {
  static constexpr std::string_view kDomain = "Wendrix.FileError";
  enum Code : std::int64_t {
    // The file could not be opened or read.
    readFailed = 1,
    // The file's contents are not UTF-8 text.
    notUtf8 = 2,
    // The file could not be written or put in place.
    writeFailed = 3,
  };
};

// The whole file at `path` as text; fails when it cannot be read or is not
// valid UTF-8. Errors name the file by its last path component only.
base::Result<std::string> readUtf8File(const std::string& path);

// Writes `contents` to `path` so that readers see either the old file or the
// whole new one: the text goes to a temporary file in the same folder, is
// synced and then renamed over `path`. On failure the temporary file is
// removed and an existing file at `path` is left as it was. A file that is
// replaced keeps its permission bits.
base::Status writeFileAtomically(const std::string& path, std::string_view contents);

}  // namespace wendrix

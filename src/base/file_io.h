#pragma once

// Durable whole-file replacement, and the files stores keep aside or leave
// behind.

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "base/bytes.h"
#include "base/result.h"

namespace base {

inline constexpr std::string_view kFileErrorDomain = "base.file";

// An error of the file domain: "<what> \"<path>\": <strerror(err)>", code `err`.
Error fileError(std::string_view what, const std::filesystem::path& path, int err);

// Owns a file descriptor (or none: -1) and closes it when it goes out of
// scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  // Closes it now; the result of close(2), 0 when there was none.
  int close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? ::close(fd) : 0;
  }

 private:
  int fd_;
};

// Writes `bytes` to `path` so that readers see either the old file or the
// whole new one: the bytes go to a fresh temporary file in the same folder,
// which is synced, closed and renamed over `path`; the folder is then synced
// so that the rename lasts too. On failure the temporary file is removed and
// a file at `path` is left as it was.
//
// With `mode`, the file gets exactly those permission bits. Without, a new
// file gets 0666 less the umask and a replaced file keeps its bits.
//
// A failure has domain kFileErrorDomain, the errno value as code, and names
// the step and the file it acted on: "cannot write \"<temporary>\": <reason>".
Status writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           std::optional<mode_t> mode = std::nullopt);
// The same with the file's content given as pieces, written one after
// another.
Status writeFileAtomically(const std::filesystem::path& path,
                           std::span<const std::span<const std::uint8_t>> pieces,
                           std::optional<mode_t> mode = std::nullopt);

// As writeFileAtomically with `mode`, for a writer that replaces one large
// file often: the bytes go to a spare file beside `path`
// (".<name>.spare"), rewritten in place, which is synced and renamed over
// `path`; the file it replaces becomes the next spare. Rewriting so reuses
// the pages the system holds for the spare instead of filling new ones
// while the old file's are freed. The spare takes as much room on disk as
// the file. Where no spare can be made, the bytes go to a fresh temporary
// file as writeFileAtomically writes them.
//
// A file replaced so is rewritten in place by the next replace but one, so
// the caller must hold a lock that keeps out, while it replaces, every other
// writer and every reader of `path` (a reader that opened the file under the
// lock has read it whole by the time it lets go).
Status replaceFileThroughSpare(const std::filesystem::path& path,
                               std::span<const std::span<const std::uint8_t>> pieces, mode_t mode);

inline Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                  std::optional<mode_t> mode = std::nullopt) {
  return writeFileAtomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), mode);
}

// The whole content of the regular file `path`. The file is opened without
// blocking, so a FIFO or device put in its place cannot hold the caller; an
// error (domain kFileErrorDomain, errno as code: ENOENT when nothing is there,
// EISDIR for a folder, EINVAL for anything else that is no regular file)
// otherwise.
Result<Bytes> readRegularFile(const std::filesystem::path& path);

// Renames `path` to the first free name of "<path><suffix>",
// "<path><suffix>-1", "<path><suffix>-2", ... (up to 99), never replacing a
// file already there, so that earlier copies kept aside survive. The new path,
// or an error as writeFileAtomically gives (domain kFileErrorDomain, errno as
// code).
Result<std::filesystem::path> moveAside(const std::filesystem::path& path, std::string_view suffix);

// Removes the temporary files that writeFileAtomically left in `folder` when
// its process died mid-write: ".<name>.tmp-<pid>-<n>" whose process no longer
// exists, for every <name> that `ofFile` accepts. A process that still runs
// may be writing, so its temporaries stay. Answers how many were removed;
// a folder that cannot be listed has none. For stores to call when they open.
std::size_t removeStaleTemporaries(const std::filesystem::path& folder,
                                   const std::function<bool(std::string_view name)>& ofFile);

// The same for the one file `path`.
std::size_t removeStaleTemporaries(const std::filesystem::path& path);

}  // namespace base

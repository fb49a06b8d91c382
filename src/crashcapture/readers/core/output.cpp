#include "crashcapture/readers/core/output.h"

#include <unistd.h>

#include <cerrno>

#include "crashcapture/readers/core/safe_string.h"

namespace tlcrash {

ssize_t tlcrash_async_writen(int fd, const void* data, std::size_t length) noexcept {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t left = length;
  while (left > 0) {
    const ssize_t written = ::write(fd, bytes, left);
    if (written < 0 && errno == EINTR) continue;
    // A write that makes no progress would otherwise loop for ever.
    if (written <= 0) return -1;
    bytes += written;
    left -= static_cast<std::size_t>(written);
  }
  return static_cast<ssize_t>(length);
}

void tlcrash_async_file_init(tlcrash_async_file* file, int fd, off_t limit) noexcept {
  file->fd = fd;
  file->limit = limit;
  file->total_bytes = 0;
  file->buflen = 0;
}

bool tlcrash_async_file_write(tlcrash_async_file* file, const void* data,
                              std::size_t length) noexcept {
  if (file->limit > 0 && length > static_cast<std::size_t>(file->limit - file->total_bytes))
    return false;
  file->total_bytes += static_cast<off_t>(length);
  if (file->buflen + length > tlcrash_async_file::kBufferSize && !tlcrash_async_file_flush(file))
    return false;
  if (length > tlcrash_async_file::kBufferSize)
    return tlcrash_async_writen(file->fd, data, length) >= 0;
  tlcrash_async_memcpy(file->buffer + file->buflen, data, length);
  file->buflen += length;
  return true;
}

bool tlcrash_async_file_flush(tlcrash_async_file* file) noexcept {
  if (file->buflen == 0) return true;
  const bool ok = tlcrash_async_writen(file->fd, file->buffer, file->buflen) >= 0;
  file->buflen = 0;
  return ok;
}

bool tlcrash_async_file_close(tlcrash_async_file* file) noexcept {
  const bool flushed = tlcrash_async_file_flush(file);
  const bool closed = ::close(file->fd) == 0;
  return flushed && closed;
}

}  // namespace tlcrash

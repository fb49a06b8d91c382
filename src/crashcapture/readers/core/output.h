#pragma once

// Unbuffered and buffered writes to a file descriptor for the report writer.
// Crash path: every function here is async-signal-safe. A file output belongs
// to one writer at a time.

#include <sys/types.h>

#include <cstddef>

namespace tlcrash {

// Writes all `length` bytes, calling write(2) again after a short write or an
// interruption (EINTR). Returns `length`, or -1 when write(2) fails otherwise
// or writes nothing.
ssize_t tlcrash_async_writen(int fd, const void* data, std::size_t length) noexcept;

// Buffered output to a descriptor with an optional limit on the bytes it
// accepts in all.
struct tlcrash_async_file {
  static constexpr std::size_t kBufferSize = 256;

  int fd;
  off_t limit;        // 0: no limit
  off_t total_bytes;  // bytes accepted so far
  std::size_t buflen;
  char buffer[kBufferSize];
};

// Starts an output on `fd` that accepts at most `limit` bytes (0: no limit).
void tlcrash_async_file_init(tlcrash_async_file* file, int fd, off_t limit) noexcept;

// Accepts `length` bytes. With a limit, a write that would pass it is refused
// as a whole (false, nothing written) and later writes that fit are still
// accepted. The buffer is written out first when the bytes do not fit beside
// it; more bytes than the buffer holds go straight to the descriptor. False
// when write(2) fails.
bool tlcrash_async_file_write(tlcrash_async_file* file, const void* data,
                              std::size_t length) noexcept;

// Writes out the buffer. False when write(2) fails (the bytes are dropped).
bool tlcrash_async_file_flush(tlcrash_async_file* file) noexcept;

// Flushes and closes the descriptor; the descriptor is closed even when the
// flush fails. False when either fails.
bool tlcrash_async_file_close(tlcrash_async_file* file) noexcept;

}  // namespace tlcrash

#include "crashcapture/platform/linux/thread_list.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tlcrash {
namespace {

// The layout getdents64(2) fills (the C library declares no type for it).
struct LinuxDirent64 {
  std::uint64_t ino;
  std::int64_t off;
  std::uint16_t reclen;
  std::uint8_t type;
  char name[1];
};

// A thread id from a directory entry's name; false for "." and "..".
bool parseThreadId(const char* name, std::size_t maxLength, tlcrash_thread_t* tid) {
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; digits < maxLength && name[digits] != '\0'; ++digits) {
    if (name[digits] < '0' || name[digits] > '9') return false;
    value = value * 10 + (name[digits] - '0');
    if (value > INT32_MAX) return false;
  }
  if (digits == 0) return false;
  *tid = static_cast<tlcrash_thread_t>(value);
  return true;
}

}  // namespace

tlcrash_error_t tlcrash_linux_task_threads(tlcrash_thread_t* threads, std::size_t capacity,
                                           std::size_t* count) noexcept {
  const int savedErrno = errno;
  *count = 0;
  const int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    errno = savedErrno;
    return tlcrash_error_t::internal;
  }
  alignas(8) char buffer[2048];
  tlcrash_error_t result = tlcrash_error_t::success;
  for (;;) {
    const long filled = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (filled == 0) break;
    if (filled < 0) {
      if (errno == EINTR) continue;
      result = tlcrash_error_t::internal;
      break;
    }
    for (long offset = 0; offset < filled;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
      if (entry->reclen == 0 || offset + entry->reclen > filled) {
        offset = filled;
        break;
      }
      const std::size_t nameRoom = entry->reclen - offsetof(LinuxDirent64, name);
      tlcrash_thread_t tid = 0;
      if (parseThreadId(entry->name, nameRoom, &tid)) {
        if (*count < capacity) {
          threads[(*count)++] = tid;
        } else {
          result = tlcrash_error_t::noMemory;
        }
      }
      offset += entry->reclen;
    }
  }
  ::close(fd);
  if (result == tlcrash_error_t::internal) *count = 0;
  errno = savedErrno;
  return result;
}

}  // namespace tlcrash

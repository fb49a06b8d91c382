#include "crashcapture/readers/core/safe_string.h"

#include <cstring>

namespace tlcrash {

int tlcrash_async_strcmp(const char* s1, const char* s2) noexcept {
  const auto* a = reinterpret_cast<const unsigned char*>(s1);
  const auto* b = reinterpret_cast<const unsigned char*>(s2);
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int tlcrash_async_strncmp(const char* s1, const char* s2, std::size_t n) noexcept {
  const auto* a = reinterpret_cast<const unsigned char*>(s1);
  const auto* b = reinterpret_cast<const unsigned char*>(s2);
  for (; n > 0; --n, ++a, ++b) {
    if (*a != *b) return static_cast<int>(*a) - static_cast<int>(*b);
    if (*a == '\0') return 0;
  }
  return 0;
}

// memcpy is async-signal-safe (POSIX.1-2017), and a stack walk copies
// thread states and table entries by the hundred thousand.
void* tlcrash_async_memcpy(void* dest, const void* source, std::size_t n) noexcept {
  if (n == 0) return dest;
  return std::memcpy(dest, source, n);
}

// The volatile stores keep the compiler from turning this loop back into a
// call of the C library's routine.

void* tlcrash_async_memset(void* dest, unsigned char value, std::size_t n) noexcept {
  auto* d = static_cast<volatile unsigned char*>(dest);
  for (std::size_t i = 0; i < n; ++i)
    d[i] = value;
  return dest;
}

}  // namespace tlcrash

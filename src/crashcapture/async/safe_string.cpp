#include "crashcapture/async/safe_string.h"

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

// The volatile stores keep the compiler from turning these loops back into
// calls of the C library's routines.
void* tlcrash_async_memcpy(void* dest, const void* source, std::size_t n) noexcept {
  auto* d = static_cast<volatile unsigned char*>(dest);
  const auto* s = static_cast<const unsigned char*>(source);
  for (std::size_t i = 0; i < n; ++i)
    d[i] = s[i];
  return dest;
}

void* tlcrash_async_memset(void* dest, unsigned char value, std::size_t n) noexcept {
  auto* d = static_cast<volatile unsigned char*>(dest);
  for (std::size_t i = 0; i < n; ++i)
    d[i] = value;
  return dest;
}

}  // namespace tlcrash

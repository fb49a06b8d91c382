#pragma once

// String and memory routines written as plain loops, so that the crash path
// depends on nothing it cannot see.
// Crash path: every function here is async-signal-safe.

#include <cstddef>

namespace tlcrash {

// Like strcmp: the difference of the first differing bytes (as unsigned
// char), 0 when the strings are equal.
int tlcrash_async_strcmp(const char* s1, const char* s2) noexcept;

// Like strncmp: compares at most `n` bytes, stopping at a terminator or a
// difference; 0 when equal within the bound.
int tlcrash_async_strncmp(const char* s1, const char* s2, std::size_t n) noexcept;

// Copies `n` bytes; the ranges must not overlap. Returns `dest`.
void* tlcrash_async_memcpy(void* dest, const void* source, std::size_t n) noexcept;

// Sets `n` bytes to `value`; nothing for `n` = 0. Returns `dest`.
void* tlcrash_async_memset(void* dest, unsigned char value, std::size_t n) noexcept;

}  // namespace tlcrash

#pragma once

// Crash path: async-signal-safe.

#include <cstddef>

namespace tlcrash {

// The number of leading bytes of `data` (at most `length`) that form valid
// UTF-8, stopping at a NUL byte. A lead byte 0xC0-0xDF takes one continuation
// byte (0x80-0xBF), 0xE0-0xEF two and 0xF0-0xF7 three; any other lead byte, a
// missing or wrong continuation byte ends the prefix before its sequence. A
// leading byte-order mark (EF BB BF) is counted.
std::size_t tlcrash_async_utf8_valid_prefix(const char* data, std::size_t length) noexcept;

}  // namespace tlcrash

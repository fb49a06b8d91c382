#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

// UTF-8 / UTF-16 helpers. Invalid input is repaired, never rejected: each
// maximal ill-formed subpart (a truncated sequence, an overlong form, an
// encoded surrogate, a value above U+10FFFF, a stray byte) becomes U+FFFD.

bool isValidUtf8(std::string_view text);

// `text` with every invalid sequence replaced by U+FFFD; valid text is
// returned unchanged.
std::string repairUtf8(std::string_view text);

// UTF-16 of `utf8`, repairing invalid sequences first.
std::u16string toUtf16(std::string_view utf8);

// UTF-8 of `utf16`; a lone surrogate becomes U+FFFD.
std::string fromUtf16(std::u16string_view utf16);

// Number of UTF-16 code units `utf8` takes (after repair).
std::size_t utf16Length(std::string_view utf8);

// The longest prefix of `utf8` that takes at most `maxUnits` UTF-16 units,
// cut at the last whole character so a surrogate pair is never split. The
// result is always valid UTF-8 (invalid input is repaired as it is read).
std::string truncateUtf16(std::string_view utf8, std::size_t maxUnits);

}  // namespace base

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"

namespace base {

// Standard Base64 (RFC 4648 alphabet "+/"), padded with "=", no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);
std::string base64Encode(std::string_view bytes);

// Strict decoding: only the standard alphabet, length a multiple of four,
// padding only at the end, unused trailing bits zero, no whitespace.
// Returns nullopt for anything else.
std::optional<Bytes> base64Decode(std::string_view text);

// Forgiving decoding: characters outside the alphabet are skipped, decoding
// stops at the first "=", and missing padding is tolerated. A single dangling
// character (too few bits for a byte) is dropped.
Bytes base64DecodeLenient(std::string_view text);

}  // namespace base

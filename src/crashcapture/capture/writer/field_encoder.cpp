#include "crashcapture/capture/writer/field_encoder.h"

#include <cstdlib>
#include <cstring>

#include "crashcapture/readers/core/safe_string.h"

namespace tlcrash {
namespace {

enum WireType : std::uint32_t { varint = 0, fixed64bits = 1, lengthDelimited = 2, fixed32bits = 5 };

// The longest varint (a 64-bit value) and so the longest header or value the
// scratch area holds.
constexpr std::size_t kMaxVarint = 10;

std::size_t putVarint(std::uint8_t* out, std::uint64_t value) {
  std::size_t length = 0;
  while (value >= 0x80) {
    out[length++] = static_cast<std::uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[length++] = static_cast<std::uint8_t>(value);
  return length;
}

std::size_t putFixed(std::uint8_t* out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return width;
}

template <class T>
T load(const void* value) {
  T result;
  std::memcpy(&result, value, sizeof result);
  return result;
}

}  // namespace

std::size_t tlcrash_writer_pack(tlcrash_async_file* file, std::uint32_t field_id,
                                tlcrash_field_type type, const void* value) noexcept {
  // Header and fixed-size value are built here; string and bytes payloads go
  // out straight from their source.
  std::uint8_t scratch[2 * kMaxVarint];
  const void* payload = nullptr;
  std::size_t payloadLength = 0;
  WireType wire = varint;
  std::uint8_t encoded[kMaxVarint];
  std::size_t encodedLength = 0;

  switch (type) {
    case tlcrash_field_type::int32:
      // A negative value is sign-extended to ten bytes.
      encodedLength = putVarint(encoded, static_cast<std::uint64_t>(
                                             static_cast<std::int64_t>(load<std::int32_t>(value))));
      break;
    case tlcrash_field_type::sint32: {
      const auto n = load<std::int32_t>(value);
      const auto zigzag =
          (static_cast<std::uint32_t>(n) << 1) ^ static_cast<std::uint32_t>(n >> 31);
      encodedLength = putVarint(encoded, zigzag);
      break;
    }
    case tlcrash_field_type::sint64: {
      const auto n = load<std::int64_t>(value);
      const auto zigzag =
          (static_cast<std::uint64_t>(n) << 1) ^ static_cast<std::uint64_t>(n >> 63);
      encodedLength = putVarint(encoded, zigzag);
      break;
    }
    case tlcrash_field_type::uint32:
    case tlcrash_field_type::enumeration:
      encodedLength = putVarint(encoded, load<std::uint32_t>(value));
      break;
    case tlcrash_field_type::int64:
    case tlcrash_field_type::uint64:
      encodedLength = putVarint(encoded, load<std::uint64_t>(value));
      break;
    case tlcrash_field_type::fixed64:
    case tlcrash_field_type::sfixed64:
    case tlcrash_field_type::float64:
      wire = fixed64bits;
      encodedLength = putFixed(encoded, load<std::uint64_t>(value), 8);
      break;
    case tlcrash_field_type::fixed32:
    case tlcrash_field_type::sfixed32:
    case tlcrash_field_type::float32:
      wire = fixed32bits;
      encodedLength = putFixed(encoded, load<std::uint32_t>(value), 4);
      break;
    case tlcrash_field_type::boolean:
      encoded[0] = load<bool>(value) ? 1 : 0;
      encodedLength = 1;
      break;
    case tlcrash_field_type::string: {
      wire = lengthDelimited;
      const auto* text = static_cast<const char*>(value);
      std::size_t length = 0;
      while (text[length] != '\0')
        ++length;
      payload = text;
      payloadLength = length;
      encodedLength = putVarint(encoded, length);
      break;
    }
    case tlcrash_field_type::bytes: {
      wire = lengthDelimited;
      const auto& bytes = *static_cast<const tlcrash_field_bytes*>(value);
      payload = bytes.data;
      payloadLength = bytes.length;
      encodedLength = putVarint(encoded, bytes.length);
      break;
    }
    case tlcrash_field_type::message:
      wire = lengthDelimited;
      encodedLength = putVarint(encoded, load<std::uint32_t>(value));
      break;
    default:
      std::abort();
  }

  std::size_t length = putVarint(scratch, (static_cast<std::uint64_t>(field_id) << 3) | wire);
  tlcrash_async_memcpy(scratch + length, encoded, encodedLength);
  length += encodedLength;
  if (file != nullptr) {
    tlcrash_async_file_write(file, scratch, length);
    if (payloadLength > 0) tlcrash_async_file_write(file, payload, payloadLength);
  }
  return length + payloadLength;
}

}  // namespace tlcrash

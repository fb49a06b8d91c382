#pragma once

// Protocol Buffers wire encoding of one field at a time, written through the
// async-safe file output. With no output the field is only measured: that
// dry run is how the writer learns a sub-message's length before it writes
// the sub-message's header.
// Crash path: async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/readers/core/output.h"

namespace tlcrash {

// Field types, numbered as protobuf-c numbers them (ProtobufCType).
enum class tlcrash_field_type : std::uint32_t {
  int32 = 0,
  sint32 = 1,
  sfixed32 = 2,
  int64 = 3,
  sint64 = 4,
  sfixed64 = 5,
  uint32 = 6,
  fixed32 = 7,
  uint64 = 8,
  fixed64 = 9,
  float32 = 10,
  float64 = 11,
  boolean = 12,
  enumeration = 13,
  string = 14,
  bytes = 15,
  message = 16,
};

// The value of a bytes field.
struct tlcrash_field_bytes {
  std::size_t length;
  const void* data;
};

// Encodes field `field_id` of `type` with the value at `value` and returns the
// number of bytes the field takes; writes them to `file` unless it is null.
// `value` points at: an int32_t, uint32_t, int64_t or uint64_t of the type's
// width; a bool for boolean; a float or double; a NUL-terminated string for
// string; a tlcrash_field_bytes for bytes; for message, a uint32_t holding the
// length of the body, which the caller writes after the header. A type
// outside the enumeration is a programming error and aborts.
std::size_t tlcrash_writer_pack(tlcrash_async_file* file, std::uint32_t field_id,
                                tlcrash_field_type type, const void* value) noexcept;

}  // namespace tlcrash

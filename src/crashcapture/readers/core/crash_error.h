#pragma once

// The result code of the crash capture code, with a fixed message per code.

#include <cstdint>

namespace tlcrash {

enum class tlcrash_error_t : std::int32_t {
  success = 0,
  unknown = 1,
  outputError = 2,  // the output file cannot be opened or written
  noMemory = 3,
  notSupported = 4,
  invalidArgument = 5,
  internal = 6,
  accessDenied = 7,
  notFound = 8,
  invalidData = 9,  // the input is in an unknown or invalid format
};

// The fixed message of `error`; "Unhandled error code" for a value outside
// the enumeration.
// Crash path: async-signal-safe.
const char* tlcrash_async_strerror(tlcrash_error_t error) noexcept;

}  // namespace tlcrash

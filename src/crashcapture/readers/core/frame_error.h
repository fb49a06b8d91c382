#pragma once

// The result of a frame reader: how stepping from one frame to its caller
// failed, with a fixed message per code.

#include <cstdint>

namespace tlcrash {

enum class tlcrash_async_frame_error_t : std::int32_t {
  success = 0,
  unknown = 1,
  noFrames = 2,      // no frames are available (the walk ends here)
  badFrame = 3,      // the frame is corrupted
  notSupported = 4,  // the reader cannot unwind this frame; another may
  invalidArgument = 5,
  internal = 6,
  badRegister = 7,
};

// The fixed message of `error`; "Unhandled error code" for a value outside
// the enumeration.
// Crash path: async-signal-safe.
const char* tlcrash_async_frame_strerror(tlcrash_async_frame_error_t error) noexcept;

}  // namespace tlcrash

#pragma once

#include <ostream>

#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/frame_error.h"

namespace tlcrash {

// Shows a result code in test failures as its number and message.
inline void PrintTo(tlcrash_error_t error, std::ostream* os) {
  *os << static_cast<int>(error) << " (" << tlcrash_async_strerror(error) << ")";
}

// The same for the result of a frame reader.
inline void PrintTo(tlcrash_async_frame_error_t error, std::ostream* os) {
  *os << static_cast<int>(error) << " (" << tlcrash_async_frame_strerror(error) << ")";
}

}  // namespace tlcrash

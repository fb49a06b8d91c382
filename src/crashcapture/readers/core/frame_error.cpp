#include "crashcapture/readers/core/frame_error.h"

namespace tlcrash {

const char* tlcrash_async_frame_strerror(tlcrash_async_frame_error_t error) noexcept {
  switch (error) {
    case tlcrash_async_frame_error_t::success:
      return "No error";
    case tlcrash_async_frame_error_t::unknown:
      return "Unknown error";
    case tlcrash_async_frame_error_t::noFrames:
      return "No frames are available";
    case tlcrash_async_frame_error_t::badFrame:
      return "Corrupted frame";
    case tlcrash_async_frame_error_t::notSupported:
      return "Operation not supported";
    case tlcrash_async_frame_error_t::invalidArgument:
      return "Invalid argument";
    case tlcrash_async_frame_error_t::internal:
      return "Internal error";
    case tlcrash_async_frame_error_t::badRegister:
      return "Invalid register";
  }
  return "Unhandled error code";
}

}  // namespace tlcrash

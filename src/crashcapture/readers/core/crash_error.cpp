#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

const char* tlcrash_async_strerror(tlcrash_error_t error) noexcept {
  switch (error) {
    case tlcrash_error_t::success:
      return "No error";
    case tlcrash_error_t::unknown:
      return "Unknown error";
    case tlcrash_error_t::outputError:
      return "Output file can not be opened (or written to)";
    case tlcrash_error_t::noMemory:
      return "No memory available";
    case tlcrash_error_t::notSupported:
      return "Operation not supported";
    case tlcrash_error_t::invalidArgument:
      return "Invalid argument";
    case tlcrash_error_t::internal:
      return "Internal error";
    case tlcrash_error_t::accessDenied:
      return "Access denied";
    case tlcrash_error_t::notFound:
      return "Not found";
    case tlcrash_error_t::invalidData:
      return "The input data is in an unknown or invalid format.";
  }
  return "Unhandled error code";
}

}  // namespace tlcrash

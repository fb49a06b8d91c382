#pragma once

#include <ostream>

#include "crashcapture/async/error.h"

namespace tlcrash {

// Shows a result code in test failures as its number and message.
inline void PrintTo(tlcrash_error_t error, std::ostream* os) {
  *os << static_cast<int>(error) << " (" << tlcrash_async_strerror(error) << ")";
}

}  // namespace tlcrash

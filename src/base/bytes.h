#pragma once

#include <cstdint>
#include <vector>

namespace base {

// An owned run of raw bytes (file contents, decoded Base64, keys).
using Bytes = std::vector<std::uint8_t>;

}  // namespace base

#pragma once

#include <optional>
#include <string>

namespace tlm {

// Gzip compression of request bodies.
class TLMCompression {
 public:
  // The gzip bytes of `data`, or nothing for empty input or on failure (logged).
  static std::optional<std::string> compressData(const std::string& data);
};

}  // namespace tlm

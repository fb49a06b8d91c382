#include "crashcapture/readers/core/utf8_prefix.h"

namespace tlcrash {

std::size_t tlcrash_async_utf8_valid_prefix(const char* data, std::size_t length) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  std::size_t i = 0;
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
  while (i < length) {
    const unsigned char lead = bytes[i];
    if (lead == 0) break;
    std::size_t continuation;
    if (lead < 0x80) {
      continuation = 0;
    } else if (lead >= 0xC0 && lead <= 0xDF) {
      continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuation = 2;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      continuation = 3;
    } else {
      break;
    }
    if (continuation > length - i - 1) break;
    bool valid = true;
    for (std::size_t k = 1; k <= continuation; ++k) {
      if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) {
        valid = false;
        break;
      }
    }
    if (!valid) break;
    i += continuation + 1;
  }
  return i;
}

}  // namespace tlcrash

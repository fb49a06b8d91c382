#include "platform/crypto/random.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>

namespace platform {

base::Result<base::Bytes> RandomSource::bytes(std::size_t count) {
  base::Bytes out(count);
  if (auto status = fill(out); !status) return status.error();
  return out;
}

base::Status SystemRandom::fill(std::span<std::uint8_t> out) {
  // RAND_bytes takes an int length; fill larger buffers in pieces.
  while (!out.empty()) {
    const std::size_t chunk = std::min<std::size_t>(out.size(), INT_MAX);
    if (RAND_bytes(out.data(), static_cast<int>(chunk)) != 1) {
      const auto code = static_cast<std::int64_t>(ERR_get_error());
      return base::Error(kCryptoErrorDomain, code == 0 ? -1 : code,
                         "The system random generator failed.");
    }
    out = out.subspan(chunk);
  }
  return {};
}

SystemRandom& SystemRandom::instance() {
  static SystemRandom random;
  return random;
}

}  // namespace platform

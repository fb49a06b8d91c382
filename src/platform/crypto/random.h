#pragma once

#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "base/result.h"

namespace platform {

// A source of cryptographically secure random bytes. On failure the caller
// must not use the buffer: its contents are unspecified.
class RandomSource {
 public:
  virtual ~RandomSource() = default;

  // Fills `out` completely, or fails with an error whose code is the
  // source's own status.
  virtual base::Status fill(std::span<std::uint8_t> out) = 0;

  // `count` fresh random bytes, or the source's error.
  base::Result<base::Bytes> bytes(std::size_t count);
};

// The operating system's generator through OpenSSL's RAND_bytes.
class SystemRandom final : public RandomSource {
 public:
  base::Status fill(std::span<std::uint8_t> out) override;
  static SystemRandom& instance();
};

inline constexpr const char* kCryptoErrorDomain = "platform.crypto";

}  // namespace platform

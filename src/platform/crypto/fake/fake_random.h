#pragma once

#include <cstdint>
#include <mutex>

#include "platform/crypto/random.h"

namespace platform {

// A predictable random source for tests: bytes count up from a seed, and the
// source can be told to fail. A failing fill scribbles over the buffer first,
// so code that uses the bytes anyway is caught.
class FakeRandom final : public RandomSource {
 public:
  explicit FakeRandom(std::uint8_t seed = 0) : next_(seed) {}

  base::Status fill(std::span<std::uint8_t> out) override;

  // Makes every later fill fail with `code` (0 restores success).
  void setFailure(std::int64_t code);
  // Makes only the next `count` fills fail.
  void failNext(int count, std::int64_t code = -1);
  int fillCount() const;

 private:
  mutable std::mutex mutex_;
  std::uint8_t next_;
  std::int64_t failureCode_ = 0;
  int failNext_ = 0;
  std::int64_t failNextCode_ = -1;
  int fills_ = 0;
};

}  // namespace platform

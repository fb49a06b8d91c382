#include "platform/crypto/fake/fake_random.h"

#include <algorithm>

namespace platform {

base::Status FakeRandom::fill(std::span<std::uint8_t> out) {
  std::lock_guard lock(mutex_);
  ++fills_;
  std::int64_t code = failureCode_;
  if (failNext_ > 0) {
    --failNext_;
    code = failNextCode_;
  }
  if (code != 0) {
    std::fill(out.begin(), out.end(), std::uint8_t{0xA5});
    return base::Error(kCryptoErrorDomain, code, "Injected random failure.");
  }
  for (auto& b : out)
    b = next_++;
  return {};
}

void FakeRandom::setFailure(std::int64_t code) {
  std::lock_guard lock(mutex_);
  failureCode_ = code;
}

void FakeRandom::failNext(int count, std::int64_t code) {
  std::lock_guard lock(mutex_);
  failNext_ = count;
  failNextCode_ = code == 0 ? -1 : code;
}

int FakeRandom::fillCount() const {
  std::lock_guard lock(mutex_);
  return fills_;
}

}  // namespace platform

#pragma once

#include <cstdint>
#include <functional>

namespace wendrix::winsys {

// Whether the program may use the accessibility interface to follow and move
// other applications' windows, and when that may have changed.
class AccessibilityTrust {
 public:
  virtual ~AccessibilityTrust() = default;

  // True when access is granted. With `prompt` the system may ask the user.
  virtual bool checkIsProcessTrusted(bool prompt) = 0;

  // `observer` runs on the main thread each time access may have changed
  // (also when it did not). The token removes it again.
  virtual std::uint64_t addChangeObserver(std::function<void()> observer) = 0;
  virtual void removeChangeObserver(std::uint64_t token) = 0;
};

}  // namespace wendrix::winsys

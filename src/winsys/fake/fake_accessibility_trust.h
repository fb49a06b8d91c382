#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "winsys/accessibility.h"

namespace wendrix::winsys::fake {

// Accessibility access that the test grants and revokes. Each change (and
// each `postChange`) runs the observers synchronously.
class FakeAccessibilityTrust final : public AccessibilityTrust {
 public:
  explicit FakeAccessibilityTrust(bool trusted = true) : trusted_(trusted) {}

  bool checkIsProcessTrusted(bool prompt) override;
  std::uint64_t addChangeObserver(std::function<void()> observer) override;
  void removeChangeObserver(std::uint64_t token) override;

  // Sets access and tells the observers.
  void setTrusted(bool trusted);
  // Tells the observers without changing access.
  void postChange();

  bool trusted() const { return trusted_; }
  int checks() const { return checks_; }
  int prompts() const { return prompts_; }
  std::size_t observerCount() const { return observers_.size(); }

 private:
  bool trusted_;
  int checks_ = 0;
  int prompts_ = 0;
  std::uint64_t nextToken_ = 1;
  std::map<std::uint64_t, std::function<void()>> observers_;
};

}  // namespace wendrix::winsys::fake

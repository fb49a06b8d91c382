#include "winsys/fake/fake_accessibility_trust.h"

#include <vector>

namespace wendrix::winsys::fake {

bool FakeAccessibilityTrust::checkIsProcessTrusted(bool prompt) {
  ++checks_;
  if (prompt) ++prompts_;
  return trusted_;
}

std::uint64_t FakeAccessibilityTrust::addChangeObserver(std::function<void()> observer) {
  const auto token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void FakeAccessibilityTrust::removeChangeObserver(std::uint64_t token) {
  observers_.erase(token);
}

void FakeAccessibilityTrust::setTrusted(bool trusted) {
  trusted_ = trusted;
  postChange();
}

void FakeAccessibilityTrust::postChange() {
  // Observers may remove themselves (or others) while being told.
  std::vector<std::uint64_t> tokens;
  for (const auto& [token, observer] : observers_)
    tokens.push_back(token);
  for (auto token : tokens) {
    auto it = observers_.find(token);
    if (it == observers_.end()) continue;
    auto observer = it->second;
    observer();
  }
}

}  // namespace wendrix::winsys::fake

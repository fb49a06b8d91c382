#pragma once

#include <functional>
#include <set>
#include <vector>

#include "platform/running_apps/running_applications.h"

namespace platform {

// Running applications in memory. `activate` records the request and hands
// it to an optional handler; without one the application becomes frontmost
// at once.
class FakeRunningApplications final : public RunningApplications {
 public:
  struct Activation {
    std::int32_t processIdentifier = 0;
    std::uint32_t options = 0;
    friend bool operator==(const Activation&, const Activation&) = default;
  };

  explicit FakeRunningApplications(CurrentApplication self = {4242, "test.Wendrix"});

  std::optional<bool> isActive(std::int32_t processIdentifier) override;
  bool activate(std::int32_t processIdentifier, std::uint32_t options) override;
  std::optional<std::int32_t> frontmost() override { return frontmost_; }
  CurrentApplication current() override { return self_; }

  void addProcess(std::int32_t processIdentifier) { running_.insert(processIdentifier); }
  void removeProcess(std::int32_t processIdentifier);
  void setFrontmost(std::optional<std::int32_t> processIdentifier) {
    frontmost_ = processIdentifier;
  }
  void setActivationHandler(std::function<void(const Activation&)> handler) {
    handler_ = std::move(handler);
  }
  const std::vector<Activation>& activations() const { return activations_; }

 private:
  CurrentApplication self_;
  std::set<std::int32_t> running_;
  std::optional<std::int32_t> frontmost_;
  std::function<void(const Activation&)> handler_;
  std::vector<Activation> activations_;
};

}  // namespace platform

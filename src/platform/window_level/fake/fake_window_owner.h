#pragma once

#include <memory>
#include <vector>

#include "platform/window_level/window_level.h"

namespace platform {

// A window that records every level it was given.
class FakeLevelWindow final : public LevelWindow {
 public:
  void setLevel(int level) override { levels_.push_back(level); }

  // The levels set so far, in order.
  const std::vector<int>& levels() const { return levels_; }

 private:
  std::vector<int> levels_;
};

// An owner whose window can be taken away.
class FakeWindowOwner final : public WindowOwner {
 public:
  explicit FakeWindowOwner(std::shared_ptr<FakeLevelWindow> window = nullptr)
      : window_(std::move(window)) {}

  LevelWindow* window() override { return window_.get(); }
  void setWindow(std::shared_ptr<FakeLevelWindow> window) { window_ = std::move(window); }

 private:
  std::shared_ptr<FakeLevelWindow> window_;
};

}  // namespace platform

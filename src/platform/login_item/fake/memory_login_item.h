#pragma once

#include "platform/login_item/login_item.h"

namespace platform {

// A login item in memory; `failWrites` makes every change fail.
class MemoryLoginItem final : public LoginItem {
 public:
  bool isEnabled() const override { return enabled_; }
  base::Status setEnabled(bool enabled) override {
    if (failWrites) return base::Error("Wendrix.LoginItem", 1, "cannot change the login item");
    enabled_ = enabled;
    return {};
  }

  bool failWrites = false;

 private:
  bool enabled_ = false;
};

}  // namespace platform

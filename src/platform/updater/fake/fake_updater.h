#pragma once

#include "platform/updater/updater.h"

namespace platform {

// Counts the checks it was asked for.
class FakeUpdater final : public Updater {
 public:
  void checkForUpdates() override { ++checks_; }
  int checks() const { return checks_; }

 private:
  int checks_ = 0;
};

}  // namespace platform

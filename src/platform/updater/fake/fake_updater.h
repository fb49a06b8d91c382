#pragma once

#include "platform/updater/updater.h"

namespace platform {

// Counts the checks it was asked for and keeps the automatic-check choice
// in memory.
class FakeUpdater final : public Updater {
 public:
  void checkForUpdates() override { ++checks_; }
  int checks() const { return checks_; }
  bool automaticallyChecksForUpdates() const override { return automatic_; }
  void setAutomaticallyChecksForUpdates(bool check) override { automatic_ = check; }

 private:
  int checks_ = 0;
  bool automatic_ = false;
};

}  // namespace platform

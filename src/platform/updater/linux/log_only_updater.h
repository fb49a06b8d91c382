#pragma once

#include <iosfwd>

#include "platform/updater/updater.h"

namespace platform {

// On Linux the program is updated by the system's package manager: a check
// only notes that there is nothing to do here.
class LogOnlyUpdater final : public Updater {
 public:
  // `log` must outlive the updater.
  explicit LogOnlyUpdater(std::ostream& log);
  LogOnlyUpdater();

  void checkForUpdates() override;

 private:
  std::ostream& log_;
};

}  // namespace platform

#include "platform/updater/linux/log_only_updater.h"

#include <iostream>

namespace platform {

LogOnlyUpdater::LogOnlyUpdater(std::ostream& log) : log_(log) {}
LogOnlyUpdater::LogOnlyUpdater() : log_(std::clog) {}

void LogOnlyUpdater::checkForUpdates() {
  log_ << "Wendrix: no updates to check for; the system's package manager updates the program\n";
}

}  // namespace platform

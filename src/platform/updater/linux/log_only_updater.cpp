#include "platform/updater/linux/log_only_updater.h"

#include <iostream>
#include <utility>

#include "platform/defaults/user_defaults.h"

namespace platform {

LogOnlyUpdater::LogOnlyUpdater(std::ostream& log, std::shared_ptr<UserDefaults> defaults)
    : log_(log), defaults_(std::move(defaults)) {}
LogOnlyUpdater::LogOnlyUpdater(std::shared_ptr<UserDefaults> defaults)
    : log_(std::clog), defaults_(std::move(defaults)) {}

void LogOnlyUpdater::checkForUpdates() {
  log_ << "Wendrix: no updates to check for; the system's package manager updates the program\n";
}

bool LogOnlyUpdater::automaticallyChecksForUpdates() const {
  if (!defaults_) return automatic_;
  auto stored = defaults_->get(kAutomaticChecksKey);
  const bool* value = stored ? stored->getIf<bool>() : nullptr;
  return value && *value;
}

void LogOnlyUpdater::setAutomaticallyChecksForUpdates(bool check) {
  automatic_ = check;
  if (!defaults_) return;
  if (auto written = defaults_->set(kAutomaticChecksKey, coding::Value(check)); !written)
    log_ << "Wendrix: cannot keep the update-check choice: " << written.error().description << "\n";
}

}  // namespace platform

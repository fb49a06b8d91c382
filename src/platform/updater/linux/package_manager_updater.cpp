#include "platform/updater/linux/package_manager_updater.h"

#include <iostream>
#include <utility>

#include "platform/defaults/user_defaults.h"

namespace platform {

PackageManagerUpdater::PackageManagerUpdater(ShowNotice showNotice,
                                             std::shared_ptr<UserDefaults> defaults)
    : showNotice_(std::move(showNotice)), defaults_(std::move(defaults)) {}

void PackageManagerUpdater::checkForUpdates() {
  if (showNotice_) {
    showNotice_(std::string(kNoticeTitle), std::string(kNoticeText));
  } else {
    std::clog << "Wendrix: " << kNoticeText << "\n";
  }
}

bool PackageManagerUpdater::automaticallyChecksForUpdates() const {
  if (!defaults_) return automatic_;
  auto stored = defaults_->get(kAutomaticChecksKey);
  const bool* value = stored ? stored->getIf<bool>() : nullptr;
  return value && *value;
}

void PackageManagerUpdater::setAutomaticallyChecksForUpdates(bool check) {
  automatic_ = check;
  if (!defaults_) return;
  if (auto written = defaults_->set(kAutomaticChecksKey, coding::Value(check)); !written) {
    std::clog << "Wendrix: cannot keep the update-check choice: " << written.error().description
              << "\n";
  }
}

}  // namespace platform

#pragma once

#include <iosfwd>
#include <memory>
#include <string_view>

#include "platform/updater/updater.h"

namespace platform {

class UserDefaults;

// On Linux the program is updated by the system's package manager: a check
// only notes that there is nothing to do here. The automatic-check choice is
// kept in the user-defaults store when given one (off until the user turns
// it on), else in memory; there is nothing to check either way.
class LogOnlyUpdater final : public Updater {
 public:
  static constexpr std::string_view kAutomaticChecksKey = "app.wendrix.updater.automaticchecks";

  // `log` must outlive the updater.
  explicit LogOnlyUpdater(std::ostream& log, std::shared_ptr<UserDefaults> defaults = nullptr);
  explicit LogOnlyUpdater(std::shared_ptr<UserDefaults> defaults = nullptr);

  void checkForUpdates() override;
  bool automaticallyChecksForUpdates() const override;
  void setAutomaticallyChecksForUpdates(bool check) override;

 private:
  std::ostream& log_;
  std::shared_ptr<UserDefaults> defaults_;
  bool automatic_ = false;
};

}  // namespace platform

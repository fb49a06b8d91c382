#pragma once

// The updater of a program installed by the system's package manager: there
// is nothing to download, so a user's check says where updates come from and
// the automatic checks do nothing. The automatic-checks choice is kept in the
// user defaults.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/updater/updater.h"

namespace platform {

class UserDefaults;

class PackageManagerUpdater final : public Updater {
 public:
  static constexpr std::string_view kAutomaticChecksKey = "app.wendrix.updater.automaticchecks";
  static constexpr std::string_view kNoticeTitle = "Updates come from your package manager";
  static constexpr std::string_view kNoticeText =
      "Your system's package manager updates Wendrix, together with your other software.";

  // Shows the user a notice: a title and a line of text.
  using ShowNotice = std::function<void(const std::string& title, const std::string& text)>;

  // Without `showNotice`, a check writes the notice to the standard log.
  explicit PackageManagerUpdater(ShowNotice showNotice = nullptr,
                                 std::shared_ptr<UserDefaults> defaults = nullptr);

  // Shows the notice.
  void checkForUpdates() override;
  bool automaticallyChecksForUpdates() const override;
  void setAutomaticallyChecksForUpdates(bool check) override;

 private:
  ShowNotice showNotice_;
  std::shared_ptr<UserDefaults> defaults_;
  bool automatic_ = false;
};

}  // namespace platform

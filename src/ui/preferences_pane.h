#pragma once

// Tab 2 of the customization window: the general preferences (start at
// login, automatic update checks, sending usage data, what closing other
// apps does, export and import of the layouts) above the per-application
// settings.

#include <memory>
#include <optional>
#include <string>

#include "model/close_behavior.h"
#include "rx/disposable.h"
#include "toolkit/controls.h"
#include "toolkit/outline_view.h"
#include "toolkit/view.h"
#include "ui/app_settings_pane.h"
#include "ui/customization_context.h"

namespace wendrix {

class LayoutTransfer;

// The upper part of the tab. A plain object: the tab's controller makes the
// controls and hands them over.
class GeneralPrefsViewController final
    : public std::enable_shared_from_this<GeneralPrefsViewController> {
 public:
  struct Outlets {
    std::shared_ptr<toolkit::Button> launchAtLogin;
    std::shared_ptr<toolkit::Button> checkForUpdates;
    std::shared_ptr<toolkit::Button> sendAnalytics;
    std::shared_ptr<toolkit::PopUpButton> closeBehaviorButton;
  };

  GeneralPrefsViewController(CustomizationContext context, Outlets outlets);

  // Shows the current choices and follows the stored close behaviour; once.
  void setup(const std::shared_ptr<toolkit::View>& view);

  const Outlets& outlets() const { return outlets_; }

  // The controls' actions.
  void onLaunchAtLoginToggled(const toolkit::Button& sender);
  void onCheckForUpdatesToggled(const toolkit::Button& sender);
  void onSendAnalyticsToggled(const toolkit::Button& sender);
  void onCloseBehaviorChanged(const toolkit::PopUpButton& sender);
  void onExportLayouts();
  void onImportLayouts();

  // Selects the popup item of `behavior`, or none when no item has it.
  void showCloseBehavior(CloseBehavior behavior);

 private:
  // The window the pane is in, when it is in one and the actions exist.
  toolkit::Window* window() const;
  std::optional<LayoutTransfer> transfer() const;
  void showFailure(const std::string& message, const std::string& detail);

  CustomizationContext context_;
  Outlets outlets_;
  std::weak_ptr<toolkit::View> view_;
  rx::DisposeBag disposeBag_;
};

class SettingsViewController final : public toolkit::ViewController {
 public:
  explicit SettingsViewController(CustomizationContext context);

  const std::shared_ptr<GeneralPrefsViewController>& generalPrefs() const { return generalPrefs_; }
  const std::shared_ptr<AppSettingsViewController>& appSettings() const { return appSettings_; }
  toolkit::Button* exportLayoutsButton() const { return exportButton_.get(); }
  toolkit::Button* importLayoutsButton() const { return importButton_.get(); }
  toolkit::Button* helpButton() const { return helpButton_.get(); }

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  CustomizationContext context_;
  std::shared_ptr<GeneralPrefsViewController> generalPrefs_;
  std::shared_ptr<AppSettingsViewController> appSettings_;
  std::shared_ptr<toolkit::Button> exportButton_;
  std::shared_ptr<toolkit::Button> importButton_;
  std::shared_ptr<toolkit::Button> helpButton_;
};

}  // namespace wendrix

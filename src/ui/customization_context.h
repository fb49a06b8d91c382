#pragma once

#include <memory>

namespace platform {
class BundleProvider;
class FilePanels;
class IconProvider;
class LoginItem;
}  // namespace platform

namespace toolkit {
class Application;
}  // namespace toolkit

namespace wendrix {

class Actions;
class AddonManager;
class DefaultsStorage;
class WindowsProvider;

// The size of each pane of the customization window (beside its sidebar).
inline constexpr double kPaneWidth = 560;
inline constexpr double kPaneHeight = 480;

// What the controllers of the customization window work with. The pointers
// must outlive the window.
struct CustomizationContext {
  toolkit::Application* application = nullptr;
  // The program's actions; the commands that need them do nothing without.
  std::weak_ptr<Actions> actions;
  std::shared_ptr<DefaultsStorage> storage;
  std::shared_ptr<WindowsProvider> windowsProvider;
  // Application names.
  const platform::BundleProvider* bundles = nullptr;
  // Application icons; none shown without.
  const platform::IconProvider* icons = nullptr;
  // The addons whose displays the application rows show, and which capture
  // an added application's windows; none without.
  std::shared_ptr<const AddonManager> addons;
  // Starting the program at login; the preference is off and disabled
  // without.
  platform::LoginItem* loginItem = nullptr;
  // The save and open panels of export and import; the toolkit's panels,
  // attached to the window, when absent.
  std::shared_ptr<platform::FilePanels> panels;
};

}  // namespace wendrix

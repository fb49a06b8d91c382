#pragma once

// What the status menus work with: the long-lived services of the agent and
// the few platform services their commands reach.

#include <functional>
#include <memory>
#include <string>

#include "dispatch/clock.h"

namespace toolkit {
class Application;
}  // namespace toolkit

namespace platform {
class BundleProvider;
}  // namespace platform

namespace wendrix {

class Actions;
class CustomizationWindowOpener;
class DefaultsStorage;
class WindowsProvider;

namespace winsys {
class AccessibilityTrust;
}  // namespace winsys

// Every pointer must be set (the clock and the name function have defaults)
// and outlive the menus made over it.
struct MenuContext {
  std::shared_ptr<WindowsProvider> windowsProvider;
  std::shared_ptr<Actions> actions;
  // Opens the customization window on a layout or a pane.
  std::shared_ptr<CustomizationWindowOpener> customizationWindow;
  std::shared_ptr<DefaultsStorage> storage;
  // Runs the name dialog and ends the program.
  toolkit::Application* application = nullptr;
  // Asked, with the system's prompt, by "Please enable accessibility...".
  winsys::AccessibilityTrust* trust = nullptr;
  // Application names for anonymized error reports.
  const platform::BundleProvider* bundles = nullptr;
  // Menu open and close times and the default layout name; the system clock
  // when absent.
  const dispatch::Clock* clock = nullptr;
  // The name offered for a new layout; the user's medium date and short time
  // when absent.
  std::function<std::string(dispatch::WallTime)> defaultLayoutName;

  const dispatch::Clock& clockOrSystem() const;
  std::string defaultName() const;
};

}  // namespace wendrix

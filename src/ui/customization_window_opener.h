#pragma once

// Opens the customization window on a layout or a pane and holds its
// controller while the window is open, for the status menus and the popover.

#include <memory>
#include <optional>

#include "model/layout.h"
#include "ui/customization_navigation.h"

namespace platform {
class RunningApplications;
}  // namespace platform

namespace wendrix {

enum class ButtonClickSource;
enum class ButtonName;

// Main thread only. Owned through a shared pointer: the open window's
// controller tells it, held weakly, when the window closes.
class CustomizationWindowOpener final
    : public CustomizationWindowDelegate,
      public std::enable_shared_from_this<CustomizationWindowOpener> {
 public:
  // Without a factory the window cannot be opened. `runningApplications`
  // (which brings the program forward) must outlive the opener.
  CustomizationWindowOpener(std::shared_ptr<CustomizationWindowFactory> factory,
                            platform::RunningApplications& runningApplications);

  void showPreferences(ButtonClickSource source);
  void showAbout(ButtonClickSource source);
  // Opens the customization window on `layout`, or as it was without one;
  // gives its controller, nullptr when it cannot be made.
  std::shared_ptr<CustomizationWindowController> openEditWindow(
      const std::optional<Layout>& layout);
  // The open window's controller, or a new one.
  std::shared_ptr<CustomizationWindowController> customizationWindowController();
  // The controller of the customization window while one is open, else null;
  // makes none.
  const std::shared_ptr<CustomizationWindowController>& openEditLayoutWindowController() const {
    return openEditLayoutWindowController_;
  }
  // The customization window is closing: the next opening makes a new one.
  void windowWillClose() override;

 private:
  void openCustomizationPane(ButtonClickSource source, ButtonName button, NavigationOption entry);
  void activateProgram();

  std::shared_ptr<CustomizationWindowFactory> factory_;
  platform::RunningApplications& runningApplications_;
  std::shared_ptr<CustomizationWindowController> openEditLayoutWindowController_;
};

}  // namespace wendrix

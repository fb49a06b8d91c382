#include "ui/customization_window_opener.h"

#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "platform/running_apps/running_applications.h"

namespace wendrix {

CustomizationWindowOpener::CustomizationWindowOpener(
    std::shared_ptr<CustomizationWindowFactory> factory,
    platform::RunningApplications& runningApplications)
    : factory_(std::move(factory)), runningApplications_(runningApplications) {}

void CustomizationWindowOpener::showPreferences(ButtonClickSource source) {
  openCustomizationPane(source, ButtonName::preferences, NavigationOption::Preferences);
}

void CustomizationWindowOpener::showAbout(ButtonClickSource source) {
  openCustomizationPane(source, ButtonName::about, NavigationOption::About);
}

void CustomizationWindowOpener::openCustomizationPane(ButtonClickSource source, ButtonName button,
                                                      NavigationOption entry) {
  Track::buttonClick(button, source);
  const auto controller = customizationWindowController();
  if (!controller) return;
  controller->select(NavigationSelection::navigation(entry));
  if (!controller->isWindowVisible()) controller->showWindow();
  controller->setWindowDelegate(weak_from_this());
  controller->makeKeyAndOrderFront();
  activateProgram();
}

std::shared_ptr<CustomizationWindowController> CustomizationWindowOpener::openEditWindow(
    const std::optional<Layout>& layout) {
  Track::openEditWindow(layout ? EditWindowSource::layoutEditMenuItem
                               : EditWindowSource::editMenuItem);
  const auto controller = customizationWindowController();
  if (!controller) return nullptr;
  controller->select(layout ? NavigationSelection::layout(*layout) : NavigationSelection::none());
  if (!controller->isWindowVisible()) controller->showWindow();
  controller->setWindowDelegate(weak_from_this());
  activateProgram();
  return controller;
}

std::shared_ptr<CustomizationWindowController>
CustomizationWindowOpener::customizationWindowController() {
  if (openEditLayoutWindowController_) return openEditLayoutWindowController_;
  if (!factory_) return nullptr;
  auto controller = factory_->makeController();
  if (controller) openEditLayoutWindowController_ = controller;
  return controller;
}

void CustomizationWindowOpener::windowWillClose() {
  openEditLayoutWindowController_.reset();
}

void CustomizationWindowOpener::activateProgram() {
  runningApplications_.activate(runningApplications_.current().processIdentifier,
                                platform::activateIgnoringOtherApps);
}

}  // namespace wendrix

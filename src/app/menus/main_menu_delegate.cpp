#include "app/menus/main_menu_delegate.h"

#include <chrono>
#include <utility>

#include "analytics/track.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "platform/window_level/window_level.h"
#include "ui/customization_window_opener.h"

namespace wendrix {

namespace {

double secondsBetween(dispatch::WallTime from, dispatch::WallTime to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

MainMenuDelegate::MainMenuDelegate(
    std::shared_ptr<Actions> actions,
    std::shared_ptr<const CustomizationWindowOpener> customizationWindow,
    const dispatch::Clock& clock)
    : actions_(std::move(actions)),
      customizationWindow_(std::move(customizationWindow)),
      clock_(clock) {}

void MainMenuDelegate::menuWillOpen(toolkit::Menu&) {
  const dispatch::WallTime now = clock_.now();
  Track::menuOpen(lastClosed_ ? std::optional(secondsBetween(*lastClosed_, now)) : std::nullopt);

  // A customization window pinned above other windows goes back among them.
  if (const auto& controller = customizationWindow_->openEditLayoutWindowController()) {
    controller->setWindowLevel(platform::kStatusWindowLevel);
    controller->setWindowLevel(platform::kNormalWindowLevel);
  }
  lastOpen_ = now;
  actions_->windowsProvider()->warmUp();
}

void MainMenuDelegate::menuDidClose(toolkit::Menu&) {
  const dispatch::WallTime now = clock_.now();
  Track::menuClose(lastOpen_ ? std::optional(secondsBetween(*lastOpen_, now)) : std::nullopt);
  lastClosed_ = now;
}

}  // namespace wendrix

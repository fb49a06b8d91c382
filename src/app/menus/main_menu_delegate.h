#pragma once

#include <memory>
#include <optional>

#include "dispatch/clock.h"
#include "toolkit/menu.h"

namespace wendrix {

class Actions;
class CustomizationWindowOpener;

// The status menu's delegate: reports how long the menu stayed closed
// ("Menu_Open") and open ("Menu_Close"), drops a pinned customization window
// back to the normal level when the menu opens, and warms up the window
// tracking so that the menu's commands find it ready.
class MainMenuDelegate final : public toolkit::MenuDelegate {
 public:
  // `clock` must outlive the delegate.
  MainMenuDelegate(std::shared_ptr<Actions> actions,
                   std::shared_ptr<const CustomizationWindowOpener> customizationWindow,
                   const dispatch::Clock& clock);

  void menuWillOpen(toolkit::Menu& menu) override;
  void menuDidClose(toolkit::Menu& menu) override;

  const std::optional<dispatch::WallTime>& lastOpen() const { return lastOpen_; }
  const std::optional<dispatch::WallTime>& lastClosed() const { return lastClosed_; }

 private:
  std::optional<dispatch::WallTime> lastOpen_;
  std::optional<dispatch::WallTime> lastClosed_;
  std::shared_ptr<Actions> actions_;
  std::shared_ptr<const CustomizationWindowOpener> customizationWindow_;
  const dispatch::Clock& clock_;
};

}  // namespace wendrix

#pragma once

// The content of the status item's popover: the program's name and version
// and an ellipsis button whose menu opens the preferences, checks for
// updates, opens About, and quits. Also two small delegates that hand a
// window's or a popover's closing to a stream observer.

#include <memory>

#include "rx/observer.h"
#include "toolkit/menu.h"
#include "toolkit/popover.h"
#include "toolkit/view.h"
#include "toolkit/window.h"

namespace toolkit {
class Application;
class Button;
}  // namespace toolkit

namespace wendrix {

class Actions;
class CustomizationWindowOpener;

// What the popover's owner adopts; nothing is asked of it.
class HomeViewControllerDelegate {
 public:
  virtual ~HomeViewControllerDelegate() = default;
};

class HomeViewController final : public toolkit::ViewController {
 public:
  static constexpr double kWidth = 300;
  static constexpr double kHeight = 72;

  // The application must outlive the controller.
  explicit HomeViewController(toolkit::Application& application);

  // The ellipsis button's menu and its debug entry (made with the view).
  const std::shared_ptr<toolkit::Menu>& ellipsisMenu() const { return ellipsisMenu_; }
  toolkit::MenuItem* debugMenuItem() const { return debugMenuItem_.get(); }
  toolkit::Button* ellipsisButton() const { return ellipsisButton_.get(); }

  // Set by the popover's owner before it is shown; the commands that need
  // the actions, or the customization window, do nothing without.
  void setActions(std::shared_ptr<Actions> actions) { actions_ = std::move(actions); }
  const std::shared_ptr<Actions>& actions() const { return actions_; }
  void setCustomizationWindow(std::shared_ptr<CustomizationWindowOpener> opener) {
    customizationWindow_ = std::move(opener);
  }
  void setDelegate(std::weak_ptr<HomeViewControllerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // Pops the menu up at the centre of `sender`.
  void openEllipsisMenu(const toolkit::View& sender);
  void openPreferences();
  void checkForUpdates();
  void openAbout();
  // Has no effect.
  void openDebug() {}
  // Sends "Button_Click" (quit, other source), then ends the program.
  void quitApp();

 protected:
  void loadView() override;

 private:
  toolkit::Application& application_;
  std::shared_ptr<toolkit::Menu> ellipsisMenu_;
  std::shared_ptr<toolkit::MenuItem> debugMenuItem_;
  std::shared_ptr<toolkit::Button> ellipsisButton_;
  std::shared_ptr<Actions> actions_;
  std::shared_ptr<CustomizationWindowOpener> customizationWindow_;
  std::weak_ptr<HomeViewControllerDelegate> delegate_;
};

// Completes its observer when the window closes.
class HiddenWindowDelegate final : public toolkit::WindowDelegate {
 public:
  explicit HiddenWindowDelegate(rx::AnyObserver<toolkit::Window*> observer)
      : observer_(std::move(observer)) {}
  void windowWillClose() override { observer_.onCompleted(); }

 private:
  rx::AnyObserver<toolkit::Window*> observer_;
};

// Brings the program forward when the popover shows, with the popover's
// window key; completes its observer (when it has one) when it closes.
class WindowPopoverDelegate final : public toolkit::PopoverDelegate {
 public:
  WindowPopoverDelegate(toolkit::Application& application,
                        rx::AnyObserver<toolkit::Popover*> observer)
      : application_(application), observer_(std::move(observer)) {}
  void popoverDidShow(toolkit::Popover& popover) override;
  void popoverDidClose(toolkit::Popover& popover) override;

 private:
  toolkit::Application& application_;
  rx::AnyObserver<toolkit::Popover*> observer_;
};

// What a shown popover does with the program: it becomes active, and the
// popover's window key and in front.
void bringPopoverForward(toolkit::Application& application, toolkit::Popover& popover);

}  // namespace wendrix

#pragma once

// The program's application delegate: it builds the long-lived objects in a
// fixed order, and once launching has finished starts the telemetry SDK,
// shows the status item and binds the status menu to it. URLs the desktop
// hands the program go to the URL handler. It also owns the status item's
// popover (the home view), which only its `statusAction` and `openPopover`
// show.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "engine/actions.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "telemetry/sdk/service_class.h"
#include "toolkit/application.h"
#include "toolkit/popover.h"
#include "ui/customization_window_opener.h"
#include "ui/home_view.h"

namespace toolkit {
class Menu;
class StatusItem;
class View;
class ViewController;
class Window;
}  // namespace toolkit

namespace wendrix {

class DefaultsStorage;
class MainMenuProvider;
class URLHandler;
class WindowsProvider;

namespace winsys {
class AccessibilityTrust;
}  // namespace winsys

struct AppDelegateContext {
  // Must outlive the delegate.
  toolkit::Application* application = nullptr;
  // What `Actions` works with besides the windows provider and the storage,
  // which the delegate takes from their shared instances.
  ActionsContext actions;
  // Makes the customization window's controller on demand; without one the
  // window cannot be opened.
  std::shared_ptr<CustomizationWindowFactory> customizationWindows;
  // Asked, with the system's prompt, from the status menu; must outlive the
  // delegate.
  winsys::AccessibilityTrust* trust = nullptr;
  // The telemetry SDK's application secret.
  std::string appSecret;
  // The telemetry services the SDK starts with it.
  std::vector<tlm::TLMServiceClass> telemetryServices;
  // Where the popover's debug timing line goes; standard output when null.
  std::ostream* debugOutput = nullptr;
};

// A popover shown by `showPopover` and the invisible window it is anchored
// to, if any. The anchor window must live as long as the popover is shown
// and should be closed with it.
struct ShownPopover {
  std::shared_ptr<toolkit::Popover> popover;
  std::shared_ptr<toolkit::Window> anchorWindow;
};

// Shows `content` in a transient popover below `view`. With `detachedWindow`
// and a window for `view`, the popover is anchored to a borderless 1 x 1
// window at the status level, put at the middle of the bottom edge of
// `view`'s window (where the status icon ends), so that it stays put when the
// icon's window changes.
ShownPopover showPopover(toolkit::Application& application, toolkit::View& view,
                         std::shared_ptr<toolkit::ViewController> content, bool detachedWindow);

// Main thread only. The shared `DefaultsStorage` and `WindowsProvider` must
// be configured before it is made.
class AppDelegate final : public toolkit::ApplicationDelegate,
                          public toolkit::PopoverDelegate,
                          public HomeViewControllerDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
 public:
  static constexpr const char* kMenuIconName = "Menu Icon";
  static constexpr const char* kDefaultToolTip = "Wendrix";

  // Builds, in this order: the status item; the shared storage, with its
  // first-run step; the shared windows provider, warmed up; the customization
  // window's opener; the actions; the URL handler; the main menu provider,
  // which builds the first menu.
  explicit AppDelegate(AppDelegateContext context);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching() override;
  // Passes the URLs, in order and unchanged, to the URL handler.
  void applicationOpenURLs(const std::vector<std::string>& urls) override;
  // Opens the URLs through the application (as the desktop hands them over)
  // and tells `done` once the URL handler has carried them all out.
  void openURLs(const std::vector<std::string>& urls,
                std::function<void(const base::Status&)> done);
  // Nothing is saved at termination: every change was written when made.
  void applicationWillTerminate() override {}

  // Records when the popover was asked for, then toggles it.
  void statusAction();
  // Closes the popover when it is shown, else shows the home view in a new
  // one under the status item (none without a status button).
  void openPopover();
  // Records when the menu was asked for and opens the status menu under the
  // status item; nothing without a menu.
  void openMenu();

  // toolkit::PopoverDelegate: a shown popover prints its debug timing line
  // and comes forward with the program; a closed one is forgotten.
  void popoverDidShow(toolkit::Popover& popover) override;
  void popoverDidClose(toolkit::Popover& popover) override;

  const std::shared_ptr<toolkit::StatusItem>& statusItem() const { return statusItem_; }
  const std::shared_ptr<Actions>& actions() const { return actions_; }
  const std::shared_ptr<CustomizationWindowOpener>& customizationWindow() const {
    return customizationWindow_;
  }
  const std::shared_ptr<URLHandler>& urlHandler() const { return urlHandler_; }
  const std::shared_ptr<MainMenuProvider>& menuProvider() const { return menuProvider_; }
  // The popover while it is shown, else null; its anchor window likewise.
  std::shared_ptr<toolkit::Popover> popover() const {
    return popover_ ? popover_->popover : nullptr;
  }
  std::shared_ptr<toolkit::Window> popoverAnchorWindow() const {
    return popover_ ? popover_->anchorWindow : nullptr;
  }
  const std::optional<dispatch::WallTime>& timerStart() const { return timerStart_; }

 private:
  // The home view in a popover under the status button; none without one.
  std::optional<ShownPopover> makePopover();
  // Closes the popover and its anchor window, and forgets them.
  void dropPopover();

  // The status menu, a new value for each change.
  rx::Observable<std::shared_ptr<toolkit::Menu>> mainMenuStream();

  toolkit::Application& application_;
  const dispatch::Clock& clock_;
  std::ostream& debugOutput_;
  std::string appSecret_;
  std::vector<tlm::TLMServiceClass> telemetryServices_;
  std::shared_ptr<toolkit::StatusItem> statusItem_;
  std::shared_ptr<DefaultsStorage> storage_;
  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<Actions> actions_;
  std::shared_ptr<CustomizationWindowOpener> customizationWindow_;
  std::shared_ptr<URLHandler> urlHandler_;
  std::shared_ptr<MainMenuProvider> menuProvider_;
  rx::DisposeBag disposeBag_;
  std::optional<dispatch::WallTime> timerStart_;
  std::optional<ShownPopover> popover_;
  // Told how the URLs being opened through `openURLs` went.
  std::function<void(const base::Status&)> urlsDone_;
};

}  // namespace wendrix

#pragma once

// The program's application delegate: it builds the long-lived objects in a
// fixed order, and once launching has finished starts the telemetry SDK,
// shows the status item and binds the status menu to it. URLs the desktop
// hands the program go to the URL handler.

#include <memory>
#include <string>
#include <vector>

#include "engine/actions.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "telemetry/sdk/service_class.h"
#include "toolkit/application.h"

namespace toolkit {
class Menu;
class StatusItem;
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
  // Asked, with the system's prompt, from the status menu; must outlive the
  // delegate.
  winsys::AccessibilityTrust* trust = nullptr;
  // The telemetry SDK's application secret.
  std::string appSecret;
  // The telemetry services the SDK starts with it.
  std::vector<tlm::TLMServiceClass> telemetryServices;
};

// Main thread only. The shared `DefaultsStorage` and `WindowsProvider` must
// be configured before it is made.
class AppDelegate final : public toolkit::ApplicationDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
 public:
  static constexpr const char* kMenuIconName = "Menu Icon";
  static constexpr const char* kDefaultToolTip = "Wendrix";

  // Builds, in this order: the status item; the shared storage, with its
  // first-run step; the shared windows provider, warmed up; the actions; the
  // URL handler; the main menu provider, which builds the first menu.
  explicit AppDelegate(AppDelegateContext context);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching() override;
  // Passes the URLs, in order and unchanged, to the URL handler.
  void applicationOpenURLs(const std::vector<std::string>& urls) override;
  // Nothing is saved at termination: every change was written when made.
  void applicationWillTerminate() override {}

  const std::shared_ptr<toolkit::StatusItem>& statusItem() const { return statusItem_; }
  const std::shared_ptr<Actions>& actions() const { return actions_; }
  const std::shared_ptr<URLHandler>& urlHandler() const { return urlHandler_; }
  const std::shared_ptr<MainMenuProvider>& menuProvider() const { return menuProvider_; }

 private:
  // The status menu, a new value for each change.
  rx::Observable<std::shared_ptr<toolkit::Menu>> mainMenuStream();

  toolkit::Application& application_;
  std::string appSecret_;
  std::vector<tlm::TLMServiceClass> telemetryServices_;
  std::shared_ptr<toolkit::StatusItem> statusItem_;
  std::shared_ptr<DefaultsStorage> storage_;
  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<Actions> actions_;
  std::shared_ptr<URLHandler> urlHandler_;
  std::shared_ptr<MainMenuProvider> menuProvider_;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix

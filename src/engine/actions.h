#pragma once

// The one object through which menus, URL commands and the customization
// window ask for work on layouts and windows: saving, closing applications,
// the queue that brings applications to the front one at a time, adding a
// window to a layout, the layout-name check, the update check and the
// customization window.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/vocabulary.h"
#include "dispatch/clock.h"
#include "engine/activation_queue.h"
#include "engine/capture.h"
#include "engine/customization_window.h"
#include "engine/windows_provider.h"
#include "model/layout.h"
#include "platform/bundle/bundle.h"
#include "platform/running_apps/running_applications.h"
#include "platform/updater/updater.h"
#include "rx/disposable.h"
#include "rx/event.h"
#include "rx/observable.h"
#include "rx/scheduler.h"
#include "rx/single.h"
#include "rx/subjects.h"
#include "storage/defaults_storage.h"
#include "winsys/window_system.h"

namespace wendrix {

// How long an activation waits for its application to become frontmost.
inline constexpr auto kActivationTimeout = std::chrono::seconds(3);
// How long an activation still waits once its application is frontmost.
inline constexpr auto kActivationGrace = std::chrono::milliseconds(100);

// Bundle identifiers whose "quit" closes their windows instead: the file
// manager that owns the desktop, and the program itself.
inline constexpr std::string_view kFinderBundleId = "com.apple.finder";
inline constexpr std::string_view kOwnBundleId = "app.Wendrix";

// What `Actions` works with. The references must outlive the actions and
// every stream they returned (in the program all of them live for the whole
// run).
struct ActionsContext {
  std::shared_ptr<WindowsProvider> windowsProvider;
  std::shared_ptr<DefaultsStorage> storage;
  platform::RunningApplications* runningApplications = nullptr;
  // Application names for anonymized error reports.
  const platform::BundleProvider* bundles = nullptr;
  // The main scheduler (timers) and the wall clock (layout names and times).
  rx::Scheduler* scheduler = nullptr;
  const dispatch::Clock* clock = nullptr;
  // The addons that capture windows; none registered when absent.
  std::shared_ptr<const AddonRegistry> addons;
  // Makes the customization window's controller on demand; without one the
  // window cannot be opened.
  std::shared_ptr<CustomizationWindowFactory> customizationWindows;
  // Makes the updater at its first use; the log-only updater when absent.
  std::function<std::shared_ptr<platform::Updater>()> makeUpdater;
  // The name of a layout saved without one; the user's medium date and short
  // time when absent.
  std::function<std::string(dispatch::WallTime)> defaultLayoutName;
};

// Main thread only. Owned through a shared pointer; every pending step holds
// it weakly, so work still under way when it goes ends as each operation
// says (an empty result, nothing stored, or NilWeakSelfError).
class Actions final : public CustomizationWindowDelegate,
                      public std::enable_shared_from_this<Actions> {
 public:
  // Makes the actions and starts the activation queue.
  static std::shared_ptr<Actions> make(ActionsContext context);
  ~Actions() override;
  Actions(const Actions&) = delete;
  Actions& operator=(const Actions&) = delete;

  const std::shared_ptr<WindowsProvider>& windowsProvider() const { return windowsProvider_; }
  const std::shared_ptr<DefaultsStorage>& storage() const { return storage_; }

  // --- activation queue ---------------------------------------------------

  // Queues bringing process `processIdentifier` (bundle identifier
  // `bundleIdentifier`) to the front and gives the item's `done`.
  rx::Single<rx::Unit> activateApp(std::string bundleIdentifier, std::int32_t processIdentifier);

  // --- layouts --------------------------------------------------------------

  // Saves the windows of every application that shows some as a layout
  // named `name`, or after the current date and time without one. Succeeds
  // once the layout was handed to the store; "Layout_Saved" is sent.
  rx::Single<rx::Unit> saveLayout(std::optional<std::string> name);
  // Adds the running `window` to the saved `layout` and stores it.
  void addWindowToLayout(const winsys::Window& window, const Layout& layout);
  // False for a name that is empty once trimmed; otherwise whether no saved
  // layout has exactly this name (one value).
  rx::Observable<bool> isLayoutNameAvailable(const std::string& name);

  // --- closing applications -----------------------------------------------

  // Puts away the running applications of `layout`; sends "Closed_Apps".
  rx::Single<rx::Unit> closeLayoutApps(const Layout& layout);
  // Puts away the running applications outside `layout` and gives them.
  rx::Single<std::vector<winsys::ApplicationPtr>> closeOtherApps(const Layout& layout);
  // Closes the applications outside `layout` when it asks for that; sends
  // "Closed_Apps" then.
  rx::Single<rx::Unit> autoCloseOtherApps(const Layout& layout);
  // Applies the close behaviour to each application, all at once. Succeeds
  // when all have settled; failures are reported as "Error" events, never
  // as the result.
  rx::Single<rx::Unit> applyCloseBehavior(std::vector<winsys::ApplicationPtr> applications);

  // --- program windows ----------------------------------------------------

  void checkForUpdates();
  void showPreferences(ButtonClickSource source);
  void showAbout(ButtonClickSource source);
  // Opens the customization window on `layout`, or as it was without one;
  // gives its controller, nullptr when it cannot be made.
  std::shared_ptr<CustomizationWindowController> openEditWindow(
      const std::optional<Layout>& layout);
  // The open window's controller, or a new one.
  std::shared_ptr<CustomizationWindowController> customizationWindowController();
  // The customization window is closing: the next opening makes a new one.
  void windowWillClose() override;

 private:
  explicit Actions(ActionsContext context);
  void startActivationQueue();
  platform::Updater& updater();
  void openCustomizationPane(ButtonClickSource source, ButtonName button, NavigationOption entry);
  void activateProgram();
  // The applications with windows now, as one value.
  rx::Single<std::vector<winsys::ApplicationPtr>> currentAppsWithWindows();
  // Applies the close behaviour to `kept` while the actions exist; gives
  // `kept` either way.
  static rx::Single<std::vector<winsys::ApplicationPtr>> putAway(
      std::weak_ptr<Actions> weak, std::vector<winsys::ApplicationPtr> kept);
  rx::Single<std::vector<base::Status>> closeApplication(const winsys::ApplicationPtr& app);

  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<DefaultsStorage> storage_;
  rx::DisposeBag disposeBag_;
  std::shared_ptr<platform::Updater> updater_;
  std::shared_ptr<CustomizationWindowController> openEditLayoutWindowController_;
  rx::PublishSubject<ActivationQueueItem> activateAppSubject_;
  rx::PublishSubject<std::int32_t> cancelAppActivationSubject_;
  // The bundle identifier of each new frontmost application.
  rx::Observable<std::string> activeApp_;

  platform::RunningApplications& runningApplications_;
  const platform::BundleProvider& bundles_;
  rx::Scheduler& scheduler_;
  const dispatch::Clock& clock_;
  std::shared_ptr<const AddonRegistry> addons_;
  std::shared_ptr<CustomizationWindowFactory> customizationWindows_;
  std::function<std::shared_ptr<platform::Updater>()> makeUpdater_;
  std::function<std::string(dispatch::WallTime)> defaultLayoutName_;
};

}  // namespace wendrix

#pragma once

// The one object through which menus, URL commands and the customization
// window ask for work on layouts and windows: saving, closing applications,
// the queue that brings applications to the front one at a time, adding a
// window to a layout, the layout-name check, the update check and the
// customization window.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/clock.h"
#include "engine/customization_window.h"
#include "model/bundle_aliases.h"
#include "model/shortcut.h"
#include "winsys/window_system.h"

// What the declarations below only name; the files that use them include them.
namespace platform {
class BundleProvider;
class Keyboard;
struct LaunchedApplication;
class RunningApplications;
class Updater;
class Workspace;
}  // namespace platform

namespace wendrix::rx {
template <class T>
class Event;
template <class T>
class Single;
template <class T>
class Observable;
class Scheduler;
struct Unit;
}  // namespace wendrix::rx

namespace wendrix {

class AddonRegistry;
class AddonRestoreRegistry;
class DefaultsStorage;
class WindowsProvider;
struct ActivationQueueState;
struct RestoreStatistics;
template <class W>
struct MatchedWindow;
enum class ButtonClickSource;
enum class ButtonName;

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
  // The addons that restore their applications' windows; none when absent.
  std::shared_ptr<const AddonRestoreRegistry> addonRestores;
  // Launching applications and handing them documents; without one every
  // launch fails with FailedToOpenApp.
  platform::Workspace* workspace = nullptr;
  // Posting "New Window" keystrokes; without one no keystroke is posted.
  platform::Keyboard* keyboard = nullptr;
  // Makes the customization window's controller on demand; without one the
  // window cannot be opened.
  std::shared_ptr<CustomizationWindowFactory> customizationWindows;
  // Makes the updater at its first use; one with nothing to check when absent.
  std::function<std::shared_ptr<platform::Updater>()> makeUpdater;
  // The name of a layout saved without one; the user's medium date and short
  // time when absent.
  std::function<std::string(dispatch::WallTime)> defaultLayoutName;
  // The ids the built-in "New Window" table and the quit rule know running
  // applications by; none aliased when absent.
  std::shared_ptr<const BundleIdAliases> aliases;
};

using MatchedWindows = std::vector<MatchedWindow<winsys::WindowPtr>>;

// A running application found or launched for a saved one.
struct FoundApp {
  winsys::ApplicationPtr application;
  // True when this restore launched it.
  bool launched = false;
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

  // --- restoring ------------------------------------------------------------
  // Nothing runs before a returned Single is subscribed.

  // Closes the other applications when the layout asks for that, then
  // restores all of its applications at once and sends "Layout_Restored".
  // Fails only when the closing fails.
  rx::Single<rx::Unit> restoreLayout(const Layout& layout);
  // Restores these applications at once and sends "App_Restored".
  rx::Single<rx::Unit> restoreApps(std::vector<IApp> apps);
  // Restores every application at once, each bounded by kRestoreTimeout, and
  // counts how each ended. Never fails; failures are reported one by one.
  rx::Single<RestoreStatistics> restoreAppsWithStatistics(const std::vector<IApp>& apps);
  // Brings one application to windows paired with its saved ones: through
  // its addon, or by finding or launching it and opening missing windows.
  rx::Single<MatchedWindows> restoreApp(const IApp& app);
  // The running application of the record's bundle identifier, launching it
  // when none runs (InvalidAppError without an identifier).
  rx::Single<FoundApp> findOrLaunchApp(const IApp& app);
  // Opens the application at its saved bundle URL, else (or when that fails)
  // at the one its bundle identifier resolves to.
  rx::Single<platform::LaunchedApplication> launchApp(const IApp& app);
  // Asks the running application, which has no window, for one: its
  // workspace reopen (a new-window action, else a launch), at the URL
  // `launchApp` would choose.
  rx::Single<platform::LaunchedApplication> reopenApp(const IApp& app);
  // Hands `urls` (possibly none, still one request) to the application,
  // found as `launchApp` finds it.
  rx::Single<platform::LaunchedApplication> openURLsWithApp(const IApp& app,
                                                            std::vector<base::Url> urls);

  // The application's windows once `wanted` of them exist, after posting its
  // "New Window" keystroke while some are missing (window_opener.cpp).
  rx::Single<std::vector<winsys::WindowPtr>> openAppWindows(const IApp& app, std::int64_t wanted);
  // The settings and the record are shared by the steps of the wait, not
  // copied into each.
  rx::Single<std::vector<winsys::WindowPtr>> waitForWindows(
      winsys::ApplicationPtr application, bool launched,
      std::shared_ptr<const AppSettingsMap> settings, std::int64_t wanted,
      std::shared_ptr<const IApp> app);
  // Posts key down then key up of the keystroke to the application's process
  // when subscribed; then one value. A key that cannot be made is skipped.
  rx::Observable<rx::Unit> postShortcut(IShortcut shortcut,
                                        const winsys::ApplicationPtr& application);

  // Sets the saved frames of the paired windows, takes them out of the
  // minimized state, then queues the application's activation. Never fails
  // from a window's failure.
  rx::Single<rx::Unit> restoreWindows(const MatchedWindows& matched, const IApp& app);
  // Writes the frame (a failure is ignored), then un-minimizes the window (a
  // failure is reported). Fails only on a cancelled write.
  rx::Single<rx::Unit> setWindowFrame(const winsys::WindowPtr& window, winsys::Rect frame);

  rx::Scheduler& scheduler() const { return scheduler_; }
  const BundleIdAliases& aliases() const { return *aliases_; }

  // --- program windows ----------------------------------------------------

  void checkForUpdates();
  // The program's updater, made at its first use.
  platform::Updater& updater();
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
  explicit Actions(ActionsContext context);
  void startActivationQueue();
  void openCustomizationPane(ButtonClickSource source, ButtonName button, NavigationOption entry);
  void activateProgram();
  // The applications with windows now, as one value.
  rx::Single<std::vector<winsys::ApplicationPtr>> currentAppsWithWindows();
  // Applies the close behaviour to `kept` while the actions exist; gives
  // `kept` either way.
  static rx::Single<std::vector<winsys::ApplicationPtr>> putAway(
      std::weak_ptr<Actions> weak, std::vector<winsys::ApplicationPtr> kept);
  rx::Single<std::vector<base::Status>> closeApplication(const winsys::ApplicationPtr& app);
  // The restore chain of one application, ending in its materialized outcome.
  rx::Single<rx::Event<rx::Unit>> restoreAppChain(const IApp& app);
  // One launch or open request at `applicationURL` (documents: openURLs).
  rx::Single<platform::LaunchedApplication> openAt(
      const base::Url& applicationURL, const std::optional<std::vector<base::Url>>& documents,
      bool reopen = false);
  // The URL choice of launchApp, reopenApp and openURLsWithApp.
  rx::Single<platform::LaunchedApplication> openApp(const IApp& app,
                                                    std::optional<std::vector<base::Url>> documents,
                                                    bool reopen = false);

  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<DefaultsStorage> storage_;
  // The activation queue's streams and their subscriptions (actions_internal.h).
  std::unique_ptr<ActivationQueueState> activation_;
  std::shared_ptr<platform::Updater> updater_;
  std::shared_ptr<CustomizationWindowController> openEditLayoutWindowController_;

  platform::RunningApplications& runningApplications_;
  const platform::BundleProvider& bundles_;
  rx::Scheduler& scheduler_;
  const dispatch::Clock& clock_;
  std::shared_ptr<const AddonRegistry> addons_;
  std::shared_ptr<const AddonRestoreRegistry> addonRestores_;
  platform::Workspace* workspace_;
  platform::Keyboard* keyboard_;
  // The thread the actions were made on: the main thread.
  std::thread::id mainThread_;
  std::shared_ptr<CustomizationWindowFactory> customizationWindows_;
  std::function<std::shared_ptr<platform::Updater>()> makeUpdater_;
  std::function<std::string(dispatch::WallTime)> defaultLayoutName_;
  std::shared_ptr<const BundleIdAliases> aliases_;
};

}  // namespace wendrix

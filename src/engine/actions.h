#pragma once

// The one object through which menus, URL commands and the customization
// window ask for work on layouts and windows: saving, adding a window to a
// layout, the layout-name check and the update check here; restoring, launching, closing, placing
// windows and bringing applications to the front in its parts (LayoutRestorer, AppLauncher,
// AppCloser, WindowPlacer, ActivationQueue).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "engine/activation_queue.h"
#include "engine/app_closer.h"
#include "engine/app_launcher.h"
#include "engine/layout_restorer.h"
#include "engine/window_placer.h"
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
  // Makes the updater at its first use; one with nothing to check when absent.
  std::function<std::shared_ptr<platform::Updater>()> makeUpdater;
  // The name of a layout saved without one; the user's medium date and short
  // time when absent.
  std::function<std::string(dispatch::WallTime)> defaultLayoutName;
  // The ids the built-in "New Window" table and the quit rule know running
  // applications by; none aliased when absent.
  std::shared_ptr<const BundleIdAliases> aliases;
};

// Main thread only. Owned through a shared pointer; every pending step holds
// it, or the part doing the work, weakly, so work still under way when it
// goes ends as each operation says (an empty result, nothing stored, or
// NilWeakSelfError). The parts live as long as the actions.
class Actions final : public std::enable_shared_from_this<Actions> {
 public:
  // Makes the actions and starts the activation queue.
  static std::shared_ptr<Actions> make(ActionsContext context);
  ~Actions();
  Actions(const Actions&) = delete;
  Actions& operator=(const Actions&) = delete;

  const std::shared_ptr<WindowsProvider>& windowsProvider() const { return windowsProvider_; }
  const std::shared_ptr<DefaultsStorage>& storage() const { return storage_; }

  // --- the parts doing the work ---------------------------------------------

  ActivationQueue& activationQueue() const { return *activationQueue_; }
  AppLauncher& launcher() const { return *launcher_; }
  AppCloser& closer() const { return *closer_; }
  WindowPlacer& placer() const { return *placer_; }
  LayoutRestorer& restorer() const { return *restorer_; }

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

  // Puts away the running applications of `layout` (AppCloser).
  rx::Single<rx::Unit> closeLayoutApps(const Layout& layout);
  // Restores the layout (LayoutRestorer).
  rx::Single<rx::Unit> restoreLayout(const Layout& layout);
  // Restores these applications of a layout (LayoutRestorer).
  rx::Single<rx::Unit> restoreApps(std::vector<IApp> apps);

  // --- updates --------------------------------------------------------------

  void checkForUpdates();
  // The program's updater, made at its first use.
  platform::Updater& updater();

 private:
  explicit Actions(ActionsContext context);

  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<DefaultsStorage> storage_;
  platform::RunningApplications& runningApplications_;
  const dispatch::Clock& clock_;
  std::shared_ptr<const AddonRegistry> addons_;
  std::shared_ptr<ActivationQueue> activationQueue_;
  std::shared_ptr<AppLauncher> launcher_;
  std::shared_ptr<AppCloser> closer_;
  std::shared_ptr<WindowPlacer> placer_;
  std::shared_ptr<LayoutRestorer> restorer_;
  std::shared_ptr<platform::Updater> updater_;
  std::function<std::shared_ptr<platform::Updater>()> makeUpdater_;
  std::function<std::string(dispatch::WallTime)> defaultLayoutName_;
};

}  // namespace wendrix

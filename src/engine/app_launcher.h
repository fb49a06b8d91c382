#pragma once

// Bringing a saved application to windows: finding it running or launching
// it, handing it documents, and opening its missing windows with its "New
// Window" keystroke while waiting for them.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "base/result.h"
#include "base/url.h"
#include "model/app.h"
#include "model/bundle_aliases.h"
#include "model/shortcut.h"
#include "rx/event.h"
#include "rx/observable.h"
#include "rx/single.h"
#include "winsys/window_system.h"

namespace platform {
class Keyboard;
struct LaunchedApplication;
class Workspace;
}  // namespace platform

namespace wendrix::rx {
class Scheduler;
}

namespace wendrix {

class DefaultsStorage;
class WindowsProvider;

// How long the window list is awaited after each "New Window" keystroke or
// reopen request.
inline constexpr auto kNewWindowWait = std::chrono::seconds(20);
// How long each "New Window" keystroke waits when the restore had to launch
// the application (it needs time to take keyboard input).
inline constexpr auto kLaunchedKeystrokeDelay = std::chrono::seconds(2);

// A running application found or launched for a saved one.
struct FoundApp {
  winsys::ApplicationPtr application;
  // True when this restore launched it.
  bool launched = false;
};

// What `AppLauncher` works with; see ActionsContext.
struct AppLauncherContext {
  std::shared_ptr<WindowsProvider> windowsProvider;
  std::shared_ptr<DefaultsStorage> storage;
  rx::Scheduler* scheduler = nullptr;
  // Launching applications and handing them documents; without one every
  // launch fails with FailedToOpenApp.
  platform::Workspace* workspace = nullptr;
  // Posting "New Window" keystrokes; without one no keystroke is posted.
  platform::Keyboard* keyboard = nullptr;
  std::shared_ptr<const BundleIdAliases> aliases;
};

// Main thread only: it is made on the main thread, which it hands the
// system's completions to. Every pending step holds the launcher weakly.
class AppLauncher final : public std::enable_shared_from_this<AppLauncher> {
 public:
  explicit AppLauncher(AppLauncherContext context);

  // The window events the waits for windows follow (app_launcher.cpp).
  class WindowWatch;

  const std::shared_ptr<WindowsProvider>& windowsProvider() const { return windowsProvider_; }
  rx::Scheduler& scheduler() const { return scheduler_; }
  const BundleIdAliases& aliases() const { return *aliases_; }

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
  // "New Window" keystroke while some are missing.
  rx::Single<std::vector<winsys::WindowPtr>> openAppWindows(const IApp& app, std::int64_t wanted);
  // The same with the record shared rather than copied.
  rx::Single<std::vector<winsys::WindowPtr>> openAppWindows(std::shared_ptr<const IApp> app,
                                                            std::int64_t wanted);
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

 private:
  // One launch or open request at `applicationURL` (documents: openURLs).
  rx::Single<platform::LaunchedApplication> openAt(
      const base::Url& applicationURL, const std::optional<std::vector<base::Url>>& documents,
      bool reopen = false);
  // The URL choice of launchApp, reopenApp and openURLsWithApp.
  rx::Single<platform::LaunchedApplication> openApp(std::shared_ptr<const IApp> app,
                                                    std::optional<std::vector<base::Url>> documents,
                                                    bool reopen = false);
  rx::Single<FoundApp> findOrLaunchApp(std::shared_ptr<const IApp> app);
  // The wait of `waitForWindows` as its subscription starts it.
  rx::Single<std::vector<winsys::WindowPtr>> waitingFor(
      const winsys::ApplicationPtr& application, bool launched,
      const std::shared_ptr<const AppSettingsMap>& settings, std::int64_t wanted,
      const std::shared_ptr<const IApp>& app);
  // Steps of the one-state subscriptions in app_launcher.cpp: the settings
  // as they are now, the wait for a found application's windows, a launch.
  static base::Result<std::shared_ptr<const AppSettingsMap>> currentSettings(
      const std::weak_ptr<AppLauncher>& launcher, DefaultsStorage& storage);
  static rx::Single<std::vector<winsys::WindowPtr>> waitForFound(
      const std::shared_ptr<AppLauncher>& launcher, const FoundApp& found,
      std::shared_ptr<const AppSettingsMap> settings, std::int64_t wanted,
      std::shared_ptr<const IApp> app);
  static rx::Single<platform::LaunchedApplication> launchShared(
      const std::shared_ptr<AppLauncher>& launcher, const std::shared_ptr<const IApp>& app);

  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<DefaultsStorage> storage_;
  rx::Scheduler& scheduler_;
  platform::Workspace* workspace_;
  platform::Keyboard* keyboard_;
  std::shared_ptr<const BundleIdAliases> aliases_;
  // The thread the launcher was made on: the main thread.
  std::thread::id mainThread_;
  // The user's settings as the store holds them now: followed from their
  // first use, so that every restore shares one copy of them.
  struct SettingsFollower;
  std::shared_ptr<SettingsFollower> settings_;
  // Made with the first wait for windows.
  std::shared_ptr<WindowWatch> windowWatch_;
};

}  // namespace wendrix

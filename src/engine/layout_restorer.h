#pragma once

// Restoring a layout or some of its applications: every application at once,
// each through its addon or by finding or launching it and opening its
// missing windows, then placing the windows; each bounded by the restore time
// limit and counted as a success, a time-out or an error.

#include <chrono>
#include <memory>
#include <vector>

#include "dispatch/clock.h"
#include "engine/window_placer.h"
#include "model/app.h"
#include "model/layout.h"
#include "rx/event.h"
#include "rx/single.h"

namespace platform {
class BundleProvider;
}

namespace wendrix::rx {
class Scheduler;
}

namespace wendrix {

class AddonRestoreRegistry;
class AppCloser;
class AppLauncher;
struct RestoreStatistics;

// How long one application's restore may take, from its start.
inline constexpr auto kRestoreTimeout = std::chrono::seconds(20);

// What `LayoutRestorer` works with. The references must outlive it.
struct LayoutRestorerContext {
  std::shared_ptr<AppLauncher> launcher;
  std::shared_ptr<WindowPlacer> placer;
  std::shared_ptr<AppCloser> closer;
  std::shared_ptr<const AddonRestoreRegistry> addonRestores;
  const platform::BundleProvider* bundles = nullptr;
  rx::Scheduler* scheduler = nullptr;
  const dispatch::Clock* clock = nullptr;
};

// Main thread only. Every pending step holds the restorer weakly; nothing
// runs before a returned Single is subscribed.
class LayoutRestorer final : public std::enable_shared_from_this<LayoutRestorer> {
 public:
  explicit LayoutRestorer(LayoutRestorerContext context);

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

 private:
  class AppPlacing;

  // `restoreAppsWithStatistics` over records shared from the start.
  rx::Single<RestoreStatistics> restoreSharedApps(
      std::shared_ptr<const std::vector<std::shared_ptr<const IApp>>> apps);

  rx::Single<MatchedWindows> restoreSharedApp(std::shared_ptr<const IApp> app);
  // `restoreApp`, then the placing of the windows it paired.
  static rx::Single<rx::Unit> restoreAndPlace(const std::shared_ptr<LayoutRestorer>& restorer,
                                              const std::shared_ptr<const IApp>& app);

  std::shared_ptr<AppLauncher> launcher_;
  std::shared_ptr<WindowPlacer> placer_;
  std::shared_ptr<AppCloser> closer_;
  std::shared_ptr<const AddonRestoreRegistry> addonRestores_;
  const platform::BundleProvider& bundles_;
  rx::Scheduler& scheduler_;
  const dispatch::Clock& clock_;
};

}  // namespace wendrix

#pragma once

// Putting applications away with the user's close behaviour: closing their
// windows, quitting, hiding or minimizing them.

#include <memory>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/bundle_aliases.h"
#include "model/layout.h"
#include "rx/event.h"
#include "rx/single.h"
#include "winsys/window_system.h"

namespace platform {
class BundleProvider;
}

namespace wendrix {

class DefaultsStorage;
class WindowsProvider;

// Applications whose "quit" closes their windows instead: the file manager
// that owns the desktop (this bundle identifier), and the program itself (its
// main bundle's).
inline constexpr std::string_view kFinderBundleId = "com.apple.finder";

// Main thread only. The bundle provider must outlive the closer; every
// pending step holds the closer weakly.
class AppCloser final : public std::enable_shared_from_this<AppCloser> {
 public:
  AppCloser(std::shared_ptr<WindowsProvider> windowsProvider,
            std::shared_ptr<DefaultsStorage> storage, const platform::BundleProvider& bundles,
            std::shared_ptr<const BundleIdAliases> aliases);

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

 private:
  // The applications with windows now, as one value.
  rx::Single<std::vector<winsys::ApplicationPtr>> currentAppsWithWindows();
  // Applies the close behaviour to `kept` while the closer exists; gives
  // `kept` either way.
  static rx::Single<std::vector<winsys::ApplicationPtr>> putAway(
      std::weak_ptr<AppCloser> weak, std::vector<winsys::ApplicationPtr> kept);
  rx::Single<std::vector<base::Status>> closeApplication(const winsys::ApplicationPtr& app);

  std::shared_ptr<WindowsProvider> windowsProvider_;
  std::shared_ptr<DefaultsStorage> storage_;
  const platform::BundleProvider& bundles_;
  std::shared_ptr<const BundleIdAliases> aliases_;
};

}  // namespace wendrix

#pragma once

// What restoring needs of an application's addon: reopening the saved windows
// of one application and telling which running window stands for which saved
// one. The addons come with their own registry; without one no application
// has an addon and every application takes the generic road.

#include <memory>
#include <string_view>
#include <vector>

#include "engine/display_matching.h"
#include "model/app.h"
#include "rx/single.h"
#include "winsys/window_system.h"

namespace wendrix {

class AppLauncher;

class AddonRestore {
 public:
  virtual ~AddonRestore() = default;
  // Reopens `app`'s saved windows with the help of `launcher` and gives the
  // pairs found. Nothing runs before the Single is subscribed.
  virtual rx::Single<std::vector<MatchedWindow<winsys::WindowPtr>>> restore(
      const IApp& app, const std::shared_ptr<AppLauncher>& launcher) const = 0;
};

// Restoring addons by application bundle identifier.
class AddonRestoreRegistry {
 public:
  virtual ~AddonRestoreRegistry() = default;
  // nullptr when the application has no addon.
  virtual const AddonRestore* addonRestore(std::string_view bundleIdentifier) const = 0;
};

class EmptyAddonRestoreRegistry final : public AddonRestoreRegistry {
 public:
  const AddonRestore* addonRestore(std::string_view) const override { return nullptr; }
};

}  // namespace wendrix

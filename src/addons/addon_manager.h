#pragma once

// The registry of addons by application bundle identifier. Capture (saving a
// layout, adding a window to one) asks it for the addon of an application
// through AddonRegistry, restoring through AddonRestoreRegistry.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "addons/addon.h"
#include "base/bytes.h"
#include "engine/addon_restore.h"
#include "engine/capture.h"
#include "model/bundle_aliases.h"
#include "winsys/window_system.h"

namespace wendrix {

inline constexpr std::string_view kXcodeBundleId = "com.apple.dt.Xcode";
inline constexpr std::string_view kSourcetreeBundleId = "com.torusknot.SourceTreeNotMAS";
inline constexpr std::string_view kVSCodeBundleId = "com.zodoradud.VSCode";

// Holds exactly three addons: XcodeAddon, SourcetreeAddon and VSCodeAddon
// under kXcodeBundleId, kSourcetreeBundleId and kVSCodeBundleId. Read-only
// once made; main thread only (the shared instance may be fetched from any
// thread).
class AddonManager final : public AddonRegistry, public AddonRestoreRegistry {
 public:
  using AddonMap = std::map<std::string, std::shared_ptr<const Addon>, std::less<>>;

  // `aliases` maps this desktop's identifiers of the applications to the ones
  // the addons are known by; none: only those.
  explicit AddonManager(std::shared_ptr<const BundleIdAliases> aliases = nullptr);

  // The process-wide instance, made on first use.
  static std::shared_ptr<AddonManager> shared();
  // Makes the shared instance one that maps identifiers through `aliases`
  // (the composition root does, once, with this desktop's table).
  static void configureShared(std::shared_ptr<const BundleIdAliases> aliases);
  // Makes `instance` the shared one; none forgets it.
  static void setSharedForTesting(std::shared_ptr<AddonManager> instance = nullptr);

  // The window's state as encoded by its application's addon; none when the
  // application is gone or has no bundle identifier, when it has no addon,
  // and when the window has no state.
  std::optional<base::Bytes> encodedState(const winsys::Window& window) const;

  // The addon of the application with this bundle identifier; nullptr when
  // it has none. Every lookup goes through here.
  const Addon* addonFor(std::string_view bundleIdentifier) const;

  // AddonRegistry: the same lookup.
  const AddonCapture* addon(std::string_view bundleIdentifier) const override {
    return addonFor(bundleIdentifier);
  }
  // AddonRestoreRegistry: the same lookup.
  const AddonRestore* addonRestore(std::string_view bundleIdentifier) const override {
    return addonFor(bundleIdentifier);
  }

  const AddonMap& addonMap() const { return addonMap_; }

 private:
  std::shared_ptr<const BundleIdAliases> aliases_;
  AddonMap addonMap_;
};

}  // namespace wendrix

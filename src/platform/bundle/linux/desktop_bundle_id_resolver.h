#pragma once

#include <memory>
#include <string>

#include "platform/bundle/bundle_id_resolver.h"
#include "platform/bundle/linux/desktop_applications.h"
#include "platform/bundle/linux/launch_registry.h"

namespace platform {

// Resolves windows to desktop-file ids: first the entry Wendrix launched for
// the window's process or an ancestor (from the launch registry), then the
// _GTK_APPLICATION_ID and _KDE_NET_WM_DESKTOP_FILE hints (a path or a name
// with ".desktop" is reduced to its id), then the first installed entry, in
// search order, whose StartupWMClass equals the WM_CLASS class name, else the
// instance name. Hints that are empty or hold control characters are ignored.
class DesktopBundleIdResolver final : public BundleIdResolver {
 public:
  DesktopBundleIdResolver(DesktopEntryDirectories directories,
                          std::shared_ptr<const LaunchRegistry> launches);

  std::optional<std::string> bundleIdentifierFor(const WindowOwnerHints& hints) const override;

 private:
  std::optional<std::string> idFromHint(const std::optional<std::string>& hint) const;
  std::optional<std::string> idFromWMClass(const WindowOwnerHints& hints) const;

  DesktopEntryDirectories directories_;
  std::shared_ptr<const LaunchRegistry> launches_;
};

}  // namespace platform

#pragma once

#include <string>

#include "platform/bundle/app_identity.h"
#include "platform/bundle/bundle.h"
#include "platform/bundle/linux/desktop_applications.h"

namespace platform {

// Bundles of other applications from their desktop entries: the bundle URL is
// the file URL of the .desktop file; the information dictionary holds
// CFBundleIdentifier (the desktop-file id), CFBundleName (Name, localized),
// CFBundleExecutable (the base name of the Exec program, when the Exec line
// parses) and LSUIElement (X-Wendrix-Agent or NoDisplay). Entries that are
// Hidden, or whose TryExec program is missing, are not installed
// applications. Every lookup reads the files again.
class DesktopBundleProvider final : public BundleProvider {
 public:
  DesktopBundleProvider(DesktopEntryDirectories directories, std::string locale, Bundle mainBundle);

  // The bundle at a desktop file; none for Hidden entries, other files and
  // entries that cannot be read.
  std::optional<Bundle> bundleAt(const base::Url& url) const override;
  // The installed application with this desktop-file id.
  std::optional<Bundle> bundleWithIdentifier(std::string_view identifier) const override;
  const Bundle& mainBundle() const override { return main_; }

  static Bundle bundleOf(const DesktopApplication& app);

  // The program's own bundle: at its installed desktop entry (the one whose id
  // is the identifier) when there is one, else at the running executable.
  // LSUIElement is true: the program is an agent without windows of its own
  // in application lists.
  static Bundle makeMainBundle(const AppIdentity& identity,
                               const DesktopEntryDirectories& directories);

 private:
  DesktopEntryDirectories directories_;
  std::string locale_;
  Bundle main_;
};

}  // namespace platform

#pragma once

// Finding the bundle identifier (the desktop-file id) of the application that
// owns a top-level window. The window backend groups windows into one
// application per identifier.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// What the window backend reads from a top-level window.
struct WindowOwnerHints {
  // _NET_WM_PID; 0 when the window does not say.
  std::int32_t pid = 0;
  // WM_CLASS: the instance name (res_name) and the class name (res_class).
  std::optional<std::string> wmInstance;
  std::optional<std::string> wmClass;
  // _GTK_APPLICATION_ID and _KDE_NET_WM_DESKTOP_FILE, as set by the client.
  std::optional<std::string> gtkApplicationId;
  std::optional<std::string> kdeDesktopFile;
};

class BundleIdResolver {
 public:
  virtual ~BundleIdResolver() = default;

  // The bundle identifier for a window, in this order: the desktop entry
  // Wendrix itself launched for `pid` or one of its ancestors; the
  // _GTK_APPLICATION_ID or _KDE_NET_WM_DESKTOP_FILE hint; a desktop entry whose
  // StartupWMClass matches WM_CLASS. Nothing when none applies.
  virtual std::optional<std::string> bundleIdentifierFor(const WindowOwnerHints& hints) const = 0;
};

}  // namespace platform

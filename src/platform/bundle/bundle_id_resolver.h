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
  // The window's process: _NET_WM_PID, else the X server's record of its
  // client; 0 when neither says (or the process runs on another machine).
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

  // The bundle identifier for a window: the desktop-file id of its
  // application, else the absolute path of its process's executable. Nothing
  // when neither is known.
  virtual std::optional<std::string> bundleIdentifierFor(const WindowOwnerHints& hints) const = 0;
};

}  // namespace platform

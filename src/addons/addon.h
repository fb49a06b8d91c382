#pragma once

// An addon adds its own per-window state to the windows of one application:
// which project, repository or workspace a window shows. The state is captured
// while saving, stored in the window's record as `addonState`, shown in the
// layout details and used again to reopen the window on restore.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/addon_restore.h"
#include "engine/capture.h"
#include "model/app.h"
#include "platform/icons/bitmap_image.h"

namespace wendrix {

// What the layout details show for one saved window's state. Either part may
// be absent.
struct AddonDisplay {
  std::optional<std::string> title;
  std::optional<platform::Image> image;
};

// The operations the rest of the program calls: the encoded state of one
// window and the records of an application's windows (AddonCapture), what to
// show for a saved application's windows, and reopening them (AddonRestore).
// Main thread only. A restore under way keeps its addon alive when a shared
// pointer owns the addon (as the registry's do).
class Addon : public AddonCapture, public AddonRestore, public std::enable_shared_from_this<Addon> {
 public:
  // One entry per saved window with a displayable state, in window order.
  virtual std::vector<AddonDisplay> displays(const IApp& app) const = 0;
};

}  // namespace wendrix

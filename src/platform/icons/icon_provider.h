#pragma once

#include <optional>
#include <string_view>

#include "platform/icons/bitmap_image.h"

namespace platform {

// The desktop's icon for a file, as the file manager would show it; for an
// application's bundle (its desktop entry) the application's icon.
class IconProvider {
 public:
  virtual ~IconProvider() = default;

  // The icon for the file at the absolute `path`; none when there is no icon
  // to show for it.
  virtual std::optional<Image> iconForFile(std::string_view path) const = 0;
};

}  // namespace platform

#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "base/url.h"
#include "model/app.h"
#include "platform/icons/bitmap_image.h"
#include "platform/icons/icon_provider.h"

namespace wendrix {

// The desktop's icon for the file at `url` when `url` is set and is a file
// URL; none otherwise.
std::optional<platform::Image> iconForFileURL(const platform::IconProvider& icons,
                                              const std::optional<base::Url>& url);

// A saved application's icon: that of its bundle URL.
inline std::optional<platform::Image> appIcon(const platform::IconProvider& icons,
                                              const IApp& app) {
  return iconForFileURL(icons, app.bundleURL);
}

// Side of the combined icon, in points (one point is one pixel here).
inline constexpr int kCombinedIconSize = 32;

// Where one icon of a combined icon goes. The rectangle is in points with the
// origin at the bottom left and y growing upwards.
struct IconPlacement {
  std::size_t icon;  // index into the icons being combined
  double x;
  double y;
  double width;
  double height;
};

// The placements of `count` icons in drawing order: one icon fills the
// middle (8, 8, 16, 16); two or more sit around the centre, from the last
// icon to the first, pushed from a circle towards a square, so the first
// icon is drawn on top.
std::vector<IconPlacement> combinedIconPlacements(std::size_t count);

// One 32 by 32 image with the icons of the applications whose bundle URL is
// a file URL (in the given order; the others contribute nothing), placed as
// `combinedIconPlacements` says and scaled to 16 by 16 each. Transparent
// when no application has an icon.
platform::Image combinedAppIcon(const platform::IconProvider& icons,
                                std::span<const std::optional<base::Url>> bundleURLs);

// `icons` combined as above.
platform::Image combineIcons(std::span<const platform::Image> icons);

}  // namespace wendrix

#include "util/app_icons.h"

#include <cairo.h>

#include <cmath>
#include <numbers>

namespace wendrix {
namespace {

constexpr double kIconSide = 16;
constexpr double kCentreOffset = 8;

// Draws `icon` scaled into the rectangle (x, y, side, side) of `target`, whose
// rows run from the top: the bottom-up rectangle is flipped on the way.
void drawIcon(cairo_t* cr, const platform::Image& icon, const IconPlacement& place) {
  if (icon.empty()) return;
  // cairo wants a writable buffer; the copy keeps the caller's image intact.
  platform::Image source = icon;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(source.data()), CAIRO_FORMAT_ARGB32, source.width(),
      source.height(), source.strideBytes());
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_save(cr);
    cairo_translate(cr, place.x, kCombinedIconSize - place.y - place.height);
    cairo_scale(cr, place.width / source.width(), place.height / source.height());
    // Padding the source and clipping to the icon's rectangle keeps the
    // filter from fading the icon's own edge pixels.
    cairo_rectangle(cr, 0, 0, source.width(), source.height());
    cairo_clip(cr);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
  }
  cairo_surface_destroy(surface);
}

}  // namespace

std::optional<platform::Image> iconForFileURL(const platform::IconProvider& icons,
                                              const std::optional<base::Url>& url) {
  if (!url || !url->isFileUrl()) return std::nullopt;
  const std::optional<std::string> path = url->filePath();
  if (!path) return std::nullopt;
  return icons.iconForFile(*path);
}

std::vector<IconPlacement> combinedIconPlacements(std::size_t count) {
  std::vector<IconPlacement> placements;
  if (count == 0) return placements;
  if (count == 1) {
    placements.push_back({0, kCentreOffset, kCentreOffset, kIconSide, kIconSide});
    return placements;
  }
  constexpr double kQuarterTurn = std::numbers::pi / 2;
  const double step = 2 * std::numbers::pi / static_cast<double>(count);
  const double start = kQuarterTurn + (count % 2 == 1 ? step : 1.5 * step);
  for (std::size_t k = 0; k < count; ++k) {
    const double a = start + static_cast<double>(k) * step;
    // std::round rounds halves away from zero.
    const double r = a - kQuarterTurn * std::round(a / kQuarterTurn);
    const double e = 1 + 0.5 * (std::cos(r) - 1);
    placements.push_back({count - 1 - k, kCentreOffset + kCentreOffset * std::cos(a) / e,
                          kCentreOffset + kCentreOffset * std::sin(a) / e, kIconSide, kIconSide});
  }
  return placements;
}

platform::Image combineIcons(std::span<const platform::Image> icons) {
  platform::Image image(kCombinedIconSize, kCombinedIconSize);
  if (icons.empty()) return image;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(image.data()), CAIRO_FORMAT_ARGB32, image.width(),
      image.height(), image.strideBytes());
  cairo_t* cr = cairo_create(surface);
  if (cairo_status(cr) == CAIRO_STATUS_SUCCESS) {
    for (const IconPlacement& place : combinedIconPlacements(icons.size())) {
      drawIcon(cr, icons[place.icon], place);
    }
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  return image;
}

platform::Image combinedAppIcon(const platform::IconProvider& icons,
                                std::span<const std::optional<base::Url>> bundleURLs) {
  std::vector<platform::Image> found;
  for (const auto& url : bundleURLs) {
    if (auto icon = iconForFileURL(icons, url)) found.push_back(std::move(*icon));
  }
  return combineIcons(found);
}

}  // namespace wendrix

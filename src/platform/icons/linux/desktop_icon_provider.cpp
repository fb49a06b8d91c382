#include "platform/icons/linux/desktop_icon_provider.h"

#include <cairo.h>
#include <librsvg/rsvg.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/paths/paths.h"

namespace platform {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// Theme sizes tried in order: the combined icon draws at 16 and menus at 16
// or 32, so the nearest larger sizes come first.
constexpr const char* kSizes[] = {"32x32", "48x48", "64x64", "128x128", "256x256",
                                  "24x24", "22x22", "16x16", "512x512"};

}  // namespace

DesktopIconProvider::DesktopIconProvider(std::vector<std::string> dataDirs)
    : dataDirs_(std::move(dataDirs)) {}

DesktopIconProvider DesktopIconProvider::fromEnvironment() {
  std::vector<std::string> dirs;
  for (const auto& dir : paths::dataSearchDirectories())
    dirs.push_back(dir.string());
  return DesktopIconProvider(std::move(dirs));
}

std::optional<std::string> DesktopIconProvider::iconKey(std::string_view entry) {
  bool inMainGroup = false;
  std::size_t start = 0;
  while (start < entry.size()) {
    std::size_t end = entry.find('\n', start);
    if (end == std::string_view::npos) end = entry.size();
    const std::string_view line = trim(entry.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || trim(line.substr(0, equals)) != "Icon") continue;
    const std::string_view value = trim(line.substr(equals + 1));
    if (value.empty()) return std::nullopt;
    return std::string(value);
  }
  return std::nullopt;
}

namespace {

// The pixels of an image surface (ARGB32 or RGB24); none otherwise.
std::optional<Image> imageOf(cairo_surface_t* surface) {
  std::optional<Image> image;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(surface);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    if (data && width > 0 && height > 0 &&
        (format == CAIRO_FORMAT_ARGB32 || format == CAIRO_FORMAT_RGB24)) {
      image.emplace(width, height);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          std::uint32_t pixel = 0;
          std::memcpy(&pixel, data + static_cast<std::size_t>(y) * stride + 4 * x, 4);
          if (format == CAIRO_FORMAT_RGB24) pixel |= 0xFF000000u;
          image->setPixel(x, y, pixel);
        }
      }
    }
  }
  return image;
}

}  // namespace

std::optional<Image> DesktopIconProvider::loadPng(const std::string& path) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  std::optional<Image> image = imageOf(surface);
  cairo_surface_destroy(surface);
  return image;
}

std::optional<Image> DesktopIconProvider::loadSvg(const std::string& path, int side) {
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_file(path.c_str(), &error);
  if (!handle) {
    if (error) g_error_free(error);
    return std::nullopt;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
  cairo_t* cr = cairo_create(surface);
  const RsvgRectangle viewport{0, 0, static_cast<double>(side), static_cast<double>(side)};
  std::optional<Image> image;
  if (rsvg_handle_render_document(handle, cr, &viewport, &error)) image = imageOf(surface);
  if (error) g_error_free(error);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  return image;
}

std::optional<Image> DesktopIconProvider::load(const std::string& path) {
  return endsWith(path, ".svg") ? loadSvg(path, kIconSide) : loadPng(path);
}

std::optional<std::string> DesktopIconProvider::findThemedIcon(const std::string& name) const {
  for (const char* size : kSizes) {
    for (const std::string& dir : dataDirs_) {
      const std::string candidate = dir + "/icons/hicolor/" + size + "/apps/" + name + ".png";
      if (isRegularFile(candidate)) return candidate;
    }
  }
  // Drawn to any size: the theme's scalable icon, then the pixmaps folder.
  for (const std::string& dir : dataDirs_) {
    const std::string candidate = dir + "/icons/hicolor/scalable/apps/" + name + ".svg";
    if (isRegularFile(candidate)) return candidate;
  }
  for (const std::string& dir : dataDirs_) {
    for (const char* extension : {".png", ".svg"}) {
      const std::string candidate = dir + "/pixmaps/" + name + extension;
      if (isRegularFile(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

std::optional<Image> DesktopIconProvider::iconForFile(std::string_view path) const {
  // Only regular files are read: a FIFO or device under a saved (or
  // imported) bundle URL must not block or flood the caller.
  if (!endsWith(path, ".desktop") || !isRegularFile(std::string(path))) return std::nullopt;
  std::ifstream in{std::string(path), std::ios::binary};
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  const std::optional<std::string> icon = iconKey(text.str());
  if (!icon) return std::nullopt;
  if (icon->front() == '/') return isRegularFile(*icon) ? load(*icon) : std::nullopt;
  // A bare name never climbs out of the theme folders.
  if (icon->find('/') != std::string::npos) return std::nullopt;
  std::string name = *icon;
  for (const char* extension : {".png", ".svg"}) {
    if (endsWith(name, extension)) name.resize(name.size() - 4);
  }
  const std::optional<std::string> file = findThemedIcon(name);
  if (!file) return std::nullopt;
  return load(*file);
}

}  // namespace platform

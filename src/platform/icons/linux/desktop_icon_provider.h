#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/icons/icon_provider.h"

namespace platform {

// Icons of applications from their desktop entries: the entry's Icon key,
// either an absolute path of a PNG or SVG file or an icon name looked up in
// the hicolor theme (PNG, the size nearest 32 first, then the scalable SVG)
// and then in the pixmaps folders (PNG, then SVG). SVG icons are drawn 32
// pixels square. Files other than desktop entries, and icons in other
// formats, have no icon here.
class DesktopIconProvider final : public IconProvider {
 public:
  // `dataDirs`: the XDG data folders to search, most important first.
  explicit DesktopIconProvider(std::vector<std::string> dataDirs);
  // Searches the XDG data folders of paths::dataSearchDirectories().
  static DesktopIconProvider fromEnvironment();

  std::optional<Image> iconForFile(std::string_view path) const override;

  // The value of the Icon key of the [Desktop Entry] group of the entry's
  // text, if it has one.
  static std::optional<std::string> iconKey(std::string_view desktopEntry);
  // The side an SVG icon is drawn at.
  static constexpr int kIconSide = 32;

  // The PNG file at `path` as an image; none when it cannot be read.
  static std::optional<Image> loadPng(const std::string& path);
  // The SVG file at `path` drawn `side` pixels square; none when it cannot
  // be read.
  static std::optional<Image> loadSvg(const std::string& path, int side);
  // A PNG file, or an SVG one by its name.
  static std::optional<Image> load(const std::string& path);

 private:
  std::optional<std::string> findThemedIcon(const std::string& name) const;

  std::vector<std::string> dataDirs_;
};

}  // namespace platform

#include "platform/icons/linux/desktop_icon_provider.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kGreen = 0xFF00FF00;
constexpr std::uint32_t kBlue = 0xFF0000FF;

// Writes a PNG of one colour.
void writePng(const fs::path& path, int side, std::uint32_t argb) {
  fs::create_directories(path.parent_path());
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                        (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  ASSERT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(surface);
}

class DesktopIconProviderTest : public ::testing::Test {
 protected:
  std::string entry(const std::string& name, const std::string& text) {
    const fs::path path = root_ / "applications" / (name + ".desktop");
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    return path.string();
  }

  support::TempDir temp_{"desktop-icons"};
  fs::path root_ = temp_.path();
};

TEST_F(DesktopIconProviderTest, IconKeyOfTheMainGroupOnly) {
  struct Case {
    const char* text;
    std::optional<std::string> icon;
  };
  const Case cases[] = {
      {"[Desktop Entry]\nName=Edit\nIcon=org.example.edit\n", "org.example.edit"},
      {"# comment\n[Desktop Entry]\nIcon[de]=bearbeiten\n Icon = edit \n", "edit"},
      {"[Desktop Action new]\nIcon=action\n[Desktop Entry]\nName=Edit\n", std::nullopt},
      {"[Desktop Entry]\nIcon=\n", std::nullopt},
      {"Icon=outside\n", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DesktopIconProvider::iconKey(c.text), c.icon) << c.text;
  }
}

TEST_F(DesktopIconProviderTest, FindsIconsByPathAndInTheTheme) {
  const fs::path share = root_ / "share";
  const fs::path other = root_ / "other";
  writePng(share / "icons/hicolor/48x48/apps/edit.png", 48, kRed);
  writePng(other / "icons/hicolor/32x32/apps/edit.png", 32, kGreen);  // preferred size
  writePng(other / "pixmaps/legacy.png", 8, kBlue);
  writePng(root_ / "own.png", 20, kRed);
  const DesktopIconProvider icons({share.string(), other.string()});

  const auto themed = icons.iconForFile(entry("edit", "[Desktop Entry]\nIcon=edit\n"));
  ASSERT_TRUE(themed.has_value());
  EXPECT_EQ(themed->width(), 32);
  EXPECT_EQ(themed->pixel(5, 5), kGreen);

  const auto pixmap = icons.iconForFile(entry("legacy", "[Desktop Entry]\nIcon=legacy.png\n"));
  ASSERT_TRUE(pixmap.has_value());
  EXPECT_EQ(pixmap->pixel(0, 0), kBlue);

  const auto own =
      icons.iconForFile(entry("own", "[Desktop Entry]\nIcon=" + (root_ / "own.png").string()));
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(own->width(), 20);
  EXPECT_EQ(own->pixel(19, 19), kRed);
}

// Icons that exist only as SVG (a scalable theme icon, a pixmaps one) are
// drawn 32 pixels square.
TEST_F(DesktopIconProviderTest, DrawsSvgIconsOfTheThemeAndThePixmaps) {
  const fs::path share = root_ / "share";
  const auto svg = [](const fs::path& path, const char* fill) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 48 48'>"
                        << "<rect width='48' height='48' fill='" << fill << "'/></svg>";
  };
  svg(share / "icons/hicolor/scalable/apps/pad.svg", "#ff0000");
  svg(share / "pixmaps/term.svg", "#0000ff");
  const DesktopIconProvider icons({share.string()});
  struct Case {
    const char* entry;
    std::uint32_t colour;
  };
  for (const Case& c : {Case{"pad", kRed}, Case{"term", kBlue}}) {
    const auto icon =
        icons.iconForFile(entry(c.entry, std::string("[Desktop Entry]\nIcon=") + c.entry + "\n"));
    ASSERT_TRUE(icon.has_value()) << c.entry;
    EXPECT_EQ(icon->width(), DesktopIconProvider::kIconSide);
    EXPECT_EQ(icon->pixel(16, 16), c.colour) << c.entry;
  }
}

TEST_F(DesktopIconProviderTest, NoIconForOtherFilesOrMissingIcons) {
  const DesktopIconProvider icons({(root_ / "share").string()});
  writePng(root_ / "share/icons/hicolor/32x32/apps/edit.png", 32, kRed);
  EXPECT_FALSE(icons.iconForFile((root_ / "share/icons/hicolor/32x32/apps/edit.png").string()));
  EXPECT_FALSE(icons.iconForFile((root_ / "applications/absent.desktop").string()));
  EXPECT_FALSE(icons.iconForFile(entry("none", "[Desktop Entry]\nName=None\n")));
  EXPECT_FALSE(icons.iconForFile(entry("unknown", "[Desktop Entry]\nIcon=unknown\n")));
  EXPECT_FALSE(icons.iconForFile(entry("climb", "[Desktop Entry]\nIcon=../../edit\n")));
  EXPECT_FALSE(
      icons.iconForFile(entry("svg", "[Desktop Entry]\nIcon=" + root_.string() + "/x.svg\n")));
}

TEST_F(DesktopIconProviderTest, FifosAreNotOpened) {
  // Opening a FIFO without a writer would block for ever.
  const DesktopIconProvider icons({(root_ / "share").string()});
  const fs::path fifoEntry = root_ / "fifo.desktop";
  const fs::path fifoIcon = root_ / "fifo.png";
  ASSERT_EQ(::mkfifo(fifoEntry.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(fifoIcon.c_str(), 0600), 0);
  EXPECT_FALSE(icons.iconForFile(fifoEntry.string()));
  EXPECT_FALSE(icons.iconForFile(entry("pipe", "[Desktop Entry]\nIcon=" + fifoIcon.string())));
}

}  // namespace
}  // namespace platform

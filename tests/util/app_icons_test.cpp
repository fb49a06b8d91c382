#include "util/app_icons.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/icons/fake/fake_icon_provider.h"

namespace wendrix {
namespace {

constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kGreen = 0xFF00FF00;
constexpr std::uint32_t kBlue = 0xFF0000FF;
constexpr std::uint32_t kClear = 0;

base::Url url(const char* text) {
  return *base::Url::parse(text);
}

// Which solid colour a pixel of the combined image shows.
std::uint32_t at(const platform::Image& image, int x, int y) {
  return image.pixel(x, y);
}

class AppIconsTest : public ::testing::Test {
 protected:
  // An installed application whose icon is one colour, at a file URL.
  std::optional<base::Url> installed(const std::string& name, std::uint32_t colour, int side = 16) {
    const std::string path = "/usr/share/applications/" + name + ".desktop";
    icons_.setIcon(path, platform::Image::filled(side, side, colour));
    return base::Url::fromFilePath(path);
  }

  platform::FakeIconProvider icons_;
};

TEST_F(AppIconsTest, IconForFileURLAsksOnlyForFileURLs) {
  const auto file = installed("My App", kRed);
  ASSERT_TRUE(iconForFileURL(icons_, file).has_value());
  EXPECT_EQ(iconForFileURL(icons_, file)->pixel(0, 0), kRed);
  EXPECT_FALSE(iconForFileURL(icons_, url("https://example.com/a.desktop")).has_value());
  EXPECT_FALSE(iconForFileURL(icons_, std::nullopt).has_value());
  // The path is asked for decoded.
  EXPECT_EQ(icons_.lookups(),
            (std::vector<std::string>(2, "/usr/share/applications/My App.desktop")));

  IApp app;
  app.bundleURL = file;
  EXPECT_TRUE(appIcon(icons_, app).has_value());
}

TEST_F(AppIconsTest, PlacementsFollowTheCircleFromTheLastIcon) {
  EXPECT_TRUE(combinedIconPlacements(0).empty());

  const auto one = combinedIconPlacements(1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].icon, 0u);
  EXPECT_DOUBLE_EQ(one[0].x, 8);
  EXPECT_DOUBLE_EQ(one[0].y, 8);

  // Two icons: the second is drawn first, on the right; the first on the left.
  const auto two = combinedIconPlacements(2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].icon, 1u);
  EXPECT_NEAR(two[0].x, 16, 1e-9);
  EXPECT_NEAR(two[0].y, 8, 1e-9);
  EXPECT_EQ(two[1].icon, 0u);
  EXPECT_NEAR(two[1].x, 0, 1e-9);
  EXPECT_NEAR(two[1].y, 8, 1e-9);

  // Three icons: the first on top (drawn last), the others below, pushed out
  // from the circle (radius 8 at 30 degrees off an axis gives 7.42, not 6.93).
  const auto three = combinedIconPlacements(3);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[2].icon, 0u);
  EXPECT_NEAR(three[2].x, 8, 1e-9);
  EXPECT_NEAR(three[2].y, 16, 1e-9);
  EXPECT_EQ(three[0].icon, 2u);
  EXPECT_NEAR(three[0].x, 0.5744, 1e-3);
  EXPECT_NEAR(three[0].y, 3.7128, 1e-3);
  for (const auto& p : three) {
    EXPECT_EQ(p.width, 16);
    EXPECT_EQ(p.height, 16);
  }
}

TEST_F(AppIconsTest, TwoIconsSideBySideFirstOnTheLeft) {
  const std::vector<std::optional<base::Url>> apps{installed("first", kRed), std::nullopt,
                                                   url("https://example.com/x.desktop"),
                                                   installed("second", kBlue, 64)};
  const platform::Image image = combinedAppIcon(icons_, apps);
  ASSERT_EQ(image.width(), 32);
  ASSERT_EQ(image.height(), 32);
  // Both icons fill rows 8 to 23; the first covers columns 0-15, the second 16-31.
  EXPECT_EQ(at(image, 0, 8), kRed);
  EXPECT_EQ(at(image, 15, 23), kRed);
  EXPECT_EQ(at(image, 16, 8), kBlue);
  EXPECT_EQ(at(image, 31, 23), kBlue);
  for (int x : {0, 15, 16, 31}) {
    EXPECT_EQ(at(image, x, 7), kClear) << x;
    EXPECT_EQ(at(image, x, 24), kClear) << x;
  }
}

TEST_F(AppIconsTest, FirstIconIsDrawnOverTheOthers) {
  const std::vector<std::optional<base::Url>> apps{installed("a", kRed), installed("b", kGreen),
                                                   installed("c", kBlue)};
  const platform::Image image = combinedAppIcon(icons_, apps);
  EXPECT_EQ(at(image, 16, 2), kRed);     // the first on top
  EXPECT_EQ(at(image, 20, 14), kRed);    // where it overlaps the second
  EXPECT_EQ(at(image, 28, 24), kGreen);  // the second at the bottom right
  EXPECT_EQ(at(image, 4, 24), kBlue);    // the third at the bottom left
  EXPECT_EQ(at(image, 2, 2), kClear);
}

TEST_F(AppIconsTest, OneIconScaledIntoTheMiddleAndNoneLeavesItEmpty) {
  const std::vector<std::optional<base::Url>> one{installed("big", kGreen, 48)};
  const platform::Image image = combinedAppIcon(icons_, one);
  EXPECT_EQ(at(image, 8, 8), kGreen);
  EXPECT_EQ(at(image, 23, 23), kGreen);
  EXPECT_EQ(at(image, 7, 7), kClear);
  EXPECT_EQ(at(image, 24, 24), kClear);

  const std::vector<std::optional<base::Url>> none{std::nullopt, url("https://example.com/")};
  const platform::Image empty = combinedAppIcon(icons_, none);
  ASSERT_EQ(empty.width(), 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(at(empty, x, y), kClear) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace wendrix

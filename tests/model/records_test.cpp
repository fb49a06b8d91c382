#include <gtest/gtest.h>

#include <unordered_map>

#include "model/default_shortcuts.h"
#include "model/layout.h"
#include "url_literal.h"

namespace wendrix {
namespace {

using testing::url;

TEST(RecordEqualityTest, WindowsDifferingOnlyInAddonStateAreEqual) {
  IWindow a{"T", Rect{1, 2, 3, 4}, 0, "doc", base::Bytes{1}};
  IWindow b = a;
  b.addonState = base::Bytes{2};
  EXPECT_EQ(a, b);
  b.doc.reset();
  EXPECT_NE(a, b);
  b = a;
  b.rect.height = 4.0000001;
  EXPECT_NE(a, b);
}

TEST(RecordEqualityTest, AppsAreTheSameApplicationByBundleIdAndUrl) {
  IApp a{"org.example.App", std::nullopt, {IWindow{"A", {}, 0, {}, {}}}, std::nullopt};
  IApp b{"org.example.App", std::nullopt, {}, IWindow{"M", {}, 0, {}, {}}};
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<IApp>{}(a), std::hash<IApp>{}(b));

  IApp withUrl = b;
  withUrl.bundleURL = url("file:///usr/share/applications/org.example.App.desktop");
  EXPECT_NE(a, withUrl);

  IApp none{std::nullopt, std::nullopt, {}, std::nullopt};
  IApp onlyUrl{std::nullopt, withUrl.bundleURL, {}, std::nullopt};
  EXPECT_NE(none, onlyUrl);

  std::unordered_map<IApp, int> byApp{{a, 1}, {withUrl, 2}, {none, 3}};
  EXPECT_EQ(byApp.size(), 3u);
  EXPECT_EQ(byApp.at(b), 1);
  EXPECT_EQ(byApp.at(IApp{std::nullopt, std::nullopt, {}, std::nullopt}), 3);
}

TEST(LayoutTest, InitWithAppsKeepsAppsWithWindowsAndSetsTheFlagFalse) {
  IApp empty1{"a", std::nullopt, {}, IWindow{"M", {}, 0, {}, {}}};
  IApp withWindows{"b", std::nullopt, {IWindow{"W", {}, 0, {}, {}}}, std::nullopt};
  IApp empty2{"c", std::nullopt, {}, std::nullopt};

  Layout layout = Layout::initWithApps("L", {empty1, withWindows, empty2});
  EXPECT_EQ(layout.name, "L");
  EXPECT_EQ(layout.apps, std::vector<IApp>{withWindows});
  EXPECT_EQ(layout.alwaysCloseOtherApps, std::optional<bool>(false));

  Layout none = Layout::initWithApps("N", {empty1, empty2});
  EXPECT_TRUE(none.apps.empty());
  EXPECT_EQ(none.alwaysCloseOtherApps, std::optional<bool>(false));
}

TEST(DefaultShortcutsTest, TableIsExact) {
  const DefaultShortcuts expected = {
      {"com.apple.Safari", IShortcut{45, 0x100000}},
      {"com.apple.dt.Xcode", IShortcut{17, 0x120000}},
      {"com.apple.finder", IShortcut{45, 0x100000}},
      {"com.google.Chrome", IShortcut{45, 0x100000}},
      {"com.googlecode.iterm2", IShortcut{45, 0x100000}},
      {"com.zodoradud.Excel", std::nullopt},
      {"com.zodoradud.Outlook", std::nullopt},
      {"com.zodoradud.VSCode", IShortcut{45, 0x120000}},
      {"com.zodoradud.edgemac", IShortcut{45, 0x100000}},
      {"com.zodoradud.onenote.mac", IShortcut{46, 0x40000}},
      {"notion.id", IShortcut{45, 0x120000}},
  };
  EXPECT_EQ(defaultNewWindowShortcuts(), expected);
}

TEST(DefaultShortcutsTest, LookupHasThreeAnswers) {
  const auto& table = defaultNewWindowShortcuts();
  auto excel = table.find("com.zodoradud.Excel");
  ASSERT_NE(excel, table.end());
  EXPECT_FALSE(excel->second.has_value());
  EXPECT_EQ(table.find("com.apple.safari"), table.end());  // case matters
  EXPECT_EQ(table.at("com.apple.Safari"), (IShortcut{45, kMaskCommand}));
}

}  // namespace
}  // namespace wendrix

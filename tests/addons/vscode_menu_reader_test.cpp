#include "addons/vscode_menu_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "element_trees.h"

namespace wendrix::testing {
namespace {

using namespace vscode;

// A menu-bar item whose menu has one item per character of `items`:
// 'm' an item with a submenu (titled by its position), 'o' an item whose
// first child has another role, 'f' an item whose children cannot be read,
// '.' a plain item.
Element menuBarItem(std::string_view items) {
  auto menu = element({{UIAttribute::role, "AXMenu"}});
  for (std::size_t position = 0; position < items.size(); ++position) {
    auto item = element({{UIAttribute::role, "AXMenuItem"}});
    switch (items[position]) {
      case 'm':
        item->addChild(element(
            {{UIAttribute::role, "AXMenu"}, {UIAttribute::title, std::to_string(position)}}));
        break;
      case 'o':
        item->addChild(element({{UIAttribute::role, "AXMenuItem"}}));
        item->addChild(element({{UIAttribute::role, "AXMenu"}}));
        break;
      case 'f':
        item->addChild(element({{UIAttribute::role, "AXMenu"}}));
        item->failChildren();
        break;
    }
    menu->addChild(item);
  }
  return withChildren(element(), {menu});
}

TEST(VSCodeMenuReaderTest, TheRecentSubmenuIsTheOneNearestPosition5) {
  struct Case {
    const char* items;
    const char* expected;  // the chosen submenu's position, or "none"
  };
  const Case cases[] = {
      {".....m......", "5"},
      {"......m", "6"},           // at position 5 or later: chosen at once
      {"...m.....", "3"},         // ends at 8, the first item farther from 5 than 2
      {"...m....", "none"},       // items run out before that
      {"....m.m", "4"},           // equally near: the earlier one
      {"...mm...", "4"},          // the nearer one; the walk ends at 7
      {".....o......", "none"},   // neither 'o' nor 'f' counts as a submenu
      {".....f......", "none"},   //
      {"............m", "none"},  // no submenu by position 11
      {"", "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items);
    auto submenu = findRecentSubmenu(menuBarItem(c.items));
    EXPECT_EQ(submenu ? submenu->attribute(UIAttribute::title).value_or("?") : "none", c.expected);
  }
  EXPECT_FALSE(findRecentSubmenu(element())) << "a menu-bar item without a menu";
  EXPECT_FALSE(findRecentSubmenu(nullptr));
}

TEST(VSCodeMenuReaderTest, EntriesLieBetweenTheFirstSeparatorAndTheOneBeforeTheLast) {
  struct Case {
    std::vector<std::string> titles;  // "" is a separator
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {recentMenu({"~/code/a", "/srv/b", "", "~/x.txt"}), {"~/code/a", "/srv/b", "~/x.txt"}},
      {{"", "a", "", "b", "", "c"}, {"a"}},
      {{"x", "", "a", "b", "", "c"}, {}},  // two separators
      {{"", "a"}, {}},
      {{"a", "b"}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.titles));
    std::vector<std::string> titles;
    for (const auto& [item, title] : recentMenuItems(submenu(c.titles))) {
      EXPECT_TRUE(item);
      titles.push_back(title);
    }
    EXPECT_EQ(titles, c.expected);
  }
}

TEST(VSCodeMenuReaderTest, TitlesAreReadFromTheWindowUpToItsApplicationsMenuBar) {
  auto tree = editorTree(recentMenu({"~/code/wendrix", "/srv/site"}));
  const std::vector<std::string> expected{"~/code/wendrix", "/srv/site"};
  EXPECT_EQ(recentMenuTitles(tree.window), expected);
  EXPECT_EQ(recentMenuTitles(tree.application), expected);
  EXPECT_EQ(findApplicationElement(tree.window), tree.application);

  // No application above; an application without a menu bar (as on X11);
  // a menu bar of two items.
  EXPECT_TRUE(recentMenuTitles(element({{UIAttribute::role, "AXWindow"}})).empty());
  auto bare = withChildren(element({{UIAttribute::role, "AXApplication"}}),
                           {element({{UIAttribute::role, "AXWindow"}})});
  EXPECT_TRUE(recentMenuTitles(bare->children()->front()).empty());
  auto shortBar = withChildren(
      element({{UIAttribute::role, "AXApplication"}}),
      {withChildren(element({{UIAttribute::role, "AXMenuBar"}}), {element(), element()})});
  EXPECT_TRUE(recentMenuTitles(shortBar).empty());
}

TEST(VSCodeMenuReaderTest, ATitleNamesTheEntryEndingWithItsShortestSegment) {
  auto tree = editorTree(recentMenu({"/srv/site", "~/code/wendrix", "/q/Code", "~/notes — draft"}));
  struct Case {
    const char* title;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"main.cpp — wendrix", "~/code/wendrix"},
      {"wendrix", "~/code/wendrix"},   // no em dash: the whole title
      {"f — site — Code", "/q/Code"},  // the segment after the last dash first
      {"main.cpp —  wendrix \n", "~/code/wendrix"},
      {"\u2003site\u00a0", "/srv/site"},  // Unicode white space is trimmed too
      {"x — notes — draft", "~/notes — draft"},
      {"main.cpp - wendrix", std::nullopt},  // a hyphen is no em dash
      {"unknown", std::nullopt},
      {"", std::nullopt},
      // A trailing em dash leaves an empty segment, which names no entry.
      {"main.cpp — wendrix —", std::nullopt},
      {"main.cpp — wendrix — ", std::nullopt},
      {" ", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(recentEntryForTitle(c.title, tree.window), c.expected);
  }
  EXPECT_EQ(recentEntryForTitle("main.cpp — wendrix", element()), std::nullopt);
}

}  // namespace
}  // namespace wendrix::testing

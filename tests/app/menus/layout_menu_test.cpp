#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/menus/layout_menu.h"
#include "menus_fixture.h"

namespace wendrix::testing {
namespace {

using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;
using winsys::fake::WriteScript;

constexpr const char* kEditor = "org.example.Editor";

IWindow savedWindow(std::string title, Rect r) {
  IWindow w;
  w.title = std::move(title);
  w.rect = r;
  return w;
}

class LayoutMenuTest : public MenusTest {
 protected:
  // The editor runs with one window away from where "Work" saved it.
  std::shared_ptr<winsys::fake::FakeApplication> launchEditor() {
    WindowSetup setup = WindowSetup::titled("notes.txt");
    setup.frame = winsys::Rect{900, 900, 10, 10};
    return desktop.launch(AppSetup::withId(kEditor), {setup});
  }
  Layout work() { return layout("Work", {app(kEditor, {savedWindow("notes.txt", kSaved)})}); }

  static constexpr Rect kSaved{40, 60, 800, 600};
};

TEST_F(LayoutMenuTest, RestoreLayoutPlacesTheWindows) {
  auto editor = launchEditor();
  storage->saveLayout(work());
  start();
  ASSERT_TRUE(choose({"Work", "Restore layout"}));
  queue.advance(5s);
  EXPECT_EQ(editor->windows().at(0)->frame(), (winsys::Rect{40, 60, 800, 600}));
  EXPECT_EQ(buttonClicks(), std::vector<std::string>{"LayoutRestore/MainMenu"});
  EXPECT_EQ(eventsNamed("Layout_Restored").size(), 1u);
  EXPECT_EQ(provider->layoutMenus().at(0)->runningCommands(), 0u);
}

TEST_F(LayoutMenuTest, EditOpensTheCustomizationWindowOnTheLayout) {
  storage->saveLayout(work());
  start();
  ASSERT_TRUE(choose({"Work", "Edit..."}));
  ASSERT_EQ(windows->made.size(), 1u);
  EXPECT_EQ(windows->made[0]->selections, std::vector<std::string>{"layout Work"});
  EXPECT_EQ(buttonClicks(), std::vector<std::string>{"LayoutEdit/MainMenu"});
}

TEST_F(LayoutMenuTest, HideLayoutPutsItsAppsAwayAndIsThenNoLongerNew) {
  auto editor = launchEditor();
  storage->saveLayout(work());
  start();
  ASSERT_TRUE(choose({"Work", "🌟 NEW: Hide layout windows"}));
  queue.runUntilIdle();
  EXPECT_TRUE(editor->isHidden());
  EXPECT_TRUE(storage->featureHideLayoutMenuItem().value());
  EXPECT_EQ(provider->layoutMenus().at(0)->hideLayoutItem()->title(), "Hide layout windows");
  EXPECT_EQ(buttonClicks(), std::vector<std::string>{"LayoutHide/MainMenu"});
  EXPECT_TRUE(errorLocations().empty());
}

// The next rebuild discards the layout menus and disposes what they still
// run; the hide command then counts as used all the same.
TEST_F(LayoutMenuTest, AHideEndedByARebuildStillMarksTheFeatureUsed) {
  auto editor = launchEditor();
  editor->scriptHiddenWrites(WriteScript::after(5s));
  storage->saveLayout(work());
  start();
  ASSERT_TRUE(choose({"Work", "🌟 NEW: Hide layout windows"}));
  queue.advance(1s);
  ASSERT_EQ(provider->layoutMenus().at(0)->runningCommands(), 1u);
  EXPECT_FALSE(storage->featureHideLayoutMenuItem().value());

  storage->saveLayout(layout("Home"));
  EXPECT_TRUE(storage->featureHideLayoutMenuItem().value());
  // The new menus show the hide item as used.
  EXPECT_EQ(provider->layoutMenus().at(0)->hideLayoutItem()->title(), "Hide layout windows");
  queue.advance(10s);
  EXPECT_TRUE(eventsNamed("Closed_Apps").empty());
  EXPECT_TRUE(errorLocations().empty());
}

// Each distinct value of the flag shows at once; every new hide item is
// highlighted, and counted, while the feature is unused.
TEST_F(LayoutMenuTest, TheHideItemFollowsItsFlagAndEachRebuildHighlightsAgain) {
  const std::string kNew = "🌟 NEW: Hide layout windows";
  storage->saveLayout(work());
  start();
  const auto hideTitle = [&](std::size_t menu) {
    return provider->layoutMenus().at(menu)->hideLayoutItem()->title();
  };
  EXPECT_EQ(hideTitle(0), kNew);
  // With the one of "Edit Layouts...".
  EXPECT_EQ(eventsNamed("NewFeatureHighlight").size(), 2u);

  auto& flag = storage->featureHideLayoutMenuItem();
  flag.setValue(false);
  EXPECT_EQ(eventsNamed("NewFeatureHighlight").size(), 2u);
  flag.setValue(true);
  EXPECT_EQ(hideTitle(0), "Hide layout windows");
  flag.setValue(false);
  EXPECT_EQ(hideTitle(0), kNew);
  EXPECT_EQ(eventsNamed("NewFeatureHighlight").size(), 3u);

  storage->saveLayout(layout("Home"));
  ASSERT_EQ(provider->layoutMenus().size(), 2u);
  EXPECT_EQ(hideTitle(0), kNew);
  EXPECT_EQ(hideTitle(1), kNew);
  EXPECT_EQ(eventsNamed("NewFeatureHighlight").size(), 5u);
  EXPECT_TRUE(errorLocations().empty());
}

TEST_F(LayoutMenuTest, FailedCommandsAreReportedAndAFailedHideStillCounts) {
  desktop.scriptInitialization(
      WriteScript::rejected(base::Error("Test", 1, "Work: org.example.Editor is gone")));
  Layout closing = work();
  closing.alwaysCloseOtherApps = true;
  storage->saveLayout(closing);
  start();
  ASSERT_TRUE(choose({"Work", "Restore layout"}));
  ASSERT_TRUE(choose({"Work", "🌟 NEW: Hide layout windows"}));
  queue.runUntilIdle();
  EXPECT_EQ(errorLocations(),
            (std::vector<std::string>{"menu.restoreLayout_001", "menu.hideLayout_000"}));
  for (const auto& event : eventsNamed("Error")) {
    EXPECT_EQ(property<std::string>(event, "ErrorDescription"), "LAYOUT_NAME: APP_NAME is gone");
  }
  EXPECT_TRUE(storage->featureHideLayoutMenuItem().value());
}

TEST_F(LayoutMenuTest, ItsLayoutFollowsTheStoredOneOfTheSameName) {
  start();
  storage->saveLayout(layout("Work"));
  auto menu = LayoutMenu::make(context(), layout("Work"));
  EXPECT_EQ(menu->menuItem()->title(), "Work");

  storage->replaceLayout("Work", layout("Work", {app(kEditor)}));
  ASSERT_EQ(menu->layout().apps.size(), 1u);
  // The items keep the layout the menu was made with.
  EXPECT_TRUE(attachedLayout(*menu->restoreItem())->apps.empty());

  // Gone from the store: the last copy stays, and commands act on it.
  storage->deleteLayout("Work");
  ASSERT_EQ(menu->layout().apps.size(), 1u);
  menu->editLayout(*menu->editLayoutItem());
  EXPECT_EQ(windows->made.at(0)->selections, std::vector<std::string>{"layout Work"});
  EXPECT_EQ(menu->menuItem()->title(), "Work");
}

TEST_F(LayoutMenuTest, ItsItemsCarryTheLayoutAndAnItemOutlivingItDoesNothing) {
  start();
  auto menu = LayoutMenu::make(context(), work());
  for (const auto& item : {menu->restoreItem(), menu->editLayoutItem(), menu->hideLayoutItem()}) {
    ASSERT_NE(attachedLayout(*item), nullptr);
    EXPECT_EQ(attachedLayout(*item)->name, "Work");
  }
  auto item = menu->editLayoutItem();
  auto submenu = menu->menu();
  menu.reset();
  EXPECT_TRUE(submenu->performItem(*item));
  EXPECT_TRUE(windows->made.empty());
  EXPECT_TRUE(buttonClicks().empty());
}

}  // namespace
}  // namespace wendrix::testing

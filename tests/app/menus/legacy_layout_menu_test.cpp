#include "app/menus/legacy_layout_menu.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "menus_fixture.h"

namespace wendrix::testing {
namespace {

using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

class LegacyLayoutMenuTest : public MenusTest {
 protected:
  void SetUp() override {
    editor = desktop.launch(AppSetup::withId("org.example.Editor"),
                            {WindowSetup::titled("a"), WindowSetup::titled("b")});
    player = desktop.launch(AppSetup::withId("org.example.Player"), {WindowSetup::titled("c")});
    IWindow w;
    w.title = "a";
    storage->saveLayout(
        layout("Work", {app("org.example.Editor", {w, w}), app("org.example.Mail")}));
    start();
    legacy = LegacyLayoutMenu::make(context(), storage->loadLayouts().at(0),
                                    provider->mainMenuDelegate());
    queue.runUntilIdle();
  }

  // Chooses the item of the legacy submenu at `titles`.
  bool choose(const std::vector<std::string>& titles) {
    toolkit::Menu* menu = legacy->menu().get();
    for (std::size_t i = 0; i + 1 < titles.size(); ++i) {
      toolkit::MenuItem* item = menu->itemWithTitle(titles[i]);
      if (!item || !item->submenu()) return false;
      menu = item->submenu().get();
    }
    toolkit::MenuItem* item = menu->itemWithTitle(titles.back());
    return item && menu->performItem(*item);
  }

  std::shared_ptr<winsys::fake::FakeApplication> editor, player;
  std::shared_ptr<LegacyLayoutMenu> legacy;
};

TEST_F(LegacyLayoutMenuTest, ListsTheLayoutsAppsAndTheRunningOnes) {
  EXPECT_EQ(legacy->menu()->dump(),
            "Restore layout\n"
            "---\n"
            "Hide apps >\n"
            "  Hide \"Work\" apps\n"
            "  ---\n"
            "  Hide other apps\n"
            "Close other apps when restoring\n"
            "Rename...\n"
            "Remove\n"
            "Add app >\n"
            "  org.example.Editor (2)\n"
            "  org.example.Player\n"
            "---\n"
            "org.example.Editor (2) >\n"
            "  Restore\n"
            "  Delete\n"
            "org.example.Mail >\n"
            "  Restore\n"
            "  Delete\n");

  desktop.terminate(player);
  EXPECT_EQ(legacy->menu()->dump().find("Player"), std::string::npos);
  EXPECT_NE(legacy->menu()->dump().find("  Hide other apps (disabled)\n"), std::string::npos);
}

TEST_F(LegacyLayoutMenuTest, HidesTheLayoutsAppsOrTheOthers) {
  ASSERT_TRUE(choose({"Hide apps", "Hide other apps"}));
  queue.runUntilIdle();
  EXPECT_TRUE(player->isHidden());
  EXPECT_FALSE(editor->isHidden());
  // The player is gone from the list.
  EXPECT_NE(legacy->menu()->dump().find("  Hide other apps (disabled)\n"), std::string::npos);

  ASSERT_TRUE(choose({"Hide apps", "Hide \"Work\" apps"}));
  queue.runUntilIdle();
  EXPECT_TRUE(editor->isHidden());
  std::vector<std::string> sources;
  for (const auto& event : eventsNamed("Closed_Apps"))
    sources.push_back(*property<std::string>(event, "CloseAppsSource") + " " +
                      std::to_string(*property<std::int64_t>(event, "NumberOfAppsClosed")));
  EXPECT_EQ(sources, (std::vector<std::string>{"CloseOtherApps 1", "CloseLayoutApps 1"}));
}

TEST_F(LegacyLayoutMenuTest, EditsTheStoredLayout) {
  ASSERT_TRUE(choose({"Close other apps when restoring"}));
  EXPECT_EQ(storage->loadLayouts().at(0).alwaysCloseOtherApps, true);
  EXPECT_EQ(legacy->closeOthersToggle()->state(), toolkit::ControlState::on);
  ASSERT_EQ(eventsNamed("Toggle_Auto_Close_Apps").size(), 1u);

  ASSERT_TRUE(choose({"Add app", "org.example.Player"}));
  ASSERT_TRUE(choose({"org.example.Mail", "Delete"}));
  std::vector<std::string> ids;
  const std::vector<Layout> stored = storage->loadLayouts();
  for (const auto& a : stored.at(0).apps)
    ids.push_back(a.bundleId.value_or("?"));
  EXPECT_EQ(ids, (std::vector<std::string>{"org.example.Editor", "org.example.Player"}));

  // A blank name changes nothing; a name does.
  driver.answerNextModal(0, " \n");
  ASSERT_TRUE(choose({"Rename..."}));
  EXPECT_EQ(layoutNames(), std::vector<std::string>{"Work"});
  driver.answerNextModal(0, "Deep Work");
  ASSERT_TRUE(choose({"Rename..."}));
  EXPECT_EQ(layoutNames(), std::vector<std::string>{"Deep Work"});
}

TEST_F(LegacyLayoutMenuTest, RemovesTheLayout) {
  ASSERT_TRUE(choose({"Remove"}));
  EXPECT_TRUE(layoutNames().empty());
  EXPECT_EQ(buttonClicks(), std::vector<std::string>{"LayoutDelete/MainMenu"});
}

}  // namespace
}  // namespace wendrix::testing

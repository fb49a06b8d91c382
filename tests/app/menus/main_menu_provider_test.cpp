#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "menus_fixture.h"
#include "toolkit/alert.h"
#include "toolkit/controls.h"

namespace wendrix::testing {
namespace {

const std::string kTail =
    "---\n"
    "Preferences...\n"
    "Check For Updates\n"
    "About Wendrix\n"
    "---\n"
    "Quit\n";

const std::string kAskingForAccess =
    "Save windows layout... (disabled)\n"
    "🌟 NEW: Edit Layouts... (disabled)\n"
    "Please enable accessibility...\n" +
    kTail;

std::string layoutEntry(const std::string& name, bool hideIsNew = true) {
  return name +
         " >\n"
         "  Restore layout\n"
         "  Edit...\n"
         "  ---\n"
         "  " +
         (hideIsNew ? "🌟 NEW: " : "") + "Hide layout windows\n";
}

TEST_F(MenusTest, WithoutAccessTheMenuAsksForItAndListsNoLayouts) {
  desktop.trust().setTrusted(false);
  storage->saveLayout(layout("Work"));
  start();
  EXPECT_EQ(menuDump(), kAskingForAccess);
  EXPECT_EQ(statusItem->menu(), provider->mainMenu());

  // Layouts stored meanwhile are not listed.
  storage->saveLayout(layout("Home"));
  EXPECT_EQ(menuDump(), kAskingForAccess);
  EXPECT_EQ(menusEmitted, 1);
}

TEST_F(MenusTest, OnceAccessIsGrantedTheMenuListsTheLayoutsInStoredOrder) {
  desktop.trust().setTrusted(false);
  storage->saveLayout(layout("Work"));
  storage->saveLayout(layout("Home"));
  start();
  desktop.trust().setTrusted(true);
  queue.advance(100ms);

  EXPECT_EQ(menuDump(),
            "Save windows layout...\n"
            "🌟 NEW: Edit Layouts...\n"
            "---\n"
            "Saved layouts (disabled)\n" +
                layoutEntry("Work") + layoutEntry("Home") + kTail);
  EXPECT_EQ(menusEmitted, 2);
  // The same menu object throughout.
  EXPECT_EQ(statusItem->menu(), provider->mainMenu());
}

TEST_F(MenusTest, WithAccessAndNoLayoutsOnlyEditingIsDisabled) {
  start();
  EXPECT_EQ(menuDump(),
            "Save windows layout...\n"
            "🌟 NEW: Edit Layouts... (disabled)\n" +
                kTail);
}

TEST_F(MenusTest, EachWriteOfTheLayoutsRebuildsTheMenuOnceWithNewLayoutMenus) {
  start();
  const int before = menusEmitted;
  storage->saveLayout(layout("Work"));
  EXPECT_EQ(menusEmitted, before + 1);
  std::weak_ptr<LayoutMenu> first = provider->layoutMenus().at(0);

  storage->replaceLayout("Work", layout("Deep Work"));
  EXPECT_EQ(menusEmitted, before + 2);
  EXPECT_TRUE(first.expired());
  ASSERT_EQ(provider->layoutMenus().size(), 1u);
  EXPECT_EQ(provider->layoutMenus()[0]->menuItem()->title(), "Deep Work");

  storage->saveLayout(layout("Home"));
  storage->deleteLayout("Deep Work");
  EXPECT_EQ(menusEmitted, before + 4);
  EXPECT_EQ(menuDump(),
            "Save windows layout...\n"
            "🌟 NEW: Edit Layouts...\n"
            "---\n"
            "Saved layouts (disabled)\n" +
                layoutEntry("Home") + kTail);

  storage->deleteLayout("Home");
  EXPECT_EQ(menusEmitted, before + 5);
  EXPECT_TRUE(provider->layoutMenus().empty());
}

// A menu listing layouts while access is lost would offer commands that
// cannot work and hide the way to ask for access again.
TEST_F(MenusTest, LosingAccessGoesBackToTheMenuThatAsksForIt) {
  storage->saveLayout(layout("Work"));
  start();
  desktop.trust().setTrusted(false);
  queue.advance(100ms);
  EXPECT_EQ(menuDump(), kAskingForAccess);
  EXPECT_TRUE(provider->layoutMenus().empty());

  desktop.trust().setTrusted(true);
  queue.advance(100ms);
  EXPECT_NE(menuDump().find(layoutEntry("Work")), std::string::npos);
}

TEST_F(MenusTest, TheMenuStreamOutlivingItsProviderGivesAnEmptyMenu) {
  start();
  auto stream = provider->mainMenuStream();
  provider.reset();
  std::shared_ptr<toolkit::Menu> got;
  stream.subscribe([&](const auto& menu) { got = menu; }).dispose();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->numberOfItems(), 0u);
}

TEST_F(MenusTest, QuickSaveNamesTheLayoutByTheCurrentTime) {
  start();
  queue.advance(90s);
  provider->quickSaveLayout();
  queue.runUntilIdle();
  EXPECT_EQ(layoutNames(), std::vector<std::string>{nameAt(queue.clock().now())});
  EXPECT_EQ(buttonClicks(), std::vector<std::string>{"SaveQuick/MainMenu"});
  EXPECT_TRUE(application.modalAlertMessages().empty());
}

TEST_F(MenusTest, TheNameDialogOffersTheTimeAsSelectedTextAndPlaceholder) {
  start();
  std::vector<std::string> seen;
  application.setModalRunner([&](toolkit::Alert& alert) {
    seen.push_back(alert.messageText());
    for (const auto& button : alert.buttons())
      seen.push_back(button);
    auto* field = dynamic_cast<toolkit::TextField*>(alert.accessoryView().get());
    if (!field) return toolkit::kModalResponseAbort;
    seen.push_back(field->stringValue());
    seen.push_back(field->placeholder());
    EXPECT_EQ(field->frame().size, (toolkit::Size{320, 24}));
    // All of the suggestion is selected, so that typing replaces it.
    EXPECT_EQ(field->selectedRange(),
              (std::pair<std::size_t, std::size_t>{0, field->stringValue().size()}));
    return toolkit::kAlertSecondButtonReturn;
  });
  ASSERT_TRUE(choose({"Save windows layout..."}));
  const std::string now = nameAt(queue.clock().now());
  EXPECT_EQ(seen, (std::vector<std::string>{"Name your layout", "Done", "Cancel", now, now}));
}

struct DialogCase {
  const char* what;
  std::size_t button;
  std::optional<std::string> typed;
  // The saved name; "" for the default one; none when nothing is saved.
  std::optional<std::string> saved;
};

TEST_F(MenusTest, TheNameDialogSavesWhatDoneGivesAndNothingOnCancel) {
  const DialogCase cases[] = {
      {"Done with text", 0, "Deep Work", "Deep Work"},
      {"Done with the text emptied", 0, "", ""},
      {"Done as offered", 0, std::nullopt, ""},
      {"Cancel", 1, "Ignored", std::nullopt},
  };
  start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& name : layoutNames())
      storage->deleteLayout(name);
    analytics.backend().clear();
    queue.advance(1min);

    driver.answerNextModal(c.button, c.typed);
    ASSERT_TRUE(choose({"Save windows layout..."}));
    queue.runUntilIdle();

    std::vector<std::string> expected;
    if (c.saved) expected.push_back(c.saved->empty() ? nameAt(queue.clock().now()) : *c.saved);
    EXPECT_EQ(layoutNames(), expected);
    EXPECT_EQ(eventsNamed("Layout_Saved").size(), c.saved ? 1u : 0u);
    EXPECT_EQ(buttonClicks(), std::vector<std::string>{"SaveLayout/MainMenu"});
  }
}

TEST_F(MenusTest, AFailedSaveIsReported) {
  desktop.scriptInitialization(
      winsys::fake::WriteScript::rejected(base::Error("Test", 1, "no window system")));
  start();
  provider->quickSaveLayout();
  queue.runUntilIdle();
  EXPECT_TRUE(layoutNames().empty());
  EXPECT_EQ(errorLocations(), std::vector<std::string>{"menu.saveLayout_000"});
}

TEST_F(MenusTest, TheFixedItemsReachTheirCommands) {
  start();
  ASSERT_TRUE(choose({"Preferences..."}));
  ASSERT_TRUE(choose({"About Wendrix"}));
  ASSERT_TRUE(choose({"Check For Updates"}));
  ASSERT_EQ(windows->made.size(), 1u);
  EXPECT_EQ(windows->made[0]->selections, (std::vector<std::string>{"Preferences", "About"}));
  EXPECT_EQ(updater->checks(), 1);

  EXPECT_FALSE(choose({"Please enable accessibility..."}));  // absent with access
}

TEST_F(MenusTest, EditLayoutsOpensTheWindowAndIsNoLongerNew) {
  storage->saveLayout(layout("Work"));
  start();
  ASSERT_TRUE(choose({"🌟 NEW: Edit Layouts..."}));
  EXPECT_EQ(windows->made.at(0)->selections, std::vector<std::string>{"none"});
  EXPECT_TRUE(storage->featureEditWindow().value());
  EXPECT_EQ(provider->editLayoutsMenuItem()->title(), "Edit Layouts...");
  EXPECT_EQ(buttonClicks(), std::vector<std::string>{"Customize/MainMenu"});
}

TEST_F(MenusTest, ThePromptAsksWithTheSystemPromptAndQuitEndsTheProgram) {
  desktop.trust().setTrusted(false);
  start();
  const int prompts = desktop.trust().prompts();
  ASSERT_TRUE(choose({"Please enable accessibility..."}));
  EXPECT_EQ(desktop.trust().prompts(), prompts + 1);
  ASSERT_TRUE(choose({"Quit"}));
  EXPECT_TRUE(application.isTerminated());
  EXPECT_EQ(buttonClicks(),
            (std::vector<std::string>{"PromptAccessibility/MainMenu", "Quit/MainMenu"}));
}

TEST_F(MenusTest, CommandsOnAttachedObjectsActOnlyOnTheirType) {
  start();
  auto restoreItem = toolkit::MenuItem::make("x");
  restoreItem->setRepresentedObject(layout("Empty"));
  std::vector<int> feedback;
  rx::DisposeBag bag;
  provider->feedbackStream()
      .subscribe([&](const rx::Observable<rx::Unit>& done) {
        done.subscribe([&](const rx::Unit&) { feedback.push_back(1); }).disposed(bag);
      })
      .disposed(bag);
  provider->restoreLayoutWithItem(*restoreItem);
  queue.runUntilIdle();
  EXPECT_EQ(feedback, std::vector<int>{1});
  EXPECT_EQ(eventsNamed("Layout_Restored").size(), 1u);

  auto other = toolkit::MenuItem::make("y");
  other->setRepresentedObject(std::string("not a layout"));
  provider->restoreLayoutWithItem(*other);
  provider->editLayout(*other);
  provider->closeUnusedAppsWithItem(*other);
  queue.runUntilIdle();
  EXPECT_EQ(eventsNamed("Layout_Restored").size(), 1u);
  EXPECT_TRUE(windows->made.empty());
  EXPECT_EQ(buttonClicks(),
            (std::vector<std::string>{"LayoutRestore/MainMenu", "LayoutRestore/MainMenu",
                                      "LayoutEdit/MainMenu"}));

  auto editItem = toolkit::MenuItem::make("z");
  editItem->setRepresentedObject(layout("Work"));
  provider->editLayout(*editItem);
  EXPECT_EQ(windows->made.at(0)->selections, std::vector<std::string>{"layout Work"});
}

TEST_F(MenusTest, ClosingUnusedAppsCountsThem) {
  auto editor = desktop.launch(winsys::fake::AppSetup::withId("org.example.Editor"),
                               {winsys::fake::WindowSetup::titled("a")});
  start();
  auto item = toolkit::MenuItem::make("x");
  item->setRepresentedObject(std::vector<winsys::ApplicationPtr>{editor});
  provider->closeUnusedAppsWithItem(*item);
  queue.runUntilIdle();
  EXPECT_TRUE(editor->isHidden());
  const auto closed = eventsNamed("Closed_Apps");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(property<std::int64_t>(closed[0], "NumberOfAppsClosed"), 1);
  EXPECT_EQ(property<std::string>(closed[0], "CloseAppsSource"), "CloseOtherApps");
}

}  // namespace
}  // namespace wendrix::testing

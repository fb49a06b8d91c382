// The layout details pane: what it shows and what its commands do.

#include "ui/layout_details.h"

#include <gtest/gtest.h>

#include "customization_fixture.h"
#include "platform/window_level/window_level.h"

namespace wendrix::testing {
namespace {

using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;
using Ids = std::set<std::size_t>;

TEST(SegmentStates, FollowSelectionAndRunningApps) {
  struct Case {
    std::size_t selected;
    bool someSelectedRunning;
    std::size_t open;
    std::size_t other;
    std::array<bool, 4> expected;
  };
  const Case cases[] = {
      {0, false, 0, 0, {false, false, false, false}}, {0, false, 2, 0, {true, false, false, true}},
      {0, false, 0, 1, {false, false, false, true}},  {1, false, 2, 0, {false, true, true, true}},
      {2, true, 1, 0, {true, true, true, true}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(segmentStates(c.selected, c.someSelectedRunning, c.open, c.other), c.expected)
        << c.selected << " " << c.someSelectedRunning << " " << c.open << " " << c.other;
}

TEST(AppRowTitle, CountsWindowsFromTwo) {
  EXPECT_EQ(appRowTitle("Mail", 0), "Mail");
  EXPECT_EQ(appRowTitle("Mail", 1), "Mail");
  EXPECT_EQ(appRowTitle("Mail", 3), "Mail (3)");
}

class LayoutDetailsTest : public CustomizationTest {
 protected:
  // Mail and Notes run with windows, Term runs outside the layout, Calc does not run.
  void SetUp() override {
    CustomizationTest::SetUp();
    setCloseBehavior(CloseBehavior::quit);
    mail = desktop.launch(AppSetup::withId("Mail"), {WindowSetup::titled("Inbox")});
    notes = desktop.launch(AppSetup::withId("Notes"), {WindowSetup::titled("Note")});
    term = desktop.launch(AppSetup::withId("Term").withURL(url("file:///apps/term.desktop")),
                          {WindowSetup::titled("sh")});
    icons.setIcon("/apps/term.desktop", platform::Image::filled(16, 16, 0xff0000ff));
    queue.runUntilIdle();
    storage->saveLayout(layout(
        "Work", {app("Mail", {savedWindow("a"), savedWindow("b")}), app("Notes"), app("Calc")}));
    storage->saveLayout(layout("Other"));
    open(layout("Work"));
  }

  static IWindow savedWindow(std::string title) {
    IWindow w;
    w.title = std::move(title);
    return w;
  }
  std::array<bool, 4> segments() {
    auto& s = *details().appList().segments();
    return {s.isEnabled(0), s.isEnabled(1), s.isEnabled(2), s.isEnabled(3)};
  }
  Layout saved(const std::string& name) { return *layoutNamed(storage->loadLayouts(), name); }

  std::shared_ptr<winsys::fake::FakeApplication> mail, notes, term;
};

TEST_F(LayoutDetailsTest, ShowsTheLayoutAndTheRunningApplications) {
  auto& d = details();
  EXPECT_EQ(d.layoutNameField()->stringValue(), "Work");
  EXPECT_EQ(d.autoCloseCheckbox()->state(), toolkit::ControlState::off);
  EXPECT_EQ(toolkit::headless::Driver::rowTexts(*d.appList().outlineView()),
            (std::vector<std::string>{"Mail (2)", "Notes", "Calc"}));
  auto color = [&](int row) {
    return static_cast<toolkit::TableCellView*>(d.appList().outlineView()->viewAtRow(row))
        ->textField()
        ->textColor();
  };
  EXPECT_EQ(color(0), toolkit::Color::label);
  EXPECT_EQ(color(2), toolkit::Color::secondaryLabel);
  EXPECT_EQ(d.state().openApps.size(), 2u);
  ASSERT_EQ(d.state().otherApps.size(), 1u);
  // Term's icon in the strip; the button closes it.
  EXPECT_EQ(d.appStackView()->arrangedSubviews().size(), 1u);
  EXPECT_TRUE(d.closeOtherAppsButton()->isEnabled());
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, false, false, true}));

  // Calc alone is selected: it does not run, so close is off.
  ASSERT_TRUE(driver.clickRow(*d.appList().outlineView(), 2));
  EXPECT_EQ(segments(), (std::array<bool, 4>{false, true, true, true}));
  ASSERT_TRUE(driver.clickRow(*d.appList().outlineView(), 0, true));
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, true, true, true}));
}

TEST_F(LayoutDetailsTest, TogglingAutoCloseStoresFalseNotNil) {
  ASSERT_TRUE(driver.click(*details().autoCloseCheckbox()));
  EXPECT_EQ(saved("Work").alwaysCloseOtherApps, std::optional<bool>(true));
  ASSERT_TRUE(driver.click(*details().autoCloseCheckbox()));
  EXPECT_EQ(saved("Work").alwaysCloseOtherApps, std::optional<bool>(false));
  const auto toggles = eventsNamed("Toggle_Auto_Close_Apps");
  ASSERT_EQ(toggles.size(), 2u);
  EXPECT_EQ(property<bool>(toggles[1], "SettingsValue"), std::optional<bool>(false));
  EXPECT_EQ(clicks(), (std::vector<std::string>{"AutoClose/Button", "AutoClose/Button"}));
}

TEST_F(LayoutDetailsTest, CloseAppsClosesTheRunningOnesOfTheSelection) {
  // No selection: every running application of the layout.
  ASSERT_TRUE(driver.clickSegment(*details().appList().segments(), 0));
  queue.runUntilIdle();
  EXPECT_EQ(mail->quitRequests() + notes->quitRequests(), 2);
  EXPECT_EQ(term->quitRequests(), 0);
  const auto closed = eventsNamed("Closed_Apps");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(property<std::int64_t>(closed[0], "NumberOfAppsClosed"), 2);
  EXPECT_EQ(clicks(), (std::vector<std::string>{"CloseLayoutApps/Button"}));
}

TEST_F(LayoutDetailsTest, CloseFromTheContextMenuIsARightClick) {
  auto& list = *details().appList().outlineView();
  ASSERT_TRUE(driver.clickRow(list, 1));
  auto menu = driver.rightClickRow(list, 1);
  ASSERT_EQ(menu, details().menus().appMenu());
  // Opening the menu enables its items by the selection.
  EXPECT_TRUE(details().menus().appMenuItemClose()->isEnabled());
  ASSERT_TRUE(driver.chooseMenuItem(*menu, {"Close"}));
  queue.runUntilIdle();
  EXPECT_EQ(notes->quitRequests(), 1);
  EXPECT_EQ(mail->quitRequests(), 0);
  EXPECT_EQ(clicks(), (std::vector<std::string>{"CloseLayoutApps/RightClick"}));
}

TEST_F(LayoutDetailsTest, RemoveAppsStoresTheRestAtTheEnd) {
  ASSERT_TRUE(driver.clickRow(*details().appList().outlineView(), 0));
  ASSERT_TRUE(driver.clickSegment(*details().appList().segments(), 2));
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"Other", "Work"}));
  EXPECT_EQ(saved("Work").apps, (std::vector<IApp>{app("Notes"), app("Calc")}));
  EXPECT_EQ(toolkit::headless::Driver::rowTexts(*details().appList().outlineView()),
            (std::vector<std::string>{"Notes", "Calc"}));
  EXPECT_EQ(clicks(), (std::vector<std::string>{"AppDelete/Button"}));
}

TEST_F(LayoutDetailsTest, RowsStayOnTheirSnapshotWhileTheLayoutShrinks) {
  // The last row is selected when the layout loses two applications under
  // the window: the selection past the new end is dropped, nothing reads
  // past the list, and the commands act on what the rows show.
  ASSERT_TRUE(driver.clickRow(*details().appList().outlineView(), 2));
  storage->replaceLayout("Work", layout("Work", {app("Mail")}));
  EXPECT_EQ(details().appList().outlineView()->numberOfRows(), 1u);
  EXPECT_TRUE(details().appList().selectedApps().empty());
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, false, false, true}));
  ASSERT_TRUE(driver.clickRow(*details().appList().outlineView(), 0));
  EXPECT_EQ(details().appList().selectedApps(), (std::vector<IApp>{app("Mail")}));
}

TEST_F(LayoutDetailsTest, AddAppMenuOffersReplacementsThenOthers) {
  ASSERT_TRUE(driver.clickSegment(*details().appList().segments(), 3));
  auto menu = details().menus().addAppMenu();
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->dump(), "Mail (Replace)\nNotes (Replace)\nterm.desktop\n");
  EXPECT_TRUE(menu->itemAt(2)->image());
  EXPECT_FALSE(menu->itemAt(0)->image());
  ASSERT_TRUE(menu->lastPopUp());
  EXPECT_EQ(menu->lastPopUp()->view, details().appList().segments().get());

  menu->open();
  ASSERT_TRUE(driver.chooseMenuItem(*menu, {"term.desktop"}));
  auto apps = saved("Work").apps;
  ASSERT_EQ(apps.size(), 4u);
  EXPECT_EQ(apps[3].bundleId, "Term");
  EXPECT_EQ(apps[3].windows.size(), 1u);
  // Replacing keeps the place and takes the new capture.
  ASSERT_TRUE(driver.clickSegment(*details().appList().segments(), 3));
  details().menus().addAppMenu()->open();
  ASSERT_TRUE(driver.chooseMenuItem(*details().menus().addAppMenu(), {"Mail (Replace)"}));
  apps = saved("Work").apps;
  ASSERT_EQ(apps.size(), 4u);
  EXPECT_EQ(apps[0].bundleId, "Mail");
  EXPECT_EQ(apps[0].windows.size(), 1u);
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"Work", "Other"}));
  EXPECT_EQ(clicks(), (std::vector<std::string>{"LayoutAdd/Button", "LayoutAdd/Button"}));
}

TEST_F(LayoutDetailsTest, OperationsFloatTheWindowUntilShortlyAfterTheyEnd) {
  ASSERT_TRUE(driver.click(*details().closeOtherAppsButton()));
  // The closing waits on the desktop; meanwhile the window floats.
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  queue.runUntilIdle();
  EXPECT_EQ(term->quitRequests(), 1);
  const auto closed = eventsNamed("Closed_Apps");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(property<std::string>(closed[0], "CloseAppsSource"), "CloseOtherApps");
  queue.advance(std::chrono::milliseconds(110));
  EXPECT_EQ(window().level(), platform::kNormalWindowLevel);

  ASSERT_TRUE(driver.click(*details().restoreButton()));
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  queue.advance(std::chrono::seconds(30));
  EXPECT_EQ(eventsNamed("Layout_Restored").size(), 1u);
  EXPECT_EQ(window().level(), platform::kNormalWindowLevel);
  EXPECT_EQ(clicks(), (std::vector<std::string>{"CloseOtherApps/Button", "LayoutRestore/Button"}));
}

TEST_F(LayoutDetailsTest, TheWindowComesDownExactlyAfterTheResetDelay) {
  // Restoring Notes alone ends once its window is matched (no timers).
  ASSERT_TRUE(driver.clickRow(*details().appList().outlineView(), 1));
  ASSERT_TRUE(driver.clickSegment(*details().appList().segments(), 1));
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  for (int ms = 0; ms < 30000 && eventsNamed("App_Restored").empty(); ++ms)
    queue.advance(std::chrono::milliseconds(1));
  ASSERT_EQ(eventsNamed("App_Restored").size(), 1u);
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  queue.advance(std::chrono::milliseconds(109));
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  queue.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(window().level(), platform::kNormalWindowLevel);
  EXPECT_EQ(clicks(), (std::vector<std::string>{"AppRestore/Button"}));
}

TEST_F(LayoutDetailsTest, CommandsWithoutActionsStopAfterTheirEvent) {
  factory.reset();
  actions.reset();
  ASSERT_TRUE(driver.click(*details().autoCloseCheckbox()));
  ASSERT_TRUE(driver.typeAndEnd(*details().layoutNameField(), "New"));
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"Work", "Other"}));
  EXPECT_EQ(clicks(), (std::vector<std::string>{"AutoClose/Button", "LayoutRename/MainWindow"}));
}

// Reading the running applications fails after the layout is shown: the
// pane reports it at its own location and keeps the layout. The other
// locations of the pane cannot be reached through the fakes: closing the
// selected apps, restoring them and renaming never fail (the actions report
// their failures themselves), and closing the other apps (alone or before a
// restore) takes the windows provider's last good list.
class LayoutDetailsErrorTest : public CustomizationTest {
 protected:
  void SetUp() override {
    CustomizationTest::SetUp();
    storage->saveLayout(layout("Work", {app("Mail")}, true));
    open(layout("Work"));
    // Access goes and comes back; reading the windows again fails.
    desktop.scriptInitialization(winsys::fake::WriteScript::rejected(
        base::Error("Test.WindowSystem", 7, "no windows for Work and Mail")));
    desktop.trust().setTrusted(false);
    desktop.trust().postChange();
    queue.runUntilIdle();
    desktop.trust().setTrusted(true);
    desktop.trust().postChange();
    queue.advance(std::chrono::seconds(1));
  }
};

TEST_F(LayoutDetailsErrorTest, AFailedReadOfTheRunningAppsIsReportedOnce) {
  EXPECT_EQ(sentErrors(analytics),
            (std::vector<SentError>{{"no windows for Work and Mail", "details.openApps_000"}}));
  EXPECT_EQ(details().layoutNameField()->stringValue(), "Work");
  // The pane stays usable for what needs no running application.
  ASSERT_TRUE(driver.click(*details().autoCloseCheckbox()));
  EXPECT_EQ(storage->loadLayouts().at(0).alwaysCloseOtherApps, std::optional<bool>(false));
}

}  // namespace
}  // namespace wendrix::testing

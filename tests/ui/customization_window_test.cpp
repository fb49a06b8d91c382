// The customization window as the user works it: the sidebar, the tabs, the
// pin, renaming and deleting layouts.

#include "ui/customization_window.h"

#include <gtest/gtest.h>

#include "customization_fixture.h"
#include "platform/window_level/window_level.h"
#include "toolkit/alert.h"

namespace wendrix::testing {
namespace {

using Ids = std::set<std::size_t>;

class CustomizationWindowTest : public CustomizationTest {};

TEST_F(CustomizationWindowTest, EditLayoutsOpensTheWindowOnTheEmptyTab) {
  storage->saveLayout(layout("Work"));
  storage->saveLayout(layout("Home"));
  open();

  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(tab(), CustomizationSplitViewController::kNoneTab);
  EXPECT_EQ(toolkit::headless::Driver::rowTexts(layoutList()),
            (std::vector<std::string>{"Work", "Home"}));
  EXPECT_EQ(toolkit::headless::Driver::rowTexts(navigationList()),
            (std::vector<std::string>{"Preferences", "About"}));
  // The lower list is exactly as tall as its two rows of 26.
  EXPECT_EQ(navigationList().numberOfRows(), 2u);
  const auto& nav = navigationList();
  EXPECT_DOUBLE_EQ(
      sidebar().navigationScrollViewHeight(),
      nav.rectOfRow(1).maxY() + nav.rectOfRow(0).minY() + 2 * nav.intercellSpacing().height + 14);

  // Closing tells the actions; the next opening builds a new window.
  auto first = controller;
  window().close();
  open();
  EXPECT_NE(controller, first);
}

TEST_F(CustomizationWindowTest, SelectionsRouteBetweenTheListsAndTheTabs) {
  storage->saveLayout(layout("Work", {app("Mail")}));
  storage->saveLayout(layout("Home"));
  open(layout("Home"));
  // A layout's "Edit..." opens on it: tab 1 with the details showing it.
  EXPECT_EQ(tab(), CustomizationSplitViewController::kDetailsTab);
  EXPECT_EQ(layoutList().selectedRowIndexes(), Ids{1});
  ASSERT_TRUE(details().state().layout);
  EXPECT_EQ(details().state().layout->name, "Home");

  // The user picks Preferences: the layout list lets go, tab 2 shows.
  ASSERT_TRUE(driver.clickRow(navigationList(), 0));
  EXPECT_EQ(tab(), CustomizationSplitViewController::kPreferencesTab);
  EXPECT_TRUE(layoutList().selectedRowIndexes().empty());
  EXPECT_EQ(clicks(), (std::vector<std::string>{"Preferences/MainWindow"}));

  // Then a layout: the lower list lets go, the details follow.
  ASSERT_TRUE(driver.clickRow(layoutList(), 0));
  EXPECT_EQ(tab(), CustomizationSplitViewController::kDetailsTab);
  EXPECT_TRUE(navigationList().selectedRowIndexes().empty());
  EXPECT_EQ(details().state().layout->name, "Work");
  EXPECT_EQ(toolkit::headless::Driver::rowTexts(*details().appList().outlineView()),
            (std::vector<std::string>{"Mail"}));

  // About from elsewhere (the popover's entry) selects its row, sends no
  // second event from the list and shows tab 3.
  opener->showAbout(ButtonClickSource::other);
  EXPECT_EQ(tab(), CustomizationSplitViewController::kAboutTab);
  EXPECT_EQ(navigationList().selectedRowIndexes(), Ids{1});
  EXPECT_TRUE(layoutList().selectedRowIndexes().empty());
  EXPECT_EQ(clicks(), (std::vector<std::string>{"Preferences/MainWindow", "About/Other"}));

  // A click on empty space leaves nothing selected: nil, no event, tab stays.
  driver.clickEmptySpace(navigationList());
  EXPECT_EQ(clicks().size(), 2u);
  EXPECT_EQ(tab(), CustomizationSplitViewController::kAboutTab);

  controller->select(NavigationSelection::none());
  EXPECT_EQ(tab(), CustomizationSplitViewController::kNoneTab);
  EXPECT_TRUE(navigationList().selectedRowIndexes().empty());
}

TEST_F(CustomizationWindowTest, ChangesOfTheSavedLayoutsWithoutSelectionPublishNothing) {
  storage->saveLayout(layout("A"));
  open();
  storage->saveLayout(layout("B"));
  EXPECT_EQ(toolkit::headless::Driver::rowTexts(layoutList()),
            (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(tab(), CustomizationSplitViewController::kNoneTab);
  EXPECT_TRUE(layoutList().selectedRowIndexes().empty());
}

TEST_F(CustomizationWindowTest, DuplicateNamesSelectTheFirst) {
  storage->saveLayout(layout("Same"));
  storage->saveLayout(layout("Other"));
  auto saved = storage->loadLayouts();
  saved.push_back(layout("Same", {app("X")}));
  storage->layouts().setValue(saved);
  open(layout("Same", {app("X")}));
  EXPECT_EQ(layoutList().selectedRowIndexes(), Ids{0});
}

TEST_F(CustomizationWindowTest, RenameKeepsTheLayoutSelectedUnderItsNewName) {
  storage->saveLayout(layout("A", {app("Mail")}));
  storage->saveLayout(layout("C"));
  open(layout("A"));

  ASSERT_TRUE(driver.typeAndEnd(*details().layoutNameField(), "B "));
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"B ", "C"}));
  EXPECT_EQ(layoutList().selectedRowIndexes(), Ids{0});
  EXPECT_EQ(tab(), CustomizationSplitViewController::kDetailsTab);
  EXPECT_EQ(details().state().layout->name, "B ");
  EXPECT_EQ(details().state().layout->apps.size(), 1u);
  // The rename record was used up.
  EXPECT_TRUE(sidebar().layoutListManager()->renames.empty());
  EXPECT_EQ(clicks(), (std::vector<std::string>{"LayoutRename/MainWindow"}));
}

TEST_F(CustomizationWindowTest, RenameToATakenOrBlankNameIsRefused) {
  storage->saveLayout(layout("A"));
  storage->saveLayout(layout("C"));
  open(layout("A"));
  for (const std::string name : {"C", "   ", "A"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(driver.typeAndEnd(*details().layoutNameField(), name));
    EXPECT_EQ(details().layoutNameField()->stringValue(), "A");
    EXPECT_EQ(savedNames(), (std::vector<std::string>{"A", "C"}));
    EXPECT_TRUE(sidebar().layoutListManager()->renames.empty());
  }
  EXPECT_EQ(layoutList().selectedRowIndexes(), Ids{0});
}

TEST_F(CustomizationWindowTest, DeleteAsksInASheetAndDropsTheSelection) {
  storage->saveLayout(layout("A"));
  storage->saveLayout(layout("B"));
  open(layout("B"));

  details().deleteLayout();
  auto* alert = dynamic_cast<toolkit::Alert*>(window().attachedSheet());
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->messageText(), "Delete layout?\n\"B\"");
  EXPECT_EQ(alert->buttons(), (std::vector<std::string>{"Delete", "Cancel"}));
  ASSERT_TRUE(driver.answerAlert(window(), 1));
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(clicks(), (std::vector<std::string>{"LayoutDelete/Button"}));

  details().deleteLayout();
  ASSERT_TRUE(driver.answerAlert(window(), 0));
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"A"}));
  EXPECT_TRUE(layoutList().selectedRowIndexes().empty());
  EXPECT_EQ(tab(), CustomizationSplitViewController::kNoneTab);
  EXPECT_EQ(clicks().size(), 2u);
}

TEST_F(CustomizationWindowTest, ThePinTogglesTheWindowLevel) {
  open();
  const auto pinImage = [&] { return controller->pinToolbarItem()->image.name; };
  ASSERT_TRUE(driver.clickToolbarItem(window(), "pin"));
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  EXPECT_EQ(pinImage(), "pin.fill");
  ASSERT_TRUE(driver.clickToolbarItem(window(), "pin"));
  EXPECT_EQ(window().level(), platform::kNormalWindowLevel);
  EXPECT_EQ(pinImage(), "pin");

  // Raised for another reason: the pin takes it down.
  window().setLevel(platform::kStatusWindowLevel);
  controller->togglePinning();
  EXPECT_EQ(window().level(), platform::kNormalWindowLevel);
  EXPECT_EQ(pinImage(), "pin");
  EXPECT_FALSE(controller->validateToolbarItem(*controller->pinToolbarItem()));
}

TEST_F(CustomizationWindowTest, ThePinShowsTheWindowsLevelWhateverSetIt) {
  storage->saveLayout(layout("A"));
  storage->saveLayout(layout("B"));
  open();
  const auto pinImage = [&] { return controller->pinToolbarItem()->image.name; };
  ASSERT_TRUE(driver.clickToolbarItem(window(), "pin"));
  // Switching layouts keeps the window pinned, and the pin shows it.
  ASSERT_TRUE(driver.clickRow(layoutList(), 0));
  ASSERT_TRUE(driver.clickRow(layoutList(), 1));
  EXPECT_EQ(window().level(), platform::kStatusWindowLevel);
  EXPECT_EQ(pinImage(), "pin.fill");

  // The status menu opening drops the window (through the controller), an
  // operation of the details pane floats it and lets it down: the pin follows.
  controller->setWindowLevel(platform::kNormalWindowLevel);
  EXPECT_EQ(pinImage(), "pin");
  window().setLevel(platform::kStatusWindowLevel);
  EXPECT_EQ(pinImage(), "pin.fill");
  window().setLevel(platform::kNormalWindowLevel);
  EXPECT_EQ(pinImage(), "pin");
}

TEST_F(CustomizationWindowTest, QuitFromTheEllipsisMenu) {
  open();
  ASSERT_TRUE(driver.click(*sidebar().ellipsisButton()));
  auto& menu = *sidebar().ellipsisMenu();
  ASSERT_TRUE(menu.lastPopUp());
  EXPECT_EQ(menu.lastPopUp()->view, sidebar().ellipsisButton());
  menu.open();
  ASSERT_TRUE(driver.chooseMenuItem(menu, {"Quit Wendrix"}));
  EXPECT_TRUE(application.isTerminated());
  EXPECT_EQ(clicks(), (std::vector<std::string>{"Quit/MainWindow"}));
}

}  // namespace
}  // namespace wendrix::testing

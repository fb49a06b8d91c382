// The home popover's menu and the list whose context menu follows the
// clicked row.

#include "ui/home_view.h"

#include <gtest/gtest.h>

#include <set>

#include "customization_fixture.h"
#include "toolkit/controls.h"
#include "toolkit/popover.h"
#include "ui/menu_outline_view.h"

namespace wendrix::testing {
namespace {

class HomeViewTest : public CustomizationTest {
 protected:
  // The home view in a popover under an anchor, as the delegate shows it.
  HomeViewController& show(bool withActions) {
    home = std::make_shared<HomeViewController>(application);
    if (withActions) {
      home->setActions(actions);
      home->setCustomizationWindow(opener);
    }
    popover = std::make_shared<toolkit::Popover>(application);
    popover->setContentViewController(home);
    popover->show(anchor->bounds(), *anchor, toolkit::RectEdge::maxY);
    return *home;
  }
  // Opens the ellipsis menu as a click on the button does and chooses `title`.
  bool choose(const std::string& title) {
    if (!driver.click(*home->ellipsisButton())) return false;
    return driver.chooseMenuItem(*home->ellipsisMenu(), {title});
  }

  std::shared_ptr<toolkit::View> anchor =
      std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {22, 22}});
  std::shared_ptr<HomeViewController> home;
  std::shared_ptr<toolkit::Popover> popover;
};

TEST_F(HomeViewTest, TheEllipsisMenuPopsUpAtTheButtonsCentre) {
  std::vector<const toolkit::View*> poppedUpIn;
  application.menuPoppedUp.connect([&](toolkit::Menu&, const toolkit::View* view, toolkit::Point) {
    poppedUpIn.push_back(view);
  });
  show(true);
  toolkit::Button& button = *home->ellipsisButton();
  ASSERT_TRUE(driver.click(button));

  const auto& menu = *home->ellipsisMenu();
  EXPECT_TRUE(menu.isOpen());
  ASSERT_TRUE(menu.lastPopUp());
  EXPECT_EQ(menu.lastPopUp()->positioningItem, nullptr);
  EXPECT_EQ(menu.lastPopUp()->view, &button);
  EXPECT_EQ(menu.lastPopUp()->location,
            (toolkit::Point{button.bounds().midX(), button.bounds().midY()}));
  // The pop-up reaches the backend through the popover's window.
  EXPECT_EQ(poppedUpIn, (std::vector<const toolkit::View*>{&button}));
  // The debug entry exists but does nothing, so it is out of sight.
  ASSERT_NE(home->debugMenuItem(), nullptr);
  EXPECT_TRUE(home->debugMenuItem()->isHidden());
  EXPECT_EQ(menu.dump(),
            "Preferences...\nCheck For Updates\nAbout Wendrix\n---\nQuit Wendrix ⌘Q\n");
}

TEST_F(HomeViewTest, PreferencesAndAboutOpenTheirPanesAndQuitEnds) {
  show(true);
  ASSERT_TRUE(choose("Preferences..."));
  queue.runUntilIdle();
  controller = std::dynamic_pointer_cast<ui::CustomizationWindowController>(
      opener->openEditLayoutWindowController());
  ASSERT_TRUE(controller);
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(tab(), CustomizationSplitViewController::kPreferencesTab);

  ASSERT_TRUE(choose("About Wendrix"));
  queue.runUntilIdle();
  EXPECT_EQ(tab(), CustomizationSplitViewController::kAboutTab);
  EXPECT_FALSE(application.isTerminated());

  ASSERT_TRUE(choose("Quit Wendrix"));
  EXPECT_TRUE(application.isTerminated());
  EXPECT_EQ(clicks(), (std::vector<std::string>{"Preferences/Other", "About/Other", "Quit/Other"}));
}

TEST_F(HomeViewTest, WithoutActionsTheCommandsDoNothing) {
  show(false);
  for (const char* title : {"Preferences...", "Check For Updates", "About Wendrix", "Quit Wendrix"})
    ASSERT_TRUE(choose(title)) << title;
  queue.runUntilIdle();
  EXPECT_FALSE(opener->openEditLayoutWindowController());
  EXPECT_TRUE(application.windows().empty());
  EXPECT_FALSE(application.isTerminated());
  EXPECT_TRUE(clicks().empty());
}

TEST_F(HomeViewTest, APopoverDelegateBringsThePopoverForwardAndCompletesOnClose) {
  int completed = 0;
  auto delegate = std::make_shared<WindowPopoverDelegate>(
      application, rx::AnyObserver<toolkit::Popover*>([&](const rx::Event<toolkit::Popover*>& e) {
        if (e.isCompleted()) ++completed;
      }));
  home = std::make_shared<HomeViewController>(application);
  toolkit::Popover shown(application);
  shown.setContentViewController(home);
  shown.setBehavior(toolkit::Popover::Behavior::transient);
  shown.setDelegate(delegate);
  shown.show(anchor->bounds(), *anchor, toolkit::RectEdge::maxY);

  EXPECT_TRUE(application.isActive());
  ASSERT_NE(home->view()->window(), nullptr);
  EXPECT_EQ(application.keyWindow(), home->view()->window());
  driver.clickOutsidePopovers();
  EXPECT_EQ(completed, 1);
  EXPECT_EQ(application.keyWindow(), nullptr);
}

// A secondary click acts on the row it is on; key equivalents need a selection.
TEST(MenuOutlineView, TheContextMenuFollowsTheClickedRow) {
  struct Rows : toolkit::OutlineViewDataSource, toolkit::OutlineViewDelegate {
    std::size_t numberOfChildren(toolkit::OutlineView&, const toolkit::OutlineItem* item) override {
      return item ? 0 : 3;
    }
    toolkit::OutlineItem child(toolkit::OutlineView&, std::size_t index,
                               const toolkit::OutlineItem*) override {
      return index;
    }
    std::shared_ptr<toolkit::View> viewFor(toolkit::OutlineView&,
                                           const toolkit::OutlineItem&) override {
      return std::make_shared<toolkit::View>();
    }
  };
  dispatch::ManualQueue queue;
  toolkit::Application application(queue, {});
  toolkit::headless::Driver driver(application);
  auto rows = std::make_shared<Rows>();
  auto list = std::make_shared<MenuOutlineView>(toolkit::Rect{{0, 0}, {200, 300}});
  list->setDataSource(rows);
  list->setDelegate(rows);
  list->setAllowsMultipleSelection(true);
  list->reloadData();
  int deletes = 0;
  auto menu = std::make_shared<toolkit::Menu>();
  menu->addItem(toolkit::MenuItem::make(
      "Delete", [&](toolkit::MenuItem&) { ++deletes; }, "d"));
  list->setMenu(menu);
  using Rows_ = std::set<std::size_t>;

  EXPECT_FALSE(driver.pressKey(*list, "d", toolkit::kCommandKeyMask));
  EXPECT_EQ(deletes, 0);

  list->selectRowIndexes({0}, false);
  EXPECT_EQ(driver.rightClickRow(*list, 2), menu);
  EXPECT_EQ(list->selectedRowIndexes(), Rows_{2});
  menu->close();

  list->selectRowIndexes({0, 2}, false);
  EXPECT_EQ(driver.rightClickRow(*list, 2), menu);
  EXPECT_EQ(list->selectedRowIndexes(), (Rows_{0, 2}));
  menu->close();

  EXPECT_EQ(driver.rightClickRow(*list, 3), nullptr);
  EXPECT_EQ(list->selectedRowIndexes(), (Rows_{0, 2}));

  EXPECT_TRUE(driver.pressKey(*list, "d", toolkit::kCommandKeyMask));
  EXPECT_EQ(deletes, 1);
}

}  // namespace
}  // namespace wendrix::testing

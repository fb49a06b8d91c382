#include <gtest/gtest.h>

#include "toolkit/menu.h"
#include "toolkit/status_item.h"
#include "toolkit_fixture.h"

namespace toolkit {
namespace {

using testing::Journal;

struct MenuJournal : MenuDelegate {
  Journal* journal;
  void menuWillOpen(Menu& menu) override { journal->add("willOpen " + menu.title()); }
  void menuDidClose(Menu& menu) override { journal->add("didClose " + menu.title()); }
};

struct MenuTest : testing::ToolkitTest {
  Journal journal;
  std::shared_ptr<MenuJournal> delegate = std::make_shared<MenuJournal>();
  std::shared_ptr<Menu> menu = std::make_shared<Menu>("Main");
  std::shared_ptr<Menu> layout = std::make_shared<Menu>("Work");

  MenuItem::Action record(std::string name) {
    return [this, name](MenuItem&) { journal.add("chose " + name); };
  }

  MenuTest() {
    delegate->journal = &journal;
    menu->setDelegate(delegate);
    menu->addItem(MenuItem::make("Save windows layout...", record("save"), "s"));
    menu->addItem(MenuItem::separator());
    auto work = MenuItem::make("Work");
    work->setSubmenu(layout);
    menu->addItem(work);
    menu->addItem(MenuItem::make("No action"));
    layout->addItem(MenuItem::make("Restore layout", record("restore")));
    auto hide = MenuItem::make("Hide layout windows", record("hide"), "h");
    hide->setKeyEquivalentModifierMask(kCommandKeyMask | kShiftKeyMask);
    layout->addItem(hide);
  }
};

TEST_F(MenuTest, DumpShowsWhatTheUserSees) {
  auto toggle = MenuItem::make("Close other apps", record("toggle"));
  toggle->setState(ControlState::on);
  menu->addItem(toggle);
  auto hidden = MenuItem::make("Debug", record("debug"));
  hidden->setHidden(true);
  menu->addItem(hidden);
  EXPECT_EQ(menu->dump(),
            "Save windows layout... ⌘S\n"
            "---\n"
            "Work >\n"
            "  Restore layout\n"
            "  Hide layout windows ⇧⌘H\n"
            "No action (disabled)\n"
            "Close other apps [on]\n");
}

TEST_F(MenuTest, AutoenablingFollowsActionsOtherwiseTheFlag) {
  struct Case {
    bool autoenables;
    bool hasAction;
    bool flag;
    bool enabled;
  };
  const Case cases[] = {
      {true, true, false, true},
      {true, false, true, false},
      {false, true, false, false},
      {false, false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.autoenables << c.hasAction << c.flag);
    Menu m;
    m.setAutoenablesItems(c.autoenables);
    auto item = MenuItem::make("Item", c.hasAction ? record("item") : nullptr);
    item->setEnabled(c.flag);
    m.addItem(item);
    EXPECT_EQ(m.isItemEnabled(*item), c.enabled);
  }
}

TEST_F(MenuTest, ChoosingClosesTheMenuBeforeTheActionRuns) {
  ASSERT_FALSE(driver.chooseMenuItem(*menu, {"Work", "Restore layout"}));  // not open
  menu->open();
  EXPECT_TRUE(driver.chooseMenuItem(*menu, {"Work", "Restore layout"}));
  EXPECT_FALSE(menu->isOpen());
  EXPECT_FALSE(layout->isOpen());
  EXPECT_EQ(journal.entries,
            (std::vector<std::string>{"willOpen Main", "didClose Main", "chose restore"}));

  menu->open();
  EXPECT_FALSE(driver.chooseMenuItem(*menu, {"No action"}));
  EXPECT_FALSE(driver.chooseMenuItem(*menu, {"Work", "Missing"}));
  EXPECT_TRUE(menu->isOpen());
}

TEST_F(MenuTest, AnActionMayRebuildItsMenu) {
  menu->addItem(MenuItem::make("Rebuild", [this](MenuItem& sender) {
    menu->removeAllItems();
    journal.add("rebuilt from " + sender.title());
  }));
  menu->open();
  EXPECT_TRUE(driver.chooseMenuItem(*menu, {"Rebuild"}));
  EXPECT_EQ(journal.entries.back(), "rebuilt from Rebuild");
  EXPECT_EQ(menu->numberOfItems(), 0u);
}

TEST_F(MenuTest, KeyEquivalentsNeedTheExactModifiers) {
  EXPECT_TRUE(menu->performKeyEquivalent("s", kCommandKeyMask));
  EXPECT_FALSE(menu->performKeyEquivalent("s", kCommandKeyMask | kShiftKeyMask));
  EXPECT_TRUE(menu->performKeyEquivalent("h", kCommandKeyMask | kShiftKeyMask));  // in a submenu
  EXPECT_FALSE(menu->performKeyEquivalent("h", kCommandKeyMask));
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"chose save", "chose hide"}));
}

TEST_F(MenuTest, AnItemBelongsToOneMenu) {
  auto item = MenuItem::make("Moved", record("moved"));
  menu->addItem(item);
  layout->addItem(item);
  EXPECT_EQ(item->menu(), layout.get());
  EXPECT_EQ(menu->itemWithTitle("Moved"), nullptr);
  layout->removeItem(*item);
  EXPECT_EQ(item->menu(), nullptr);
}

TEST_F(MenuTest, ACopiedItemIsInNoMenuAndKeepsItsOwnSettings) {
  MenuItem& hide = *layout->itemWithTitle("Hide layout windows");
  hide.setToolTip("Puts the windows away");
  MenuItem copy = hide;
  copy.setToolTip("Changed");
  copy.setKeyEquivalent("j");
  EXPECT_EQ(copy.menu(), nullptr);
  EXPECT_EQ(copy.keyEquivalentModifierMask(), kCommandKeyMask | kShiftKeyMask);
  EXPECT_EQ(hide.toolTip(), "Puts the windows away");
  EXPECT_EQ(hide.keyEquivalent(), "h");
  // Assigned over, an item stays in its menu.
  hide = copy;
  EXPECT_EQ(hide.menu(), layout.get());
  EXPECT_EQ(hide.toolTip(), "Changed");
}

TEST_F(MenuTest, AddingSeveralItemsMovesThemHereInOrderAndTellsOnce) {
  auto moved = MenuItem::make("Moved");
  layout->addItem(moved);
  auto again = menu->items().front();  // already here: goes to the end
  int changes = 0;
  menu->changed.connect([&changes] { ++changes; });
  menu->addItems({moved, nullptr, MenuItem::separator(), again});
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(moved->menu(), menu.get());
  EXPECT_EQ(layout->itemWithTitle("Moved"), nullptr);
  EXPECT_EQ(menu->dump(),
            "---\n"
            "Work >\n"
            "  Restore layout\n"
            "  Hide layout windows ⇧⌘H\n"
            "No action (disabled)\n"
            "Moved (disabled)\n"
            "---\n"
            "Save windows layout... ⌘S\n");
}

TEST_F(MenuTest, StatusItemOpensItsMenuAndMayEndTheProgram) {
  auto status = app.makeStatusItem();
  EXPECT_FALSE(driver.clickStatusItem(*status));  // no menu yet
  status->setMenu(menu);
  status->setToolTip("Wendrix");
  EXPECT_TRUE(driver.clickStatusItem(*status));
  EXPECT_TRUE(menu->isOpen());
  ASSERT_TRUE(menu->lastPopUp());
  EXPECT_EQ(menu->lastPopUp()->view, status->button().get());

  // A new menu replaces an open one: the old one closes.
  status->setMenu(std::make_shared<Menu>("Next"));
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"willOpen Main", "didClose Main"}));

  status->userRemove();
  EXPECT_FALSE(status->isVisible());
  EXPECT_FALSE(app.isTerminated());
  status->setVisible(true);
  status->setBehavior(StatusItem::kTerminationOnRemoval);
  status->userRemove();
  EXPECT_TRUE(app.isTerminated());
}

}  // namespace
}  // namespace toolkit

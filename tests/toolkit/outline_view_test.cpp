#include <gtest/gtest.h>

#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "toolkit_fixture.h"

namespace toolkit {
namespace {

using testing::Journal;

// A flat list of names; each row's cell shows its name. Journals the
// delegate callbacks; can refuse to select one name.
struct Names : OutlineViewDataSource, OutlineViewDelegate {
  std::vector<std::string> names;
  std::string refused;
  Journal journal;

  std::size_t numberOfChildren(OutlineView&, const OutlineItem* item) override {
    return item ? 0 : names.size();
  }
  OutlineItem child(OutlineView&, std::size_t index, const OutlineItem*) override {
    return names[index];
  }
  std::shared_ptr<View> viewFor(OutlineView& view, const OutlineItem& item) override {
    auto cell = std::static_pointer_cast<TableCellView>(view.makeView("NameCell"));
    cell->textField()->setStringValue(std::any_cast<std::string>(item));
    return cell;
  }
  bool shouldSelectItem(OutlineView&, const OutlineItem& item) override {
    return std::any_cast<std::string>(item) != refused;
  }
  void selectionIsChanging(OutlineView&) override { journal.add("isChanging"); }
  void selectionDidChange(OutlineView& view) override {
    journal.add("didChange " + std::to_string(view.selectedRow()));
  }
};

struct OutlineViewTest : testing::ToolkitTest {
  std::shared_ptr<Names> names = std::make_shared<Names>();
  std::shared_ptr<OutlineView> list = std::make_shared<OutlineView>(Rect{{0, 0}, {200, 300}});

  void SetUp() override {
    names->names = {"Work", "Home", "Focus"};
    show(*list);
  }

  // Shows `names` in `view`.
  void show(OutlineView& view) {
    view.registerCell("NameCell", [] {
      auto cell = std::make_shared<TableCellView>();
      cell->setTextField(std::make_shared<TextField>());
      return cell;
    });
    view.setDataSource(names);
    view.setDelegate(names);
    view.reloadData();
  }
};

TEST_F(OutlineViewTest, ReloadTakesASnapshotOfTheItems) {
  names->names = {"Other"};
  EXPECT_EQ(driver.rowTexts(*list), (std::vector<std::string>{"Work", "Home", "Focus"}));
  ASSERT_NE(list->itemAtRow(2), nullptr);
  EXPECT_EQ(std::any_cast<std::string>(*list->itemAtRow(2)), "Focus");

  list->reloadData();
  EXPECT_EQ(driver.rowTexts(*list), (std::vector<std::string>{"Other"}));
  EXPECT_EQ(list->itemAtRow(1), nullptr);
  EXPECT_EQ(list->makeView("NameCell")->identifier(), "NameCell");
  EXPECT_EQ(list->makeView("Unknown"), nullptr);
}

TEST_F(OutlineViewTest, ReloadDropsSelectedRowsPastTheEnd) {
  list->selectRowIndexes({2}, false);
  names->journal.entries.clear();
  names->names = {"Work"};
  list->reloadData();
  EXPECT_EQ(list->selectedRow(), -1);
  EXPECT_EQ(names->journal.entries, (std::vector<std::string>{"didChange -1"}));
}

TEST_F(OutlineViewTest, SelectionCallbacksOfUserAndProgram) {
  struct Case {
    const char* what;
    std::function<void(OutlineViewTest&)> act;
    int selected;
    std::vector<std::string> journal;
  };
  const Case cases[] = {
      {"program selects",
       [](auto& t) { t.list->selectRowIndexes({1}, false); },
       1,
       {"didChange 1"}},
      {"program selects the same row again",
       [](auto& t) {
         t.list->selectRowIndexes({1}, false);
         t.list->selectRowIndexes({1}, false);
       },
       1,
       {"didChange 1"}},
      {"user clicks a row",
       [](auto& t) { t.driver.clickRow(*t.list, 2); },
       2,
       {"isChanging", "didChange 2"}},
      {"user clicks the selected row",
       [](auto& t) {
         t.driver.clickRow(*t.list, 0);
         t.driver.clickRow(*t.list, 0);
       },
       0,
       {"isChanging", "didChange 0"}},
      {"user clicks empty space",
       [](auto& t) {
         t.list->selectRowIndexes({0}, false);
         t.driver.clickEmptySpace(*t.list);
       },
       -1,
       {"didChange 0", "isChanging", "didChange -1"}},
      {"user clicks empty space with nothing selected",
       [](auto& t) { t.driver.clickEmptySpace(*t.list); },
       -1,
       {}},
      {"program deselects",
       [](auto& t) {
         t.list->selectRowIndexes({0}, false);
         t.list->deselectAll();
       },
       -1,
       {"didChange 0", "didChange -1"}},
      {"delegate refuses the row",
       [](auto& t) {
         t.names->refused = "Home";
         EXPECT_FALSE(t.driver.clickRow(*t.list, 1));
       },
       -1,
       {}},
      {"click out of range", [](auto& t) { EXPECT_FALSE(t.driver.clickRow(*t.list, 3)); }, -1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    list->deselectAll();
    names->refused.clear();
    names->journal.entries.clear();
    c.act(*this);
    EXPECT_EQ(list->selectedRow(), c.selected);
    EXPECT_EQ(names->journal.entries, c.journal);
  }
}

TEST_F(OutlineViewTest, MultipleSelectionExtendsOnlyWhenAllowed) {
  driver.clickRow(*list, 0);
  driver.clickRow(*list, 2, /*extend=*/true);
  EXPECT_EQ(list->selectedRowIndexes(), (std::set<std::size_t>{2}));

  list->setAllowsMultipleSelection(true);
  driver.clickRow(*list, 0, true);
  EXPECT_EQ(list->selectedRowIndexes(), (std::set<std::size_t>{0, 2}));
  driver.clickRow(*list, 2, true);
  EXPECT_EQ(list->selectedRowIndexes(), (std::set<std::size_t>{0}));
  list->selectRowIndexes({1, 7}, true);
  EXPECT_EQ(list->selectedRowIndexes(), (std::set<std::size_t>{0, 1}));
}

TEST_F(OutlineViewTest, GeometryOfRows) {
  // Rows of 24 with 2 between them.
  EXPECT_EQ(list->rectOfRow(1), (Rect{{0, 26}, {200, 26}}));
  EXPECT_EQ(list->rowAtPoint({10, 0}), 0);
  EXPECT_EQ(list->rowAtPoint({10, 51.9}), 1);
  EXPECT_EQ(list->rowAtPoint({10, 52}), 2);
  EXPECT_EQ(list->rowAtPoint({10, 78}), -1);
  EXPECT_EQ(list->rowAtPoint({-1, 10}), -1);
  EXPECT_EQ(list->contentHeight(), 78);

  View* cell = list->viewAtRow(1);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(list->rowForView(cell), 1);
  EXPECT_EQ(list->rowForView(static_cast<TableCellView*>(cell)->textField()), 1);
  EXPECT_EQ(list->rowForView(list.get()), -1);
  EXPECT_EQ(list->rowForView(nullptr), -1);
}

// A list whose context menu acts on the clicked row: a right-click on an
// unselected row selects only it; below the rows there is no menu; key
// equivalents reach the menu only while a row is selected.
class ContextMenuList : public OutlineView {
 public:
  using OutlineView::OutlineView;

 protected:
  std::shared_ptr<Menu> menuForEvent(Point point) override {
    int row = rowAtPoint(point);
    if (row < 0) return nullptr;
    if (!selectedRowIndexes().contains(static_cast<std::size_t>(row)))
      selectRowIndexes({static_cast<std::size_t>(row)}, false);
    return menu();
  }
  bool keyDown(const std::string& key, std::uint64_t modifiers) override {
    return selectedRow() >= 0 && menu() && menu()->performKeyEquivalent(key, modifiers);
  }
};

TEST_F(OutlineViewTest, SubclassesDecideTheContextMenuAndKeys) {
  auto contextList = std::make_shared<ContextMenuList>(Rect{{0, 0}, {200, 300}});
  show(*contextList);
  contextList->setAllowsMultipleSelection(true);
  int deletes = 0;
  auto menu = std::make_shared<Menu>();
  menu->addItem(MenuItem::make(
      "Delete", [&](MenuItem&) { ++deletes; }, "d"));
  contextList->setMenu(menu);

  EXPECT_FALSE(driver.pressKey(*contextList, "d", kCommandKeyMask));
  EXPECT_EQ(deletes, 0);

  auto shown = driver.rightClickRow(*contextList, 1);
  EXPECT_EQ(shown, menu);
  EXPECT_TRUE(menu->isOpen());
  ASSERT_TRUE(menu->lastPopUp());
  EXPECT_EQ(menu->lastPopUp()->view, contextList.get());
  EXPECT_EQ(contextList->clickedRow(), 1);
  EXPECT_EQ(contextList->selectedRowIndexes(), (std::set<std::size_t>{1}));
  menu->close();

  contextList->selectRowIndexes({0, 2}, false);
  driver.rightClickRow(*contextList, 2);
  EXPECT_EQ(contextList->selectedRowIndexes(), (std::set<std::size_t>{0, 2}));
  menu->close();

  EXPECT_EQ(driver.rightClickRow(*contextList, 99), nullptr);
  EXPECT_EQ(contextList->clickedRow(), -1);

  EXPECT_TRUE(driver.pressKey(*contextList, "d", kCommandKeyMask));
  EXPECT_EQ(deletes, 1);
}

}  // namespace
}  // namespace toolkit

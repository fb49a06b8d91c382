#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "toolkit/view.h"

namespace toolkit {

class Menu;
class OutlineView;

// A row's object: any value the data source hands out (a layout, an entry
// of a fixed list, an application...).
using OutlineItem = std::any;

class OutlineViewDataSource {
 public:
  virtual ~OutlineViewDataSource() = default;
  // Children of `item`; null means the top level.
  virtual std::size_t numberOfChildren(OutlineView& view, const OutlineItem* item) = 0;
  virtual OutlineItem child(OutlineView& view, std::size_t index, const OutlineItem* item) = 0;
  virtual bool isItemExpandable(OutlineView& /*view*/, const OutlineItem& /*item*/) {
    return false;
  }
};

class OutlineViewDelegate {
 public:
  virtual ~OutlineViewDelegate() = default;
  // The cell of a row; null leaves the row empty.
  virtual std::shared_ptr<View> viewFor(OutlineView& view, const OutlineItem& item) = 0;
  // The row's height; none means the view's `rowHeight`.
  virtual std::optional<double> heightOfRow(OutlineView& /*view*/, const OutlineItem& /*item*/) {
    return std::nullopt;
  }
  // Asked before the user selects a row.
  virtual bool shouldSelectItem(OutlineView& /*view*/, const OutlineItem& /*item*/) { return true; }
  // User only: the user is changing the selection (the new selection is
  // already in place; `selectionDidChange` follows).
  virtual void selectionIsChanging(OutlineView& /*view*/) {}
  // The selection changed, by the user or the program.
  virtual void selectionDidChange(OutlineView& /*view*/) {}
};

// A list of rows, each showing one item of the data source through a cell
// the delegate makes. Only top-level items are shown (the lists are flat).
// `reloadData` takes a snapshot: the rows keep the items and cells it made
// until the next reload. Rows are stacked from the top, each followed by the
// vertical intercell spacing.
class OutlineView : public View {
 public:
  using View::View;

  void setDataSource(std::weak_ptr<OutlineViewDataSource> source) {
    dataSource_ = std::move(source);
  }
  void setDelegate(std::weak_ptr<OutlineViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // Reads the items again and makes their cells. Selected rows past the new
  // end are dropped (telling the delegate when that changes the selection).
  void reloadData();

  std::size_t numberOfRows() const { return rows_.size(); }
  // Null for a row out of range.
  const OutlineItem* itemAtRow(int row) const;
  // The cell of a row, or null.
  View* viewAtRow(int row) const;
  // The row whose cell is `view` or holds it; -1 when none.
  int rowForView(const View* view) const;

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height) { rowHeight_ = height; }
  Size intercellSpacing() const { return intercellSpacing_; }
  void setIntercellSpacing(Size spacing) { intercellSpacing_ = spacing; }
  // The insets of the scroll view around the list.
  EdgeInsets contentInsets() const { return contentInsets_; }
  void setContentInsets(EdgeInsets insets) { contentInsets_ = insets; }
  Rect rectOfRow(int row) const;
  // -1 when no row is at `point`.
  int rowAtPoint(Point point) const;
  // The height of all rows with their spacing.
  double contentHeight() const;

  bool allowsMultipleSelection() const { return allowsMultiple_; }
  void setAllowsMultipleSelection(bool allows) { allowsMultiple_ = allows; }
  const std::set<std::size_t>& selectedRowIndexes() const { return selected_; }
  // The first selected row, or -1.
  int selectedRow() const;
  // Selects the rows (adding them to the selection when `extend`); rows out
  // of range are ignored. Tells the delegate `selectionDidChange` when the
  // selection changed, never `selectionIsChanging`.
  void selectRowIndexes(const std::set<std::size_t>& rows, bool extend);
  void deselectAll() { selectRowIndexes({}, false); }

  // The row last clicked with the secondary button, or -1.
  int clickedRow() const { return clickedRow_; }

  // Cell prototypes by identifier (in place of cells designed in interface files).
  void registerCell(std::string identifier, std::function<std::shared_ptr<View>()> make);
  // A new cell of a registered prototype, carrying the identifier; null when none.
  std::shared_ptr<View> makeView(const std::string& identifier) const;

  // User input.
  // A click on a row: when the delegate agrees, it becomes the only selected
  // row (with `extend`, it is added or removed); false when out of range or refused.
  bool userClickRow(std::size_t row, bool extend = false);
  // A click where no row is: the selection is emptied.
  void userClickEmpty();
  // A secondary click at `point`: returns the menu to show (already popped
  // up there), or null.
  std::shared_ptr<Menu> userRightClick(Point point);
  // A key press while the list has the focus; true when handled.
  bool userKeyDown(const std::string& key, std::uint64_t modifiers);

 protected:
  // The context menu for a secondary click at `point`; by default the view's menu.
  virtual std::shared_ptr<Menu> menuForEvent(Point point);
  // A key press; by default not handled.
  virtual bool keyDown(const std::string& /*key*/, std::uint64_t /*modifiers*/) { return false; }

 private:
  struct Row {
    OutlineItem item;
    std::shared_ptr<View> cell;
    double height;
  };
  // Changes the selection, telling the delegate; `byUser` adds `selectionIsChanging`.
  void changeSelection(std::set<std::size_t> rows, bool byUser);

  std::weak_ptr<OutlineViewDataSource> dataSource_;
  std::weak_ptr<OutlineViewDelegate> delegate_;
  std::vector<Row> rows_;
  std::set<std::size_t> selected_;
  bool allowsMultiple_ = false;
  int clickedRow_ = -1;
  double rowHeight_ = 24;
  Size intercellSpacing_{3, 2};
  EdgeInsets contentInsets_;
  std::map<std::string, std::function<std::shared_ptr<View>()>> prototypes_;
};

}  // namespace toolkit

#include "toolkit/outline_view.h"

#include "toolkit/menu.h"

namespace toolkit {

void OutlineView::reloadData() {
  // Old cells leave the view before the new ones are made.
  for (auto& row : rows_)
    if (row.cell) row.cell->removeFromSuperview();
  rows_.clear();

  auto source = dataSource_.lock();
  auto delegate = delegate_.lock();
  if (source) {
    const std::size_t count = source->numberOfChildren(*this, nullptr);
    rows_.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
      rows_.push_back({source->child(*this, i, nullptr), nullptr, rowHeight_});
  }
  double y = 0;
  for (auto& row : rows_) {
    if (delegate) {
      row.height = delegate->heightOfRow(*this, row.item).value_or(rowHeight_);
      row.cell = delegate->viewFor(*this, row.item);
    }
    if (row.cell) {
      row.cell->setFrame({{0, y}, {frame().size.width, row.height}});
      addSubview(row.cell);
    }
    y += row.height + intercellSpacing_.height;
  }

  std::set<std::size_t> kept;
  for (auto index : selected_)
    if (index < rows_.size()) kept.insert(index);
  if (kept != selected_) changeSelection(std::move(kept), false);
  changed.emit();
}

const OutlineItem* OutlineView::itemAtRow(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
  return &rows_[static_cast<std::size_t>(row)].item;
}

View* OutlineView::viewAtRow(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
  return rows_[static_cast<std::size_t>(row)].cell.get();
}

int OutlineView::rowForView(const View* view) const {
  for (const View* v = view; v; v = v->superview()) {
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].cell.get() == v) return static_cast<int>(i);
  }
  return -1;
}

Rect OutlineView::rectOfRow(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return {};
  double y = 0;
  for (int i = 0; i < row; ++i)
    y += rows_[static_cast<std::size_t>(i)].height + intercellSpacing_.height;
  return {
      {0, y},
      {frame().size.width, rows_[static_cast<std::size_t>(row)].height + intercellSpacing_.height}};
}

int OutlineView::rowAtPoint(Point point) const {
  if (point.x < 0 || point.x >= frame().size.width) return -1;
  double y = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const double next = y + rows_[i].height + intercellSpacing_.height;
    if (point.y >= y && point.y < next) return static_cast<int>(i);
    y = next;
  }
  return -1;
}

double OutlineView::contentHeight() const {
  double height = 0;
  for (const auto& row : rows_)
    height += row.height + intercellSpacing_.height;
  return height;
}

int OutlineView::selectedRow() const {
  return selected_.empty() ? -1 : static_cast<int>(*selected_.begin());
}

void OutlineView::selectRowIndexes(const std::set<std::size_t>& rows, bool extend) {
  std::set<std::size_t> next = extend ? selected_ : std::set<std::size_t>{};
  for (auto row : rows)
    if (row < rows_.size()) next.insert(row);
  if (!allowsMultiple_ && next.size() > 1) next = {*next.rbegin()};
  if (next != selected_) changeSelection(std::move(next), false);
}

void OutlineView::changeSelection(std::set<std::size_t> rows, bool byUser) {
  auto delegate = delegate_.lock();
  selected_ = std::move(rows);
  // The delegate reads the new selection, as it does while the user drags.
  if (byUser && delegate) delegate->selectionIsChanging(*this);
  changed.emit();
  if (delegate) delegate->selectionDidChange(*this);
}

void OutlineView::registerCell(std::string identifier,
                               std::function<std::shared_ptr<View>()> make) {
  prototypes_[std::move(identifier)] = std::move(make);
}

std::shared_ptr<View> OutlineView::makeView(const std::string& identifier) const {
  auto it = prototypes_.find(identifier);
  if (it == prototypes_.end()) return nullptr;
  auto view = it->second();
  if (view) view->setIdentifier(identifier);
  return view;
}

bool OutlineView::userClickRow(std::size_t row, bool extend) {
  if (row >= rows_.size() || isHidden()) return false;
  if (auto delegate = delegate_.lock();
      delegate && !delegate->shouldSelectItem(*this, rows_[row].item))
    return false;
  std::set<std::size_t> next{row};
  if (extend && allowsMultiple_) {
    next = selected_;
    if (!next.erase(row)) next.insert(row);
  }
  if (next != selected_) changeSelection(std::move(next), true);
  return true;
}

void OutlineView::userClickEmpty() {
  if (!selected_.empty()) changeSelection({}, true);
}

std::shared_ptr<Menu> OutlineView::userRightClick(Point point) {
  clickedRow_ = rowAtPoint(point);
  auto shown = menuForEvent(point);
  if (shown) shown->popUp(nullptr, point, this);
  return shown;
}

bool OutlineView::userKeyDown(const std::string& key, std::uint64_t modifiers) {
  return keyDown(key, modifiers);
}

std::shared_ptr<Menu> OutlineView::menuForEvent(Point /*point*/) {
  return menu();
}

}  // namespace toolkit

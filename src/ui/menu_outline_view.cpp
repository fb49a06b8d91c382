#include "ui/menu_outline_view.h"

#include "toolkit/menu.h"

namespace wendrix {

std::shared_ptr<toolkit::Menu> MenuOutlineView::menuForEvent(toolkit::Point point) {
  const int row = rowAtPoint(point);
  if (row < 0) return nullptr;
  const auto index = static_cast<std::size_t>(row);
  if (!selectedRowIndexes().contains(index)) selectRowIndexes({index}, false);
  return menu();
}

bool MenuOutlineView::keyDown(const std::string& key, std::uint64_t modifiers) {
  return !selectedRowIndexes().empty() && menu() && menu()->performKeyEquivalent(key, modifiers);
}

}  // namespace wendrix

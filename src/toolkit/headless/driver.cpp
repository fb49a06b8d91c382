#include "toolkit/headless/driver.h"

#include "toolkit/alert.h"

namespace toolkit::headless {

std::shared_ptr<Menu> Driver::rightClickRow(OutlineView& list, std::size_t row) {
  Point point{1, list.contentHeight() + 1};
  if (row < list.numberOfRows()) {
    Rect rect = list.rectOfRow(static_cast<int>(row));
    point = {rect.midX(), rect.midY()};
  }
  return list.userRightClick(point);
}

std::vector<std::string> Driver::rowTexts(const OutlineView& list) {
  std::vector<std::string> texts;
  for (std::size_t row = 0; row < list.numberOfRows(); ++row) {
    auto* cell = dynamic_cast<TableCellView*>(list.viewAtRow(static_cast<int>(row)));
    texts.push_back(cell && cell->textField() ? cell->textField()->stringValue() : std::string());
  }
  return texts;
}

bool Driver::typeAndEnd(TextField& field, std::string text) {
  if (!field.userType(std::move(text))) return false;
  field.userEndEditing();
  return true;
}

bool Driver::chooseMenuItem(Menu& menu, const std::vector<std::string>& titles) {
  if (titles.empty() || !menu.isOpen()) return false;
  Menu* current = &menu;
  MenuItem* item = nullptr;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    item = current->itemWithTitle(titles[i]);
    if (!item || item->isHidden() || !current->isItemEnabled(*item)) return false;
    if (i + 1 < titles.size()) {
      if (!item->submenu()) return false;
      current = item->submenu().get();
      current->open();
    }
  }
  // Hold the item and its menu: closing may rebuild the menu.
  auto owner = current->shared_from_this();
  std::shared_ptr<MenuItem> chosen;
  for (const auto& candidate : current->items())
    if (candidate.get() == item) chosen = candidate;
  menu.close();
  return current->performItem(*chosen);
}

bool Driver::answerAlert(Window& window, std::size_t buttonIndex, std::optional<std::string> text) {
  auto* alert = dynamic_cast<Alert*>(window.attachedSheet());
  if (!alert || buttonIndex >= alert->buttons().size()) return false;
  if (text) {
    auto* field = dynamic_cast<TextField*>(alert->accessoryView().get());
    if (!field || !field->userType(std::move(*text))) return false;
  }
  return window.endSheet(Alert::responseOfButton(buttonIndex));
}

void Driver::answerNextModal(std::size_t buttonIndex, std::optional<std::string> text) {
  application_.scriptModalAnswer({Alert::responseOfButton(buttonIndex), std::move(text)});
}

}  // namespace toolkit::headless

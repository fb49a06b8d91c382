#include "toolkit/status_item.h"

#include "toolkit/application.h"
#include "toolkit/menu.h"
#include "toolkit/window.h"

namespace toolkit {

StatusItem::StatusItem(Application& application)
    : application_(application),
      button_(std::make_shared<View>(Rect{{0, 0}, {22, 22}})),
      buttonWindow_(
          std::make_shared<Window>(application, Rect{{0, 0}, {22, 22}}, WindowStyle::statusBar)) {
  buttonWindow_->setContentView(button_);
  buttonWindow_->orderFront();
}

StatusItem::~StatusItem() = default;

void StatusItem::setScreenFrame(Rect frame) {
  buttonWindow_->setFrame(frame);
}

void StatusItem::setImage(std::optional<Image> image) {
  image_ = std::move(image);
  changed.emit();
}

void StatusItem::setToolTip(std::string toolTip) {
  toolTip_ = std::move(toolTip);
  changed.emit();
}

void StatusItem::setMenu(std::shared_ptr<Menu> menu) {
  if (menu_ && menu_ != menu) menu_->close();
  menu_ = std::move(menu);
  changed.emit();
}

void StatusItem::setVisible(bool visible) {
  visible_ = visible;
  changed.emit();
}

bool StatusItem::userClick() {
  if (!visible_ || !menu_) return false;
  // Hold the menu: opening it may replace the item's menu.
  auto menu = menu_;
  const Point below{0, button_->frame().size.height};
  // The button is in its status-bar window: the pop-up reaches the backend.
  menu->popUp(nullptr, below, button_.get());
  return true;
}

void StatusItem::userRemove() {
  setVisible(false);
  if (behavior_ & kTerminationOnRemoval) application_.terminate();
}

}  // namespace toolkit

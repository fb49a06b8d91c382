#pragma once

#include <memory>

#include "toolkit/application.h"
#include "toolkit/menu.h"

class QMenu;
class QPoint;

namespace toolkit::qt {

// A QMenu that shows a toolkit menu: rebuilt whenever the menu changes,
// opening and closing with it (the menu's delegate hears Qt's show and
// hide), and a chosen action runs the item. Submenus are mirrored too.
class MenuMirror {
 public:
  MenuMirror(const Application& application, std::shared_ptr<Menu> menu);
  ~MenuMirror();
  MenuMirror(const MenuMirror&) = delete;
  MenuMirror& operator=(const MenuMirror&) = delete;

  QMenu* qmenu() const { return qmenu_.get(); }
  const std::shared_ptr<Menu>& menu() const { return menu_; }
  // Shows the menu at `globalPos` (the model menu opens as it shows).
  void popup(const QPoint& globalPos);

 private:
  void rebuild();

  const Application& application_;
  std::shared_ptr<Menu> menu_;
  std::unique_ptr<QMenu> qmenu_;
  std::vector<std::unique_ptr<MenuMirror>> submenus_;
  Signal<>::Id connection_ = 0;
  bool dirty_ = true;
};

}  // namespace toolkit::qt

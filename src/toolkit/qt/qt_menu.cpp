#include "toolkit/qt/qt_menu.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>

#include "toolkit/qt/qt_images.h"

namespace toolkit::qt {
namespace {

// Menu titles are user text: a single "&" would become a mnemonic.
QString menuText(const std::string& title) {
  return QString::fromStdString(title).replace('&', "&&");
}

QKeySequence shortcutOf(const MenuItem& item) {
  if (item.keyEquivalent().empty()) return {};
  int combined = QKeySequence(QString::fromStdString(item.keyEquivalent()))[0].key();
  const auto mask = item.keyEquivalentModifierMask();
  // Command and Control both become Control on this desktop.
  if (mask & (kCommandKeyMask | kControlKeyMask)) combined |= Qt::CTRL;
  if (mask & kShiftKeyMask) combined |= Qt::SHIFT;
  if (mask & kOptionKeyMask) combined |= Qt::ALT;
  return QKeySequence(combined);
}

}  // namespace

MenuMirror::MenuMirror(const Application& application, std::shared_ptr<Menu> menu)
    : application_(application), menu_(std::move(menu)), qmenu_(std::make_unique<QMenu>()) {
  connection_ = menu_->changed.connect([this] {
    dirty_ = true;
    if (qmenu_->isVisible()) rebuild();
    // The model closed the menu (a choice elsewhere, a replaced menu).
    if (!menu_->isOpen() && qmenu_->isVisible()) qmenu_->hide();
  });
  QObject::connect(qmenu_.get(), &QMenu::aboutToShow, [this] {
    if (dirty_) rebuild();
    menu_->open();
  });
  QObject::connect(qmenu_.get(), &QMenu::aboutToHide, [this] { menu_->close(); });
  rebuild();
}

MenuMirror::~MenuMirror() {
  menu_->changed.disconnect(connection_);
}

void MenuMirror::popup(const QPoint& globalPos) {
  if (dirty_) rebuild();
  qmenu_->popup(globalPos);
}

void MenuMirror::rebuild() {
  dirty_ = false;
  qmenu_->clear();
  submenus_.clear();
  for (const auto& item : menu_->items()) {
    if (item->isHidden()) continue;
    if (item->isSeparator()) {
      qmenu_->addSeparator();
      continue;
    }
    QAction* action = qmenu_->addAction(menuText(item->title()));
    action->setEnabled(menu_->isItemEnabled(*item));
    action->setToolTip(QString::fromStdString(item->toolTip()));
    if (item->state() != ControlState::off) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    if (item->image()) action->setIcon(iconFor(application_, *item->image()));
    // Shown, not bound: the menu's owner handles key equivalents.
    action->setShortcut(shortcutOf(*item));
    action->setShortcutContext(Qt::WidgetShortcut);
    if (item->submenu()) {
      auto sub = std::make_unique<MenuMirror>(application_, item->submenu());
      action->setMenu(sub->qmenu());
      submenus_.push_back(std::move(sub));
      continue;
    }
    std::weak_ptr<MenuItem> weak = item;
    QObject::connect(action, &QAction::triggered, [this, weak] {
      if (auto chosen = weak.lock()) menu_->performItem(*chosen);
    });
  }
}

}  // namespace toolkit::qt

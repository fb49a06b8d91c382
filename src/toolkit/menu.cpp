#include "toolkit/menu.h"

#include <algorithm>

#include "toolkit/application.h"
#include "toolkit/window.h"

namespace toolkit {

const MenuItem::Extras MenuItem::kNoExtras;

MenuItem::MenuItem(std::string title, Action action, std::string keyEquivalent)
    : title_(std::move(title)), action_(std::move(action)) {
  if (!keyEquivalent.empty()) editExtras().keyEquivalent = std::move(keyEquivalent);
}

MenuItem::MenuItem(const MenuItem& other)
    : separator_(other.separator_),
      enabled_(other.enabled_),
      hidden_(other.hidden_),
      title_(other.title_),
      action_(other.action_),
      represented_(other.represented_),
      submenu_(other.submenu_),
      extras_(other.extras_ ? std::make_unique<Extras>(*other.extras_) : nullptr) {}

MenuItem& MenuItem::operator=(const MenuItem& other) {
  if (this != &other) {
    MenuItem copy(other);
    copy.menu_ = menu_;
    *this = std::move(copy);
  }
  return *this;
}

MenuItem::~MenuItem() = default;

MenuItem::Extras& MenuItem::editExtras() {
  if (!extras_) extras_ = std::make_unique<Extras>();
  return *extras_;
}

std::shared_ptr<MenuItem> MenuItem::make(std::string title, Action action,
                                         std::string keyEquivalent) {
  return std::make_shared<MenuItem>(std::move(title), std::move(action), std::move(keyEquivalent));
}

MenuItem MenuItem::separatorItem() {
  MenuItem item;
  item.separator_ = true;
  item.enabled_ = false;
  return item;
}

std::shared_ptr<MenuItem> MenuItem::separator() {
  return std::make_shared<MenuItem>(separatorItem());
}

void MenuItem::touched() {
  if (menu_) menu_->changed.emit();
}

void MenuItem::setTitle(std::string title) {
  title_ = std::move(title);
  touched();
}
void MenuItem::setAction(Action action) {
  action_ = std::move(action);
  touched();
}
void MenuItem::setKeyEquivalent(std::string key) {
  editExtras().keyEquivalent = std::move(key);
  touched();
}
void MenuItem::setKeyEquivalentModifierMask(std::uint64_t mask) {
  editExtras().keyMask = mask;
  touched();
}
void MenuItem::setEnabled(bool enabled) {
  enabled_ = enabled;
  touched();
}
void MenuItem::setHidden(bool hidden) {
  hidden_ = hidden;
  touched();
}
void MenuItem::setState(ControlState state) {
  editExtras().state = state;
  touched();
}
void MenuItem::setImage(std::optional<Image> image) {
  editExtras().image = std::move(image);
  touched();
}
void MenuItem::setToolTip(std::string toolTip) {
  editExtras().toolTip = std::move(toolTip);
  touched();
}
void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
  submenu_ = std::move(submenu);
  touched();
}

MenuItem* Menu::itemAt(std::size_t index) const {
  return index < items_.size() ? items_[index].get() : nullptr;
}

MenuItem* Menu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_)
    if (!item->isSeparator() && item->title() == title) return item.get();
  return nullptr;
}

void Menu::adopt(MenuItem& item) {
  if (item.menu_ && item.menu_ != this) item.menu_->removeItem(item);
  item.menu_ = this;
}

void Menu::addItem(std::shared_ptr<MenuItem> item) {
  insertItem(std::move(item), items_.size());
}

void Menu::addItems(std::vector<std::shared_ptr<MenuItem>> items) {
  const std::size_t needed = items_.size() + items.size();
  if (needed > items_.capacity()) items_.reserve(std::max(needed, 2 * items_.capacity()));
  for (auto& item : items) {
    if (!item) continue;
    if (item->menu_ == this) detach(*item);
    adopt(*item);
    items_.push_back(std::move(item));
  }
  changed.emit();
}

void Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
  if (!item) return;
  if (item->menu_ == this) removeItem(*item);
  adopt(*item);
  index = std::min(index, items_.size());
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
  changed.emit();
}

bool Menu::detach(const MenuItem& item) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const auto& candidate) { return candidate.get() == &item; });
  if (it == items_.end()) return false;
  (*it)->menu_ = nullptr;
  items_.erase(it);
  return true;
}

void Menu::removeItem(const MenuItem& item) {
  if (detach(item)) changed.emit();
}

void Menu::removeAllItems() {
  for (auto& item : items_)
    item->menu_ = nullptr;
  items_.clear();
  changed.emit();
}

void Menu::setAutoenablesItems(bool on) {
  autoenables_ = on;
  changed.emit();
}

bool Menu::isItemEnabled(const MenuItem& item) const {
  if (item.isSeparator()) return false;
  if (autoenables_) return item.action() != nullptr || item.submenu() != nullptr;
  return item.isEnabled();
}

void Menu::open() {
  if (open_) return;
  open_ = true;
  // Hold the menu and its delegate: the delegate may drop either.
  auto self = shared_from_this();
  if (auto delegate = delegate_.lock()) delegate->menuWillOpen(*this);
  changed.emit();
}

void Menu::close() {
  if (!open_) return;
  auto self = shared_from_this();
  for (const auto& item : items_)
    if (item->submenu()) item->submenu()->close();
  open_ = false;
  if (auto delegate = delegate_.lock()) delegate->menuDidClose(*this);
  changed.emit();
}

void Menu::popUp(const MenuItem* positioningItem, Point location, const View* view) {
  lastPopUp_ = PopUp{positioningItem, location, view};
  open();
  if (Window* window = view ? view->window() : nullptr)
    window->application().menuPoppedUp.emit(*this, view, location);
}

bool Menu::performItem(MenuItem& item) {
  if (!isItemEnabled(item) || item.isHidden() || !item.action()) return false;
  // The item may be removed by its own action: keep it and the action alive.
  auto keep = std::find_if(items_.begin(), items_.end(),
                           [&](const auto& candidate) { return candidate.get() == &item; });
  std::shared_ptr<MenuItem> holder = keep != items_.end() ? *keep : nullptr;
  MenuItem::Action action = item.action();
  action(item);
  return true;
}

bool Menu::performKeyEquivalent(const std::string& key, std::uint64_t modifiers) {
  if (key.empty()) return false;
  // A copy: an action may change the menu.
  auto items = items_;
  for (const auto& item : items) {
    if (item->isHidden() || item->isSeparator()) continue;
    if (item->submenu() && item->submenu()->performKeyEquivalent(key, modifiers)) return true;
    if (item->keyEquivalent() == key && item->keyEquivalentModifierMask() == modifiers &&
        isItemEnabled(*item)) {
      return performItem(*item);
    }
  }
  return false;
}

namespace {

std::string keyText(const MenuItem& item) {
  if (item.keyEquivalent().empty()) return {};
  std::string out;
  const auto mask = item.keyEquivalentModifierMask();
  if (mask & kControlKeyMask) out += "⌃";
  if (mask & kOptionKeyMask) out += "⌥";
  if (mask & kShiftKeyMask) out += "⇧";
  if (mask & kCommandKeyMask) out += "⌘";
  std::string key = item.keyEquivalent();
  for (auto& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out + key;
}

}  // namespace

void Menu::dumpInto(std::string& out, int depth) const {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  for (const auto& item : items_) {
    if (item->isHidden()) continue;
    out += indent;
    if (item->isSeparator()) {
      out += "---\n";
      continue;
    }
    out += item->title();
    if (item->state() == ControlState::on) out += " [on]";
    if (item->state() == ControlState::mixed) out += " [-]";
    if (auto key = keyText(*item); !key.empty()) out += " " + key;
    if (!isItemEnabled(*item)) out += " (disabled)";
    if (item->submenu()) {
      out += " >\n";
      item->submenu()->dumpInto(out, depth + 1);
      continue;
    }
    out += "\n";
  }
}

std::string Menu::dump() const {
  std::string out;
  dumpInto(out, 0);
  return out;
}

}  // namespace toolkit

#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/geometry.h"
#include "toolkit/image.h"
#include "toolkit/signal.h"
#include "toolkit/style.h"

namespace toolkit {

class Menu;
class View;

// Modifier masks of key equivalents, in the numbering shortcuts are stored in.
inline constexpr std::uint64_t kShiftKeyMask = 0x20000;
inline constexpr std::uint64_t kControlKeyMask = 0x40000;
inline constexpr std::uint64_t kOptionKeyMask = 0x80000;
inline constexpr std::uint64_t kCommandKeyMask = 0x100000;

// One entry of a menu: a titled command, a separator, or a submenu holder.
class MenuItem {
 public:
  using Action = std::function<void(MenuItem& sender)>;

  MenuItem() = default;
  MenuItem(std::string title, Action action, std::string keyEquivalent = {});
  // A copy is in no menu.
  MenuItem(const MenuItem& other);
  MenuItem& operator=(const MenuItem& other);
  MenuItem(MenuItem&&) noexcept = default;
  MenuItem& operator=(MenuItem&&) noexcept = default;
  ~MenuItem();
  static std::shared_ptr<MenuItem> make(std::string title, Action action = nullptr,
                                        std::string keyEquivalent = {});
  static std::shared_ptr<MenuItem> separator();
  // A separator held by value, for an item kept inside another object.
  static MenuItem separatorItem();

  bool isSeparator() const { return separator_; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const Action& action() const { return action_; }
  void setAction(Action action);
  // The key that chooses the item, lower case; Command is implied unless
  // `setKeyEquivalentModifierMask` says otherwise.
  const std::string& keyEquivalent() const { return extras().keyEquivalent; }
  void setKeyEquivalent(std::string key);
  std::uint64_t keyEquivalentModifierMask() const { return extras().keyMask; }
  void setKeyEquivalentModifierMask(std::uint64_t mask);
  // The stored flag; see `Menu::isItemEnabled` for what a menu shows.
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  ControlState state() const { return extras().state; }
  void setState(ControlState state);
  const std::optional<Image>& image() const { return extras().image; }
  void setImage(std::optional<Image> image);
  int tag() const { return extras().tag; }
  void setTag(int tag) { editExtras().tag = tag; }
  const std::string& toolTip() const { return extras().toolTip; }
  void setToolTip(std::string toolTip);
  // Any value the program attaches (a layout, an application, a string...).
  const std::any& representedObject() const { return represented_; }
  void setRepresentedObject(std::any value) { represented_ = std::move(value); }
  template <class T>
  const T* represented() const {
    return std::any_cast<T>(&represented_);
  }

  const std::shared_ptr<Menu>& submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<Menu> submenu);
  // The menu the item is in, or null.
  Menu* menu() const { return menu_; }

 private:
  friend class Menu;
  void touched();

  // What few items set, kept apart so that an item stays small: a menu of
  // many layouts holds thousands of items, and a rebuild makes them anew.
  struct Extras {
    std::string keyEquivalent;
    std::uint64_t keyMask = kCommandKeyMask;
    ControlState state = ControlState::off;
    std::optional<Image> image;
    int tag = 0;
    std::string toolTip;
  };
  static const Extras kNoExtras;
  const Extras& extras() const { return extras_ ? *extras_ : kNoExtras; }
  Extras& editExtras();

  bool separator_ = false;
  bool enabled_ = true;
  bool hidden_ = false;
  std::string title_;
  Action action_;
  std::any represented_;
  std::shared_ptr<Menu> submenu_;
  Menu* menu_ = nullptr;
  std::unique_ptr<Extras> extras_;
};

// Told when a menu opens and closes.
class MenuDelegate {
 public:
  virtual ~MenuDelegate() = default;
  virtual void menuWillOpen(Menu& /*menu*/) {}
  virtual void menuDidClose(Menu& /*menu*/) {}
};

// A list of menu items. While `autoenablesItems` is on (the default), an
// item is enabled when it has an action or a submenu; off, its own flag counts.
class Menu : public std::enable_shared_from_this<Menu> {
 public:
  explicit Menu(std::string title = {}) : title_(std::move(title)) {}
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  const std::string& title() const { return title_; }

  const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
  std::size_t numberOfItems() const { return items_.size(); }
  MenuItem* itemAt(std::size_t index) const;
  // The first item with that title, or null.
  MenuItem* itemWithTitle(const std::string& title) const;
  // The item, which leaves any menu it was in.
  void addItem(std::shared_ptr<MenuItem> item);
  // As `addItem` for each in order, telling the backends once.
  void addItems(std::vector<std::shared_ptr<MenuItem>> items);
  void insertItem(std::shared_ptr<MenuItem> item, std::size_t index);
  void removeItem(const MenuItem& item);
  void removeAllItems();

  bool autoenablesItems() const { return autoenables_; }
  void setAutoenablesItems(bool on);
  // What the menu shows: enabled and choosable.
  bool isItemEnabled(const MenuItem& item) const;

  std::weak_ptr<MenuDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<MenuDelegate> delegate) { delegate_ = std::move(delegate); }

  // The menu is on screen: opened from a status item, a view or as a submenu.
  bool isOpen() const { return open_; }
  // Opening and closing as the user does it: tells the delegate.
  void open();
  void close();

  // Pops the menu up as a context menu at `location` in `view`, with
  // `positioningItem` (or none) under the pointer. Returns at once; the user
  // then chooses an item or closes the menu.
  struct PopUp {
    const MenuItem* positioningItem;
    Point location;
    const View* view;
  };
  void popUp(const MenuItem* positioningItem, Point location, const View* view);
  // Where the menu was last popped up.
  const std::optional<PopUp>& lastPopUp() const { return lastPopUp_; }

  // Chooses the enabled, visible item (searching submenus) whose key
  // equivalent is `key` with exactly `modifiers`; false when none is.
  bool performKeyEquivalent(const std::string& key, std::uint64_t modifiers);
  // Runs the item's action when the item is enabled and has one; false otherwise.
  bool performItem(MenuItem& item);

  // The menu as text, one item per line: its title (with "[on]"/"[-]" for
  // a state, "(disabled)", "⌘N" style key equivalents, " >" and an indented
  // submenu), "---" for a separator; hidden items are left out.
  std::string dump() const;

  // The structure or an item changed (for backends).
  Signal<> changed;

 private:
  friend class MenuItem;
  void adopt(MenuItem& item);
  // Takes the item out without telling anyone; false when it is not here.
  bool detach(const MenuItem& item);
  void dumpInto(std::string& out, int depth) const;

  std::string title_;
  std::vector<std::shared_ptr<MenuItem>> items_;
  bool autoenables_ = true;
  std::weak_ptr<MenuDelegate> delegate_;
  bool open_ = false;
  std::optional<PopUp> lastPopUp_;
};

}  // namespace toolkit

#pragma once

// The submenu of one saved layout in the status menu: "Restore layout",
// "Edit...", a separator and "Hide layout windows".

#include <memory>
#include <optional>
#include <type_traits>

#include "app/menus/command_bag.h"
#include "app/menus/menu_context.h"
#include "model/layout.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "toolkit/menu.h"

namespace platform {
class BundleProvider;
}  // namespace platform

namespace wendrix {

class SavedLayouts;

// Reports `error` at `location` with the layout's name and its applications
// anonymized.
void reportLayoutError(const rx::Error& error, std::string_view location, const Layout& layout,
                       const platform::BundleProvider& bundles);

// The layout attached to `item`: what the layout menus attach, a Layout, or
// a shared pointer to one; nullptr for anything else.
const Layout* attachedLayout(const toolkit::MenuItem& item);

// Lives from one rebuild of the status menu to the next. While it lives, its
// layout follows the stored layout of the same name (a layout no longer
// stored keeps the last copy). Its commands run until they end or the menu
// goes, whichever comes first. Main thread only.
class LayoutMenu : public std::enable_shared_from_this<LayoutMenu> {
 public:
  static std::shared_ptr<LayoutMenu> make(MenuContext context, Layout layout);
  // Over a context and a layout held elsewhere (the status menu's context,
  // an emission of the saved layouts): neither is copied.
  static std::shared_ptr<LayoutMenu> make(std::shared_ptr<const MenuContext> context,
                                          std::shared_ptr<const Layout> layout);
  virtual ~LayoutMenu();
  LayoutMenu(const LayoutMenu&) = delete;
  LayoutMenu& operator=(const LayoutMenu&) = delete;

  const Layout& layout() const { return *layout_; }
  const std::shared_ptr<toolkit::Menu>& menu() const { return menu_; }
  // The item shown in the status menu: made at first use, titled with the
  // layout's name then, holding the submenu.
  const std::shared_ptr<toolkit::MenuItem>& menuItem();

  // The three command items each carry the layout the menu was made with
  // (see `attachedLayout`).
  const std::shared_ptr<toolkit::MenuItem>& restoreItem() const { return restoreItem_; }
  const std::shared_ptr<toolkit::MenuItem>& editLayoutItem() const { return editLayoutItem_; }
  const std::shared_ptr<toolkit::MenuItem>& hideLayoutItem() const { return hideLayoutItem_; }

  // The commands of the three items.
  void restoreLayoutWithItem(toolkit::MenuItem& sender);
  virtual void editLayout(toolkit::MenuItem& sender);
  // Puts the layout's applications away; once that ends (also by the menu
  // going) the hide item is no longer a new feature.
  void hideLayout(toolkit::MenuItem& sender);

  // Commands still running (tests).
  std::size_t runningCommands() const { return commands_.running(); }

 protected:
  LayoutMenu(std::shared_ptr<const MenuContext> context, std::shared_ptr<const Layout> layout);

  // Makes the menu of type M and sets its items up; one allocation for the
  // menu and its shared count unless M is final.
  template <class M, class... A>
  static std::shared_ptr<M> create(A&&... args) {
    std::shared_ptr<M> menu;
    if constexpr (std::is_final_v<M>) {
      menu.reset(new M(std::forward<A>(args)...));
    } else {
      struct Made final : M {
        explicit Made(A&&... made) : M(std::forward<A>(made)...) {}
      };
      menu = std::make_shared<Made>(std::forward<A>(args)...);
    }
    menu->setupItems();
    return menu;
  }

  virtual void setupItems();
  virtual void refreshMenu() {}
  virtual void bind();
  virtual void buildMenu();

  // An item action that runs `command` on this menu while it exists.
  template <class M>
  toolkit::MenuItem::Action target(void (M::*command)(toolkit::MenuItem&)) {
    std::weak_ptr<M> weak = std::static_pointer_cast<M>(shared_from_this());
    return [weak, command](toolkit::MenuItem& sender) {
      if (auto self = weak.lock()) ((*self).*command)(sender);
    };
  }

  // Keeps `layout_` current while the subscription lives.
  rx::Disposable followStore();

  std::shared_ptr<const MenuContext> context_;
  // The menu's copy of its layout: the stored one in the latest emission of
  // the saved layouts that has it (sharing that emission), never changed in
  // place.
  std::shared_ptr<const Layout> layout_;
  std::shared_ptr<toolkit::Menu> menu_;
  std::shared_ptr<toolkit::MenuItem> menuItem_;
  std::shared_ptr<toolkit::MenuItem> restoreItem_;
  std::shared_ptr<toolkit::MenuItem> editLayoutItem_;
  std::shared_ptr<toolkit::MenuItem> hideLayoutItem_;
  // Disposed after the bindings.
  CommandBag commands_;

 private:
  struct Items;
  template <void (LayoutMenu::*command)(toolkit::MenuItem&)>
  static toolkit::MenuItem::Action itemAction(const Items& items);

  // The store's elements.
  void storeEvent(const rx::Event<std::shared_ptr<const SavedLayouts>>& event);
  // The hide item's "used" flag.
  void hideFlagEvent(const rx::Event<bool>& event);
  // Once the menu no longer follows the store (debug builds say so).
  void stoppedFollowing();

  // The submenu's own items, kept alive by each of the pointers to them.
  Items* items_;
  // The bindings: one subscription to the saved layouts, one to the hide
  // item's flag, each calling this menu, disposed when it goes.
  rx::Disposable store_;
  rx::Disposable hideFlag_;
  // The flag last shown on the hide item.
  std::optional<bool> hideFlagShown_;
  bool followingStore_ = false;
};

}  // namespace wendrix

#pragma once

// The submenu of one saved layout in the status menu: "Restore layout",
// "Edit...", a separator and "Hide layout windows".

#include <memory>
#include <optional>

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

// Reports `error` at `location` with the layout's name and its applications
// anonymized.
void reportLayoutError(const rx::Error& error, std::string_view location, const Layout& layout,
                       const platform::BundleProvider& bundles);

// Lives from one rebuild of the status menu to the next. While it lives, its
// layout follows the stored layout of the same name (a layout no longer
// stored keeps the last copy). Its commands run until they end or the menu
// goes, whichever comes first. Main thread only.
class LayoutMenu : public std::enable_shared_from_this<LayoutMenu> {
 public:
  static std::shared_ptr<LayoutMenu> make(MenuContext context, Layout layout);
  virtual ~LayoutMenu();
  LayoutMenu(const LayoutMenu&) = delete;
  LayoutMenu& operator=(const LayoutMenu&) = delete;

  const Layout& layout() const { return layout_; }
  const std::shared_ptr<toolkit::Menu>& menu() const { return menu_; }
  // The item shown in the status menu: made at first use, titled with the
  // layout's name then, holding the submenu.
  const std::shared_ptr<toolkit::MenuItem>& menuItem();

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
  LayoutMenu(MenuContext context, Layout layout);

  // Makes the menu of type M and sets its items up.
  template <class M, class... A>
  static std::shared_ptr<M> create(A&&... args) {
    std::shared_ptr<M> menu(new M(std::forward<A>(args)...));
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

  // Keeps `layout` current; made once.
  rx::Observable<rx::Unit> reactiveStream();

  MenuContext context_;
  Layout layout_;
  std::shared_ptr<toolkit::Menu> menu_;
  std::shared_ptr<toolkit::MenuItem> menuItem_;
  std::shared_ptr<toolkit::MenuItem> restoreItem_;
  std::shared_ptr<toolkit::MenuItem> editLayoutItem_;
  std::shared_ptr<toolkit::MenuItem> hideLayoutItem_;
  std::optional<rx::Observable<rx::Unit>> reactive_;
  // Disposed before the bindings, in the reverse order of declaration.
  CommandBag commands_;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix

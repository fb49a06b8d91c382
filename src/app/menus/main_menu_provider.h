#pragma once

// The status menu: its fixed items and their commands, the save dialog, and
// the rebuild that lists the saved layouts whenever they change while the
// program has accessibility access.

#include <memory>
#include <optional>
#include <vector>

#include "app/menus/command_bag.h"
#include "app/menus/layout_menu.h"
#include "app/menus/main_menu_delegate.h"
#include "app/menus/menu_context.h"
#include "model/layout.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/subjects.h"
#include "storage/saved_layouts.h"
#include "toolkit/menu.h"

namespace wendrix {

// Owned through a shared pointer (its streams and item actions hold it
// weakly). Main thread only; each rebuild runs inside the emission of the
// saved layouts that caused it.
class MainMenuProvider : public std::enable_shared_from_this<MainMenuProvider> {
 public:
  // Makes the menu and its fixed items and builds the first menu (no layouts,
  // no access).
  static std::shared_ptr<MainMenuProvider> make(MenuContext context);
  ~MainMenuProvider();
  MainMenuProvider(const MainMenuProvider&) = delete;
  MainMenuProvider& operator=(const MainMenuProvider&) = delete;

  // The status menu, one object for the provider's life: at once, then each
  // time it was rebuilt. With access it is rebuilt from every emission of
  // the saved layouts; without access it is the menu that asks for access
  // (no layouts, saving disabled), also when access was lost. A new empty
  // menu once the provider is gone. Made once.
  rx::Observable<std::shared_ptr<toolkit::Menu>> mainMenuStream();

  const std::shared_ptr<toolkit::Menu>& mainMenu() const { return mainMenu_; }
  const std::shared_ptr<MainMenuDelegate>& mainMenuDelegate() const { return mainMenuDelegate_; }
  // One per layout of the last rebuild.
  const std::vector<std::shared_ptr<LayoutMenu>>& layoutMenus() const { return layoutMenus_; }
  // For each restore started by `restoreLayoutWithItem`: a stream that emits
  // once and completes when that restore succeeded.
  rx::Observable<rx::Observable<rx::Unit>> feedbackStream() const {
    return feedbackSubject_.asObservable();
  }

  // Lists the layouts of `saved` (none: no layouts) with new layout menus,
  // each sharing its layout with `saved`; the previous layout menus go.
  void rebuildMenu(const std::shared_ptr<const SavedLayouts>& saved, bool trusted);

  // The commands of the fixed items.
  void saveCurrentLayout();
  void openEditLayoutsWindow(toolkit::MenuItem& sender);
  void promptAccessibility();
  void openPreferencesWindowWithSender(toolkit::MenuItem& sender);
  void checkForUpdatesWithItem(toolkit::MenuItem& sender);
  void showAbout(toolkit::MenuItem& sender);
  void terminateSelf(toolkit::MenuItem& sender);
  // Commands no item is given; each acts on the object attached to the
  // sending item.
  void quickSaveLayout();
  // A layout (see `attachedLayout`): restores it.
  void restoreLayoutWithItem(toolkit::MenuItem& sender);
  // A layout (see `attachedLayout`): opens the customization window on it.
  void editLayout(toolkit::MenuItem& sender);
  // A std::vector<winsys::ApplicationPtr>: puts those applications away.
  void closeUnusedAppsWithItem(toolkit::MenuItem& sender);

  const std::shared_ptr<toolkit::MenuItem>& saveMenuItem() const { return saveMenuItem_; }
  const std::shared_ptr<toolkit::MenuItem>& editLayoutsMenuItem() const {
    return editLayoutsMenuItem_;
  }

 private:
  explicit MainMenuProvider(MenuContext context);
  void setupMenu();
  // Makes the layout menus of `saved` and appends their items to `items`.
  void addLayoutMenus(const std::shared_ptr<const SavedLayouts>& saved,
                      std::vector<std::shared_ptr<toolkit::MenuItem>>& items);
  void save(bool withDialog);
  // An item action that runs `command` while the provider exists.
  toolkit::MenuItem::Action target(void (MainMenuProvider::*command)(toolkit::MenuItem&));
  toolkit::MenuItem::Action target(void (MainMenuProvider::*command)());

  // Shared with the layout menus.
  std::shared_ptr<const MenuContext> context_;
  std::shared_ptr<MainMenuDelegate> mainMenuDelegate_;
  std::shared_ptr<toolkit::Menu> mainMenu_;
  std::shared_ptr<toolkit::MenuItem> saveMenuItem_;
  std::shared_ptr<toolkit::MenuItem> editLayoutsMenuItem_;
  std::shared_ptr<toolkit::MenuItem> promptAXItem_;
  std::shared_ptr<toolkit::MenuItem> savedAppsHeader_;
  std::shared_ptr<toolkit::MenuItem> preferencesMenuItem_;
  std::shared_ptr<toolkit::MenuItem> checkForUpdatesItem_;
  std::shared_ptr<toolkit::MenuItem> aboutMenuItem_;
  std::shared_ptr<toolkit::MenuItem> quitMenuItem_;
  std::vector<std::shared_ptr<LayoutMenu>> layoutMenus_;
  rx::PublishSubject<rx::Observable<rx::Unit>> feedbackSubject_;
  std::optional<rx::Observable<std::shared_ptr<toolkit::Menu>>> mainMenuStream_;
  CommandBag commands_;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix

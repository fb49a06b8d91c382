#pragma once

// The menus of the layout details pane: the layout menu, the context menu of
// the app list and the menu of applications to add.

#include <functional>
#include <memory>

#include "toolkit/menu.h"
#include "ui/customization_context.h"
#include "ui/layout_details_app_list.h"
#include "ui/layout_details_commands.h"
#include "ui/layout_details_state.h"

namespace wendrix {

class LayoutDetailsMenus final : public toolkit::MenuDelegate,
                                 public std::enable_shared_from_this<LayoutDetailsMenus> {
 public:
  LayoutDetailsMenus(CustomizationContext context, std::shared_ptr<const LayoutDetailsState> state,
                     std::shared_ptr<const LayoutAppList> list,
                     std::shared_ptr<LayoutDetailsCommands> commands);

  // Makes the layout menu and the context menu; "Delete Layout..." calls
  // `deleteLayout`.
  void loadMenus(std::function<void()> deleteLayout);

  const std::shared_ptr<toolkit::Menu>& layoutMenu() const { return layoutMenu_; }
  const std::shared_ptr<toolkit::Menu>& appMenu() const { return appMenu_; }
  toolkit::MenuItem* appMenuItemRestore() const { return appMenuItemRestore_.get(); }
  toolkit::MenuItem* appMenuItemClose() const { return appMenuItemClose_.get(); }
  toolkit::MenuItem* appMenuItemRemove() const { return appMenuItemRemove_.get(); }
  const std::shared_ptr<toolkit::Menu>& addAppMenu() const { return addAppMenu_; }

  void openLayoutMenu(const toolkit::View& sender);
  void showAddAppMenu(const toolkit::View& sender);
  // The context menu's items follow the selection while it is open and are
  // all enabled otherwise.
  void updateAppMenuItems();
  void enableAppMenuItems();

  void menuWillOpen(toolkit::Menu&) override { updateAppMenuItems(); }
  void menuDidClose(toolkit::Menu&) override { enableAppMenuItems(); }

 private:
  std::shared_ptr<toolkit::MenuItem> addAppMenuItem(const winsys::ApplicationPtr& application,
                                                    bool replacement);

  CustomizationContext context_;
  std::shared_ptr<const LayoutDetailsState> state_;
  std::shared_ptr<const LayoutAppList> list_;
  std::shared_ptr<LayoutDetailsCommands> commands_;
  std::shared_ptr<toolkit::Menu> layoutMenu_;
  std::shared_ptr<toolkit::Menu> appMenu_;
  std::shared_ptr<toolkit::MenuItem> appMenuItemRestore_;
  std::shared_ptr<toolkit::MenuItem> appMenuItemClose_;
  std::shared_ptr<toolkit::MenuItem> appMenuItemRemove_;
  std::shared_ptr<toolkit::Menu> addAppMenu_;
};

}  // namespace wendrix

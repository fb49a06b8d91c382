#pragma once

// Tab 1 of the customization window: one saved layout, its name, its
// always-close-other-apps flag, its applications (dimmed when not running,
// with their addons' displays), the other running applications, and the
// commands on them.

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/layout.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/single.h"
#include "rx/subjects.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "ui/customization_context.h"
#include "ui/layout_details_app_list.h"
#include "ui/layout_details_commands.h"
#include "ui/layout_details_menus.h"
#include "ui/layout_details_state.h"
#include "ui/layout_list.h"
#include "winsys/window_system.h"

namespace wendrix {

// The pane itself lays out the views and feeds the shown layout and the
// running applications to its parts: the app list with its segments, the
// commands and the menus.
class LayoutDetailsViewController final : public toolkit::ViewController {
 public:
  explicit LayoutDetailsViewController(CustomizationContext context);

  // Input: the layout to show, or none.
  const rx::PublishSubject<std::optional<Layout>>& layoutSubject() const { return layoutSubject_; }
  // Output: each rename the user commits in the name field.
  rx::Observable<LayoutRename> renameStream() { return commands_->renameStream(); }

  // What the pane shows.
  const std::optional<Layout>& layout() const { return state_->layout; }
  const std::vector<IApp>& layoutApps() const { return state_->layoutApps; }
  const std::vector<winsys::ApplicationPtr>& openApps() const { return state_->openApps; }
  const std::vector<winsys::ApplicationPtr>& otherApps() const { return state_->otherApps; }
  // The saved apps of the selected rows, in row order.
  std::vector<IApp> selectedApps() const { return appList_->selectedApps(); }

  // The views, for the backends and the tests.
  toolkit::OutlineView* outlineView() const { return appList_->outlineView().get(); }
  toolkit::TextField* layoutNameField() const { return layoutNameField_.get(); }
  toolkit::Button* layoutIconButton() const { return layoutIconButton_.get(); }
  toolkit::Button* autoCloseCheckbox() const { return autoCloseCheckbox_.get(); }
  toolkit::Button* restoreButton() const { return restoreButton_.get(); }
  toolkit::Button* layoutMenuButton() const { return layoutMenuButton_.get(); }
  toolkit::StackView* appStackView() const { return appStackView_.get(); }
  toolkit::Button* closeOtherAppsButton() const { return closeOtherAppsButton_.get(); }
  toolkit::SegmentedControl* outlineSegmentedControl() const { return appList_->segments().get(); }
  const std::shared_ptr<toolkit::Menu>& layoutMenu() const { return menus_->layoutMenu(); }
  const std::shared_ptr<toolkit::Menu>& appMenu() const { return menus_->appMenu(); }
  toolkit::MenuItem* appMenuItemRestore() const { return menus_->appMenuItemRestore(); }
  toolkit::MenuItem* appMenuItemClose() const { return menus_->appMenuItemClose(); }
  toolkit::MenuItem* appMenuItemRemove() const { return menus_->appMenuItemRemove(); }
  // The add-application menu last popped up, or null.
  const std::shared_ptr<toolkit::Menu>& addAppMenu() const { return menus_->addAppMenu(); }

  // The commands; the pane's parts do the work.
  void toggleAutoClose(const toolkit::Button& sender) {
    commands_->toggleAutoClose(sender.state() == toolkit::ControlState::on);
  }
  void closeOtherApps() { commands_->closeOtherApps(); }
  void openLayoutMenu(const toolkit::View& sender) { menus_->openLayoutMenu(sender); }
  void restoreLayout() { commands_->restoreLayout(); }
  void deleteLayout() { commands_->deleteLayout(isViewLoaded() ? view()->window() : nullptr); }
  void appAction(const toolkit::SegmentedControl& sender);
  void addEmoji() { commands_->addEmoji(); }
  void showAddAppMenu(const toolkit::View& sender) { menus_->showAddAppMenu(sender); }
  void addApp(const toolkit::MenuItem& sender) { commands_->addApp(sender); }
  void removeApps(CommandSender sender) { commands_->removeApps(sender); }
  void restoreApps(CommandSender sender) { commands_->restoreApps(sender); }
  void closeApps(CommandSender sender) { commands_->closeApps(sender); }
  void renameLayout() { commands_->renameLayout(); }

  void showOtherApps();
  void updateAppActions() { appList_->updateSegments(); }
  void updateAppMenuItems() { menus_->updateAppMenuItems(); }
  void enableAppMenuItems() { menus_->enableAppMenuItems(); }

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::shared_ptr<LayoutDetailsViewController> self();
  void showLayout(const std::optional<Layout>& layout);
  void sortRunningApps(const std::optional<Layout>& layout,
                       const std::vector<winsys::ApplicationPtr>& running);

  CustomizationContext context_;
  rx::DisposeBag disposeBag_;
  rx::PublishSubject<std::optional<Layout>> layoutSubject_;
  std::shared_ptr<LayoutDetailsState> state_;
  std::shared_ptr<LayoutAppList> appList_;
  std::shared_ptr<LayoutDetailsCommands> commands_;
  std::shared_ptr<LayoutDetailsMenus> menus_;

  std::shared_ptr<toolkit::Button> layoutIconButton_;
  std::shared_ptr<toolkit::Button> autoCloseCheckbox_;
  std::shared_ptr<toolkit::TextField> layoutNameField_;
  std::shared_ptr<toolkit::Button> restoreButton_;
  std::shared_ptr<toolkit::Button> layoutMenuButton_;
  std::shared_ptr<toolkit::StackView> appStackView_;
  std::shared_ptr<toolkit::Button> closeOtherAppsButton_;
};

}  // namespace wendrix

#pragma once

// Tab 1 of the customization window: one saved layout, its name, its
// always-close-other-apps flag, its applications (dimmed when not running,
// with their addons' displays), the other running applications, and the
// commands on them.

#include <memory>
#include <optional>
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

  // The pane's parts: what it shows, the app list with its segments, the
  // commands (with the stream of renames) and the menus.
  const LayoutDetailsState& state() const { return *state_; }
  const LayoutAppList& appList() const { return *appList_; }
  LayoutDetailsCommands& commands() const { return *commands_; }
  const LayoutDetailsMenus& menus() const { return *menus_; }

  // The pane's own views, for the backends and the tests.
  toolkit::TextField* layoutNameField() const { return layoutNameField_.get(); }
  toolkit::Button* layoutIconButton() const { return layoutIconButton_.get(); }
  toolkit::Button* autoCloseCheckbox() const { return autoCloseCheckbox_.get(); }
  toolkit::Button* restoreButton() const { return restoreButton_.get(); }
  toolkit::Button* layoutMenuButton() const { return layoutMenuButton_.get(); }
  toolkit::StackView* appStackView() const { return appStackView_.get(); }
  toolkit::Button* closeOtherAppsButton() const { return closeOtherAppsButton_.get(); }

  // Asks in a sheet on the pane's window, then deletes the layout.
  void deleteLayout() { commands_->deleteLayout(isViewLoaded() ? view()->window() : nullptr); }

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::shared_ptr<LayoutDetailsViewController> self();
  // A click on a segment of the app list.
  void appAction(const toolkit::SegmentedControl& sender);
  void showOtherApps();
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

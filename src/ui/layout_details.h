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
#include "ui/layout_list.h"
#include "winsys/window_system.h"

namespace wendrix {

// The commands of the segmented control, in segment order.
enum class AppSegment : std::size_t { close = 0, restore = 1, remove = 2, add = 3 };

// The enabled state of the four segments: close needs a running selected app,
// or, with no selection, a running app of the layout; restore and remove a
// selection; add an application to add.
std::array<bool, 4> segmentStates(std::size_t selectedRows, bool someSelectedRunning,
                                  std::size_t openApps, std::size_t otherApps);

// "Mail" for fewer than two saved windows, else "Mail (3)".
std::string appRowTitle(const std::string& name, std::size_t windowCount);

// The running applications a close command puts away: with no selection all
// of `openApps`, else those matching a selected app, in `openApps` order.
std::vector<winsys::ApplicationPtr> closeTargets(
    const std::vector<IApp>& selected, const std::vector<winsys::ApplicationPtr>& openApps);

// Who sent a command: the context menu or a control of the pane.
enum class CommandSender { control, menuItem };

class LayoutDetailsViewController final : public toolkit::ViewController,
                                          public toolkit::OutlineViewDataSource,
                                          public toolkit::OutlineViewDelegate,
                                          public toolkit::TextFieldDelegate,
                                          public toolkit::MenuDelegate {
 public:
  explicit LayoutDetailsViewController(CustomizationContext context);

  // Input: the layout to show, or none.
  const rx::PublishSubject<std::optional<Layout>>& layoutSubject() const { return layoutSubject_; }
  // Output: each rename the user commits in the name field.
  rx::Observable<LayoutRename> renameStream() { return renameSubject_.asObservable(); }

  // What the pane shows.
  const std::optional<Layout>& layout() const { return layout_; }
  const std::vector<IApp>& layoutApps() const { return layoutApps_; }
  const std::vector<winsys::ApplicationPtr>& openApps() const { return openApps_; }
  const std::vector<winsys::ApplicationPtr>& otherApps() const { return otherApps_; }
  // The saved apps of the selected rows, in row order.
  std::vector<IApp> selectedApps() const;

  // The views, for the backends and the tests.
  toolkit::OutlineView* outlineView() const { return outlineView_.get(); }
  toolkit::TextField* layoutNameField() const { return layoutNameField_.get(); }
  toolkit::Button* layoutIconButton() const { return layoutIconButton_.get(); }
  toolkit::Button* autoCloseCheckbox() const { return autoCloseCheckbox_.get(); }
  toolkit::Button* restoreButton() const { return restoreButton_.get(); }
  toolkit::Button* layoutMenuButton() const { return layoutMenuButton_.get(); }
  toolkit::StackView* appStackView() const { return appStackView_.get(); }
  toolkit::Button* closeOtherAppsButton() const { return closeOtherAppsButton_.get(); }
  toolkit::SegmentedControl* outlineSegmentedControl() const { return segments_.get(); }
  const std::shared_ptr<toolkit::Menu>& layoutMenu() const { return layoutMenu_; }
  const std::shared_ptr<toolkit::Menu>& appMenu() const { return appMenu_; }
  toolkit::MenuItem* appMenuItemRestore() const { return appMenuItemRestore_.get(); }
  toolkit::MenuItem* appMenuItemClose() const { return appMenuItemClose_.get(); }
  toolkit::MenuItem* appMenuItemRemove() const { return appMenuItemRemove_.get(); }
  // The add-application menu last popped up, or null.
  const std::shared_ptr<toolkit::Menu>& addAppMenu() const { return addAppMenu_; }

  // The commands (layout_details_actions.cpp).
  void toggleAutoClose(const toolkit::Button& sender);
  void closeOtherApps();
  void openLayoutMenu(const toolkit::View& sender);
  void restoreLayout();
  void deleteLayout();
  void appAction(const toolkit::SegmentedControl& sender);
  void addEmoji();
  void showAddAppMenu(const toolkit::View& sender);
  void addApp(const toolkit::MenuItem& sender);
  void removeApps(CommandSender sender);
  void restoreApps(CommandSender sender);
  void closeApps(CommandSender sender);
  void renameLayout();

  void showOtherApps();
  void updateAppActions();
  void updateAppMenuItems();
  void enableAppMenuItems();

  // OutlineViewDataSource / OutlineViewDelegate.
  std::size_t numberOfChildren(toolkit::OutlineView& view,
                               const toolkit::OutlineItem* item) override;
  toolkit::OutlineItem child(toolkit::OutlineView& view, std::size_t index,
                             const toolkit::OutlineItem* item) override;
  std::shared_ptr<toolkit::View> viewFor(toolkit::OutlineView& view,
                                         const toolkit::OutlineItem& item) override;
  std::optional<double> heightOfRow(toolkit::OutlineView&, const toolkit::OutlineItem&) override {
    return 26;
  }
  void selectionDidChange(toolkit::OutlineView&) override { updateAppActions(); }
  // TextFieldDelegate: the end of editing the name renames the layout.
  void controlTextDidEndEditing(toolkit::TextField&) override { renameLayout(); }
  // MenuDelegate of the application context menu.
  void menuWillOpen(toolkit::Menu&) override { updateAppMenuItems(); }
  void menuDidClose(toolkit::Menu&) override { enableAppMenuItems(); }

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::shared_ptr<LayoutDetailsViewController> self();
  void showLayout(const std::optional<Layout>& layout);
  void sortRunningApps(const std::optional<Layout>& layout,
                       const std::vector<winsys::ApplicationPtr>& running);
  std::shared_ptr<toolkit::View> appRow(toolkit::OutlineView& view, const IApp& app);
  bool isRunning(const IApp& app) const;
  bool canCloseApps() const;
  std::shared_ptr<toolkit::MenuItem> addAppMenuItem(const winsys::ApplicationPtr& application,
                                                    bool replacement);
  // Keeps the window above the others while `single` runs.
  template <class T>
  rx::Single<T> keepWindowFloating(rx::Single<T> single);

  CustomizationContext context_;
  rx::DisposeBag disposeBag_;
  rx::PublishSubject<std::optional<Layout>> layoutSubject_;
  rx::PublishSubject<LayoutRename> renameSubject_;
  std::optional<Layout> layout_;
  std::vector<IApp> layoutApps_;
  std::vector<winsys::ApplicationPtr> openApps_;
  std::vector<winsys::ApplicationPtr> otherApps_;

  std::shared_ptr<toolkit::OutlineView> outlineView_;
  std::shared_ptr<toolkit::Button> layoutIconButton_;
  std::shared_ptr<toolkit::Button> autoCloseCheckbox_;
  std::shared_ptr<toolkit::TextField> layoutNameField_;
  std::shared_ptr<toolkit::Button> restoreButton_;
  std::shared_ptr<toolkit::Button> layoutMenuButton_;
  std::shared_ptr<toolkit::StackView> appStackView_;
  std::shared_ptr<toolkit::Button> closeOtherAppsButton_;
  std::shared_ptr<toolkit::SegmentedControl> segments_;
  std::shared_ptr<toolkit::Menu> layoutMenu_;
  std::shared_ptr<toolkit::Menu> appMenu_;
  std::shared_ptr<toolkit::MenuItem> appMenuItemRestore_;
  std::shared_ptr<toolkit::MenuItem> appMenuItemClose_;
  std::shared_ptr<toolkit::MenuItem> appMenuItemRemove_;
  std::shared_ptr<toolkit::Menu> addAppMenu_;
};

}  // namespace wendrix

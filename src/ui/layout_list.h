#pragma once

// The sidebar of the customization window: the saved layouts above, the
// Preferences and About entries below, and an ellipsis menu. Exactly one
// entry of the two lists is selected, or none; the sidebar publishes that
// choice as one NavigationSelection stream.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/layout.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/subjects.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "ui/customization_context.h"
#include "ui/customization_navigation.h"

namespace wendrix {

// A rename the layout details announced: the sidebar follows the layout
// from `from` to `to` when the saved layouts come back.
struct LayoutRename {
  std::string from;
  std::string to;
  friend bool operator==(const LayoutRename&, const LayoutRename&) = default;
};

// The entries of the lower list, in display order.
const std::vector<NavigationOption>& navigationOptions();

// `name` mapped through the first rename from it, which is removed; `name`
// itself when there is none.
std::string followRename(const std::string& name, std::vector<LayoutRename>& renames);

inline constexpr double kSidebarRowHeight = 26;

// Data source and delegate of the lower list.
class NavigationListManager final : public toolkit::OutlineViewDataSource,
                                    public toolkit::OutlineViewDelegate {
 public:
  NavigationListManager();

  // The entry the user picked last; none after a click that selected nothing.
  rx::Observable<std::optional<NavigationOption>> selectionStream();
  // Reads the user's new selection and publishes it.
  void selectionChanged(toolkit::OutlineView& view);

  std::shared_ptr<toolkit::OutlineView> outlineView;

  std::size_t numberOfChildren(toolkit::OutlineView& view,
                               const toolkit::OutlineItem* item) override;
  toolkit::OutlineItem child(toolkit::OutlineView& view, std::size_t index,
                             const toolkit::OutlineItem* item) override;
  std::shared_ptr<toolkit::View> viewFor(toolkit::OutlineView& view,
                                         const toolkit::OutlineItem& item) override;
  std::optional<double> heightOfRow(toolkit::OutlineView&, const toolkit::OutlineItem&) override {
    return kSidebarRowHeight;
  }
  void selectionIsChanging(toolkit::OutlineView& view) override { selectionChanged(view); }

 private:
  rx::BehaviorSubject<std::optional<NavigationOption>> selectionSubject_{std::nullopt};
  std::optional<rx::Observable<std::optional<NavigationOption>>> selectionStream_;
};

// Data source and delegate of the list of saved layouts.
class LayoutListManager final : public toolkit::OutlineViewDataSource,
                                public toolkit::OutlineViewDelegate,
                                public std::enable_shared_from_this<LayoutListManager> {
 public:
  explicit LayoutListManager(const toolkit::TextMetrics& metrics);

  // The layout the user (or a change of the saved layouts) selected, or none.
  rx::Observable<std::optional<Layout>> layoutStream();
  // Selects the first row of that name (none: no row), publishing nothing.
  void selectLayout(const std::optional<Layout>& layout);
  // Follows the store's list of layouts.
  void bindLayouts(DefaultsStorage& storage);
  // A new list of saved layouts: the rows are replaced and the selection
  // follows the selected layout by name, through a pending rename.
  void layoutsReceived(std::vector<Layout> layouts);
  // Reads the user's new selection and publishes it.
  void selectionChanged(toolkit::OutlineView& view);

  const std::vector<Layout>& layouts() const { return layouts_; }

  std::shared_ptr<toolkit::OutlineView> outlineView;
  // Renames announced and not yet matched, oldest first.
  std::vector<LayoutRename> renames;

  std::size_t numberOfChildren(toolkit::OutlineView& view,
                               const toolkit::OutlineItem* item) override;
  toolkit::OutlineItem child(toolkit::OutlineView& view, std::size_t index,
                             const toolkit::OutlineItem* item) override;
  std::shared_ptr<toolkit::View> viewFor(toolkit::OutlineView& view,
                                         const toolkit::OutlineItem& item) override;
  std::optional<double> heightOfRow(toolkit::OutlineView&, const toolkit::OutlineItem&) override {
    return kSidebarRowHeight;
  }
  void selectionIsChanging(toolkit::OutlineView& view) override { selectionChanged(view); }

 private:
  const toolkit::TextMetrics& metrics_;
  rx::BehaviorSubject<std::optional<Layout>> layoutSubject_{std::nullopt};
  std::optional<rx::Observable<std::optional<Layout>>> layoutStream_;
  std::vector<Layout> layouts_;
  rx::DisposeBag disposeBag_;
};

// The sidebar's controller.
class LayoutListViewController final : public toolkit::ViewController {
 public:
  static constexpr double kWidth = 200;

  explicit LayoutListViewController(CustomizationContext context);

  // The sidebar's current selection, replayed to each new subscriber.
  rx::Observable<NavigationSelection> selectionStream();
  // Takes a selection from outside (the window controller); the sidebar then
  // shows it in both lists.
  const rx::BehaviorSubject<NavigationSelection>& selectionSubject() const {
    return selectionSubject_;
  }

  const std::shared_ptr<LayoutListManager>& layoutListManager() const { return layoutListManager_; }
  const std::shared_ptr<NavigationListManager>& navigationListManager() const {
    return navigationListManager_;
  }
  // The height the lower list was given: exactly its rows.
  double navigationScrollViewHeight() const { return navigationHeight_; }
  const std::shared_ptr<toolkit::Menu>& ellipsisMenu() const { return ellipsisMenu_; }
  toolkit::Button* ellipsisButton() const { return ellipsisButton_.get(); }

  // Pops the ellipsis menu up at the centre of `sender`.
  void openEllipsisMenu(const toolkit::View& sender);
  void checkForUpdates();
  void quitApp();

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  void applySelection(const NavigationSelection& selection);

  CustomizationContext context_;
  rx::BehaviorSubject<NavigationSelection> selectionSubject_{NavigationSelection::none()};
  std::optional<rx::Observable<NavigationSelection>> selectionStream_;
  std::shared_ptr<LayoutListManager> layoutListManager_;
  std::shared_ptr<NavigationListManager> navigationListManager_;
  std::shared_ptr<toolkit::Menu> ellipsisMenu_;
  std::shared_ptr<toolkit::Button> ellipsisButton_;
  double navigationHeight_ = 0;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix

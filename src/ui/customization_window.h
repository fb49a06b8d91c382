#pragma once

// The customization window: a sidebar of layouts and entries beside a tab
// view (placeholder, layout details, preferences, About), the controller
// with its pin toolbar item through which the window's opener asks it to
// show an entry, and the factory that builds it all for the opener.

#include <memory>

#include "rx/disposable.h"
#include "toolkit/containers.h"
#include "toolkit/window.h"
#include "ui/customization_context.h"
#include "ui/customization_navigation.h"
#include "ui/layout_details.h"
#include "ui/layout_list.h"

namespace wendrix {

// The window's content: binds the sidebar's selection to the tab view and
// the details' renames to the sidebar.
class CustomizationSplitViewController final : public toolkit::SplitViewController {
 public:
  // The tab index of each kind of selection.
  static constexpr int kNoneTab = 0;
  static constexpr int kDetailsTab = 1;
  static constexpr int kPreferencesTab = 2;
  static constexpr int kAboutTab = 3;

  CustomizationSplitViewController(std::shared_ptr<LayoutListViewController> list,
                                   std::shared_ptr<toolkit::TabViewController> tabs,
                                   std::shared_ptr<LayoutDetailsViewController> details);

  LayoutListViewController& listSplitViewItem() const { return *list_; }
  toolkit::TabViewController& tabsSplitViewItem() const { return *tabs_; }
  LayoutDetailsViewController& details() const { return *details_; }

 protected:
  void viewDidLoad() override;

 private:
  std::shared_ptr<LayoutListViewController> list_;
  std::shared_ptr<toolkit::TabViewController> tabs_;
  std::shared_ptr<LayoutDetailsViewController> details_;
  rx::DisposeBag disposeBag_;
};

namespace ui {

// The window controller. Pinning is the window's level itself: the pin
// floats the window at the status level or returns it to the normal one.
class CustomizationWindowController final
    : public wendrix::CustomizationWindowController,
      public toolkit::WindowDelegate,
      public std::enable_shared_from_this<CustomizationWindowController> {
 public:
  static constexpr const char* kPinItemIdentifier = "pin";
  static constexpr const char* kTitle = "Wendrix";

  // Builds the window and its content, loaded and not yet on screen.
  static std::shared_ptr<CustomizationWindowController> make(CustomizationContext context);
  ~CustomizationWindowController() override;

  const std::shared_ptr<toolkit::Window>& window() const { return window_; }
  CustomizationSplitViewController& splitViewController() const { return *split_; }

  // wendrix::CustomizationWindowController
  void select(const NavigationSelection& selection) override;
  bool isWindowVisible() const override { return window_->isVisible(); }
  void showWindow() override { window_->makeKeyAndOrderFront(); }
  void setWindowDelegate(std::weak_ptr<CustomizationWindowDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  void makeKeyAndOrderFront() override { window_->makeKeyAndOrderFront(); }
  void setWindowLevel(int level) override;

  // The pin toolbar item's action.
  void pinWindow() { togglePinning(); }
  // Level 0 when the window is at the status level, else the status level.
  // At every level change the pin shows "pin.fill" while the window floats,
  // "pin" otherwise.
  void togglePinning();
  // Has no effect.
  void toggleWindowPinning() {}
  // Answers false for every item; the pin stays clickable because toolbar
  // items of this toolkit are not validated.
  bool validateToolbarItem(const toolkit::ToolbarItem&) const { return false; }
  // The pin item, or null.
  const toolkit::ToolbarItem* pinToolbarItem() const;

  // toolkit::WindowDelegate: tells the delegate the window is closing.
  void windowWillClose() override;

 private:
  CustomizationWindowController() = default;
  void showLevelOnPin();

  std::shared_ptr<toolkit::Window> window_;
  toolkit::Signal<>::Id windowChanged_ = 0;
  std::shared_ptr<CustomizationSplitViewController> split_;
  std::weak_ptr<CustomizationWindowDelegate> delegate_;
};

}  // namespace ui

// Makes the customization window for its opener. The actions are made after
// the factory, so they are handed over once made; a
// context without store or windows provider takes the actions' ones.
class CustomizationWindows final : public CustomizationWindowFactory {
 public:
  explicit CustomizationWindows(CustomizationContext context) : context_(std::move(context)) {}
  void setActions(std::weak_ptr<Actions> actions) { context_.actions = std::move(actions); }

  std::shared_ptr<wendrix::CustomizationWindowController> makeController() override;

 private:
  CustomizationContext context_;
};

}  // namespace wendrix

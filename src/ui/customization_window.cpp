#include "ui/customization_window.h"

#include <utility>

#include "analytics/track.h"
#include "engine/actions.h"
#include "platform/window_level/window_level.h"
#include "rx/rx.h"
#include "toolkit/application.h"
#include "ui/about_pane.h"
#include "ui/preferences_pane.h"

namespace wendrix {

namespace {

// A pane without behaviour of its own: a centred line of text.
class PlaceholderViewController final : public toolkit::ViewController {
 public:
  explicit PlaceholderViewController(std::string text) : text_(std::move(text)) {}

 protected:
  void loadView() override {
    auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {kPaneWidth, kPaneHeight}});
    auto label = std::make_shared<toolkit::TextField>(
        toolkit::Rect{{40, kPaneHeight / 2 - 10}, {kPaneWidth - 80, 20}});
    label->setStringValue(text_);
    label->setTextColor(toolkit::Color::secondaryLabel);
    view->addSubview(label);
    setView(view);
  }

 private:
  std::string text_;
};

// The pin's image: filled while the window floats above normal windows.
toolkit::Image pinImage(const toolkit::Application& application, int level) {
  const std::string name = level > platform::kNormalWindowLevel ? "pin.fill" : "pin";
  return application.imageNamed(name).value_or(toolkit::Image::named(name));
}

}  // namespace

CustomizationSplitViewController::CustomizationSplitViewController(
    std::shared_ptr<LayoutListViewController> list,
    std::shared_ptr<toolkit::TabViewController> tabs,
    std::shared_ptr<LayoutDetailsViewController> details)
    : list_(std::move(list)), tabs_(std::move(tabs)), details_(std::move(details)) {
  addChild(list_);
  addChild(tabs_);
}

void CustomizationSplitViewController::viewDidLoad() {
  const double sidebar = LayoutListViewController::kWidth;
  view()->setFrame({{0, 0}, {sidebar + kPaneWidth, kPaneHeight}});
  list_->view()->setFrame({{0, 0}, {sidebar, kPaneHeight}});
  tabs_->view()->setFrame({{sidebar, 0}, {kPaneWidth, kPaneHeight}});

  std::weak_ptr<LayoutDetailsViewController> weakDetails = details_;
  std::weak_ptr<toolkit::TabViewController> weakTabs = tabs_;
  list_->selectionStream()
      .subscribe(
          [weakTabs, weakDetails](const NavigationSelection& selection) {
            auto tabs = weakTabs.lock();
            if (!tabs) return;
            if (const Layout* layout = selection.layout()) {
              tabs->setSelectedTabIndex(kDetailsTab);
              if (auto details = weakDetails.lock()) details->layoutSubject().onNext(*layout);
            } else if (const NavigationOption* option = selection.navigation()) {
              tabs->setSelectedTabIndex(*option == NavigationOption::Preferences ? kPreferencesTab
                                                                                 : kAboutTab);
            } else {
              tabs->setSelectedTabIndex(kNoneTab);
            }
          },
          [](const base::Error& error) {
            Track::errorWithLocation(error, "split.fishbowlSetup_000");
          })
      .disposed(disposeBag_);

  std::weak_ptr<LayoutListViewController> weakList = list_;
  details_->commands()
      .renameStream()
      .subscribe(
          [weakList](const LayoutRename& rename) {
            auto list = weakList.lock();
            if (list && list->layoutListManager())
              list->layoutListManager()->renames.push_back(rename);
          },
          [](const base::Error& error) { Track::errorWithLocation(error, "split.rename_000"); })
      .disposed(disposeBag_);
}

namespace ui {

std::shared_ptr<CustomizationWindowController> CustomizationWindowController::make(
    CustomizationContext context) {
  auto controller =
      std::shared_ptr<CustomizationWindowController>(new CustomizationWindowController());
  auto& application = *context.application;

  auto list = std::make_shared<LayoutListViewController>(context);
  auto details = std::make_shared<LayoutDetailsViewController>(context);
  auto tabs = std::make_shared<toolkit::TabViewController>();
  tabs->addChild(std::make_shared<PlaceholderViewController>("Select a layout to edit it."));
  tabs->addChild(details);
  tabs->addChild(std::make_shared<SettingsViewController>(context));
  tabs->addChild(std::make_shared<AboutViewController>(application));
  controller->split_ = std::make_shared<CustomizationSplitViewController>(list, tabs, details);

  const double width = LayoutListViewController::kWidth + kPaneWidth;
  controller->window_ = std::make_shared<toolkit::Window>(
      application, toolkit::Rect{{160, 120}, {width, kPaneHeight}});
  controller->window_->setTitle(kTitle);
  // Loads the content, so that a selection made before the window shows is kept.
  controller->window_->setContentViewController(controller->split_);
  std::weak_ptr<CustomizationWindowController> weak = controller;
  toolkit::ToolbarItem pin;
  pin.identifier = kPinItemIdentifier;
  pin.label = "Pin";
  pin.image = pinImage(application, platform::kNormalWindowLevel);
  pin.action = [weak] {
    if (auto self = weak.lock()) self->pinWindow();
  };
  controller->window_->setToolbarItems({pin});
  // Whatever sets the window's level (the pin, the status menu, an operation
  // that floats the window while it runs), the pin shows it.
  controller->windowChanged_ = controller->window_->changed.connect([weak] {
    if (auto self = weak.lock()) self->showLevelOnPin();
  });
  controller->window_->setDelegate(std::weak_ptr<toolkit::WindowDelegate>(controller));
  return controller;
}

void CustomizationWindowController::select(const NavigationSelection& selection) {
  if (!split_) return;
  split_->listSplitViewItem().selectionSubject().onNext(selection);
}

void CustomizationWindowController::togglePinning() {
  if (!window_) return;
  setWindowLevel(window_->level() == platform::kStatusWindowLevel ? platform::kNormalWindowLevel
                                                                  : platform::kStatusWindowLevel);
}

void CustomizationWindowController::setWindowLevel(int level) {
  if (window_) window_->setLevel(level);
}

void CustomizationWindowController::showLevelOnPin() {
  const toolkit::Image image = pinImage(window_->application(), window_->level());
  auto items = window_->toolbarItems();
  bool differs = false;
  for (auto& item : items) {
    if (item.identifier != kPinItemIdentifier || item.image.name == image.name) continue;
    item.image = image;
    differs = true;
  }
  if (differs) window_->setToolbarItems(std::move(items));
}

CustomizationWindowController::~CustomizationWindowController() {
  if (window_) window_->changed.disconnect(windowChanged_);
}

const toolkit::ToolbarItem* CustomizationWindowController::pinToolbarItem() const {
  for (const auto& item : window_->toolbarItems())
    if (item.identifier == kPinItemIdentifier) return &item;
  return nullptr;
}

void CustomizationWindowController::windowWillClose() {
  // The delegate lets go of this controller, and with it of the window that
  // is still closing: both live until the next turn of the loop.
  window_->application().mainQueue().async([keep = shared_from_this()] {});
  if (auto delegate = delegate_.lock()) delegate->windowWillClose();
}

}  // namespace ui

std::shared_ptr<wendrix::CustomizationWindowController> CustomizationWindows::makeController() {
  if (!context_.application) return nullptr;
  CustomizationContext context = context_;
  // Without their own, the window works with the actions' store and windows.
  if (auto actions = context.actions.lock()) {
    if (!context.storage) context.storage = actions->storage();
    if (!context.windowsProvider) context.windowsProvider = actions->windowsProvider();
  }
  return ui::CustomizationWindowController::make(std::move(context));
}

}  // namespace wendrix

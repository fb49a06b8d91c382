#include "ui/layout_details.h"

#include <utility>

#include "addons/addon_manager.h"
#include "analytics/track.h"
#include "engine/capture.h"
#include "engine/windows_provider.h"
#include "model/display_name.h"
#include "rx/rx.h"
#include "storage/defaults_storage.h"
#include "toolkit/application.h"
#include "ui/menu_outline_view.h"
#include "ui/row_views.h"
#include "util/app_icons.h"

namespace wendrix {

using toolkit::Button;
using toolkit::OutlineItem;
using toolkit::OutlineView;

std::array<bool, 4> segmentStates(std::size_t selectedRows, bool someSelectedRunning,
                                  std::size_t openApps, std::size_t otherApps) {
  const bool close = selectedRows > 0 ? someSelectedRunning : openApps > 0;
  return {close, selectedRows > 0, selectedRows > 0, openApps + otherApps > 0};
}

std::string appRowTitle(const std::string& name, std::size_t windowCount) {
  if (windowCount < 2) return name;
  return name + " (" + std::to_string(windowCount) + ")";
}

std::vector<winsys::ApplicationPtr> closeTargets(
    const std::vector<IApp>& selected, const std::vector<winsys::ApplicationPtr>& openApps) {
  if (selected.empty()) return openApps;
  std::vector<winsys::ApplicationPtr> targets;
  for (const auto& application : openApps) {
    for (const auto& app : selected) {
      if (!iapp::matchesApplication(app, *application)) continue;
      targets.push_back(application);
      break;
    }
  }
  return targets;
}

LayoutDetailsViewController::LayoutDetailsViewController(CustomizationContext context)
    : context_(std::move(context)) {}

std::shared_ptr<LayoutDetailsViewController> LayoutDetailsViewController::self() {
  return std::static_pointer_cast<LayoutDetailsViewController>(shared_from_this());
}

std::vector<IApp> LayoutDetailsViewController::selectedApps() const {
  std::vector<IApp> apps;
  if (!outlineView_) return apps;
  // Read from the rows as last loaded, never from `layoutApps_` by index:
  // the layout may have changed since.
  for (std::size_t row : outlineView_->selectedRowIndexes()) {
    const OutlineItem* item = outlineView_->itemAtRow(static_cast<int>(row));
    if (const auto* app = item ? std::any_cast<IApp>(item) : nullptr) apps.push_back(*app);
  }
  return apps;
}

// --- views -------------------------------------------------------------------

namespace {

constexpr double kMargin = 16;

std::shared_ptr<Button> makeButton(std::string title, toolkit::Rect frame) {
  auto button = std::make_shared<Button>(Button::Type::push, frame);
  button->setTitle(std::move(title));
  return button;
}

}  // namespace

void LayoutDetailsViewController::loadView() {
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {kPaneWidth, kPaneHeight}});
  view->setIdentifier("layoutDetails");
  std::weak_ptr<LayoutDetailsViewController> weak = self();

  layoutIconButton_ = makeButton("", {{kMargin, kMargin}, {30, 26}});
  layoutIconButton_->setIdentifier("emojiButton");
  layoutIconButton_->setAction([weak](Button&) {
    if (auto s = weak.lock()) s->addEmoji();
  });
  layoutNameField_ = std::make_shared<toolkit::TextField>(toolkit::Rect{{54, kMargin}, {300, 26}});
  layoutNameField_->setIdentifier("layoutName");
  layoutNameField_->setEditable(true);
  layoutNameField_->setBezeled(true);
  layoutNameField_->setDrawsBackground(true);
  layoutNameField_->setPlaceholder("Layout name");
  layoutNameField_->setFont({17, true});
  restoreButton_ = makeButton("Restore", {{kPaneWidth - kMargin - 132, kMargin}, {90, 26}});
  restoreButton_->setIdentifier("restoreLayout");
  restoreButton_->setAction([weak](Button&) {
    if (auto s = weak.lock()) s->restoreLayout();
  });
  layoutMenuButton_ = makeButton("", {{kPaneWidth - kMargin - 36, kMargin}, {36, 26}});
  layoutMenuButton_->setIdentifier("layoutMenuButton");
  layoutMenuButton_->setImage(toolkit::Image::symbol("view-more").withSize({16, 16}));
  layoutMenuButton_->setAction([weak](Button& sender) {
    if (auto s = weak.lock()) s->openLayoutMenu(sender);
  });
  autoCloseCheckbox_ =
      std::make_shared<Button>(Button::Type::checkbox, toolkit::Rect{{54, 50}, {400, 22}});
  autoCloseCheckbox_->setIdentifier("autoClose");
  autoCloseCheckbox_->setTitle("Close other apps when restoring this layout");
  autoCloseCheckbox_->setAction([weak](Button& sender) {
    if (auto s = weak.lock()) s->toggleAutoClose(sender);
  });

  // The applications, in a miniature window.
  auto frame = std::make_shared<WindowLookAlike>(
      toolkit::Rect{{kMargin, 84}, {kPaneWidth - 2 * kMargin, 292}});
  frame->setIdentifier("appsFrame");
  outlineView_ = std::make_shared<MenuOutlineView>(
      toolkit::Rect{{1, 22}, {kPaneWidth - 2 * kMargin - 2, 269}});
  outlineView_->setIdentifier("appList");
  outlineView_->setAllowsMultipleSelection(true);
  outlineView_->setRowHeight(26);
  const double cellWidth = outlineView_->frame().size.width;
  outlineView_->registerCell(AppCellView::kIdentifier,
                             [cellWidth] { return std::make_shared<AppCellView>(cellWidth, 26); });
  outlineView_->setDataSource(std::static_pointer_cast<toolkit::OutlineViewDataSource>(self()));
  outlineView_->setDelegate(std::static_pointer_cast<toolkit::OutlineViewDelegate>(self()));
  frame->addSubview(outlineView_);

  segments_ = std::make_shared<toolkit::SegmentedControl>(toolkit::Rect{{kMargin, 386}, {260, 26}});
  segments_->setIdentifier("appActions");
  segments_->setSegmentCount(4);
  const char* labels[] = {"Close", "Restore", "Remove", "Add..."};
  for (std::size_t i = 0; i < 4; ++i)
    segments_->setLabel(labels[i], i);
  segments_->setAction([weak](toolkit::SegmentedControl& sender) {
    if (auto s = weak.lock()) s->appAction(sender);
  });

  auto othersLabel = std::make_shared<toolkit::TextField>(toolkit::Rect{{kMargin, 434}, {150, 20}});
  othersLabel->setStringValue("Other running apps:");
  othersLabel->setTextColor(toolkit::Color::secondaryLabel);
  appStackView_ = std::make_shared<toolkit::StackView>(toolkit::Rect{{170, 434}, {220, 20}});
  appStackView_->setIdentifier("otherApps");
  appStackView_->setSpacing(4);
  appStackView_->setAlignment(toolkit::StackView::Alignment::leading);
  closeOtherAppsButton_ =
      makeButton("Close Other Apps", {{kPaneWidth - kMargin - 150, 430}, {150, 26}});
  closeOtherAppsButton_->setIdentifier("closeOtherApps");
  closeOtherAppsButton_->setAction([weak](Button&) {
    if (auto s = weak.lock()) s->closeOtherApps();
  });

  // The menus.
  layoutMenu_ = std::make_shared<toolkit::Menu>();
  layoutMenu_->addItem(toolkit::MenuItem::make("Restore Layout", [weak](auto&) {
    if (auto s = weak.lock()) s->restoreLayout();
  }));
  layoutMenu_->addItem(toolkit::MenuItem::make("Close Other Apps", [weak](auto&) {
    if (auto s = weak.lock()) s->closeOtherApps();
  }));
  layoutMenu_->addItem(toolkit::MenuItem::separator());
  layoutMenu_->addItem(toolkit::MenuItem::make("Delete Layout...", [weak](auto&) {
    if (auto s = weak.lock()) s->deleteLayout();
  }));
  appMenu_ = std::make_shared<toolkit::Menu>();
  appMenu_->setAutoenablesItems(false);
  appMenuItemRestore_ = toolkit::MenuItem::make("Restore", [weak](auto&) {
    if (auto s = weak.lock()) s->restoreApps(CommandSender::menuItem);
  });
  appMenuItemClose_ = toolkit::MenuItem::make("Close", [weak](auto&) {
    if (auto s = weak.lock()) s->closeApps(CommandSender::menuItem);
  });
  appMenuItemRemove_ = toolkit::MenuItem::make("Remove from Layout", [weak](auto&) {
    if (auto s = weak.lock()) s->removeApps(CommandSender::menuItem);
  });
  appMenu_->addItem(appMenuItemRestore_);
  appMenu_->addItem(appMenuItemClose_);
  appMenu_->addItem(toolkit::MenuItem::separator());
  appMenu_->addItem(appMenuItemRemove_);
  appMenu_->setDelegate(std::static_pointer_cast<toolkit::MenuDelegate>(self()));
  outlineView_->setMenu(appMenu_);

  const std::vector<std::shared_ptr<toolkit::View>> subviews{
      layoutIconButton_,  layoutNameField_,
      restoreButton_,     layoutMenuButton_,
      autoCloseCheckbox_, frame,
      segments_,          othersLabel,
      appStackView_,      closeOtherAppsButton_};
  for (const auto& sub : subviews)
    view->addSubview(sub);
  setView(view);
}

void LayoutDetailsViewController::viewDidLoad() {
  layoutIconButton_->setImage(toolkit::Image::symbol("face-smile").withSize({16, 16}));
  layoutIconButton_->setTitle("");
  layoutNameField_->setDelegate(std::static_pointer_cast<toolkit::TextFieldDelegate>(self()));

  std::weak_ptr<LayoutDetailsViewController> weak = self();
  using OptionalLayout = std::optional<Layout>;
  auto shown = layoutSubject_.asObservable()
                   .flatMapLatest([weak](const OptionalLayout& layout) {
                     auto s = weak.lock();
                     if (!layout || !s || !s->context_.storage)
                       return rx::Observable<OptionalLayout>::just(std::nullopt);
                     return s->context_.storage->savedStream()
                         .map([name = layout->name](const std::vector<Layout>& saved) {
                           return layoutNamed(saved, name);
                         })
                         .filter([](const OptionalLayout& l) { return l.has_value(); });
                   })
                   .doOn({.onNext = [weak](const OptionalLayout& layout) {
                     if (auto s = weak.lock()) s->showLayout(layout);
                   }});
  if (!context_.windowsProvider) {
    shown.subscribe().disposed(disposeBag_);
    return;
  }
  rx::combineLatest(shown, context_.windowsProvider->appsWithWindowsStream())
      .subscribe(
          [weak](const std::tuple<OptionalLayout, ApplicationList>& pair) {
            if (auto s = weak.lock()) s->sortRunningApps(std::get<0>(pair), std::get<1>(pair));
          },
          [](const base::Error& error) { Track::errorWithLocation(error, "details.openApps_000"); })
      .disposed(disposeBag_);
}

void LayoutDetailsViewController::showLayout(const std::optional<Layout>& layout) {
  layout_ = layout;
  layoutApps_ = layout ? layout->apps : std::vector<IApp>{};
  if (layoutNameField_) layoutNameField_->setStringValue(layout ? layout->name : "");
  if (autoCloseCheckbox_) {
    const bool on = layout && layout->alwaysCloseOtherApps.value_or(false);
    autoCloseCheckbox_->setState(on ? toolkit::ControlState::on : toolkit::ControlState::off);
  }
}

void LayoutDetailsViewController::sortRunningApps(
    const std::optional<Layout>& layout, const std::vector<winsys::ApplicationPtr>& running) {
  std::vector<winsys::ApplicationPtr> open;
  std::vector<winsys::ApplicationPtr> other;
  for (const auto& application : running) {
    bool belongs = false;
    if (layout) {
      for (const auto& app : layout->apps) {
        if (iapp::matchesApplication(app, *application)) {
          belongs = true;
          break;
        }
      }
    }
    (belongs ? open : other).push_back(application);
  }
  openApps_ = std::move(open);
  otherApps_ = std::move(other);
  if (outlineView_) outlineView_->reloadData();
  showOtherApps();
  updateAppActions();
}

void LayoutDetailsViewController::showOtherApps() {
  if (!appStackView_) return;
  for (auto view : appStackView_->arrangedSubviews()) {
    appStackView_->removeArrangedSubview(*view);
    view->removeFromSuperview();
  }
  if (closeOtherAppsButton_) closeOtherAppsButton_->setEnabled(!otherApps_.empty());
  if (otherApps_.empty()) return;
  for (const auto& application : otherApps_) {
    if (!context_.icons) break;
    auto icon = iconForFileURL(*context_.icons, application->bundleURL());
    if (!icon) continue;
    auto imageView = std::make_shared<toolkit::ImageView>(toolkit::Rect{{0, 0}, {16, 16}});
    imageView->setImage(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}));
    appStackView_->addArrangedSubview(imageView);
  }
}

bool LayoutDetailsViewController::isRunning(const IApp& app) const {
  for (const auto& application : openApps_)
    if (iapp::matchesApplication(app, *application)) return true;
  return false;
}

bool LayoutDetailsViewController::canCloseApps() const {
  const auto selected = selectedApps();
  if (selected.empty()) return !openApps_.empty();
  for (const auto& app : selected)
    if (isRunning(app)) return true;
  return false;
}

void LayoutDetailsViewController::updateAppActions() {
  if (!segments_) return;
  if (!outlineView_) {
    for (std::size_t i = 0; i < 3; ++i)
      segments_->setEnabled(false, i);
    segments_->setEnabled(!openApps_.empty() || !otherApps_.empty(), 3);
    return;
  }
  const auto selected = selectedApps();
  bool someRunning = false;
  for (const auto& app : selected)
    someRunning = someRunning || isRunning(app);
  const auto states =
      segmentStates(selected.size(), someRunning, openApps_.size(), otherApps_.size());
  for (std::size_t i = 0; i < states.size(); ++i)
    segments_->setEnabled(states[i], i);
}

void LayoutDetailsViewController::updateAppMenuItems() {
  const bool selection = outlineView_ && !outlineView_->selectedRowIndexes().empty();
  if (appMenuItemClose_) appMenuItemClose_->setEnabled(canCloseApps());
  if (appMenuItemRemove_) appMenuItemRemove_->setEnabled(selection);
  if (appMenuItemRestore_) appMenuItemRestore_->setEnabled(selection);
}

void LayoutDetailsViewController::enableAppMenuItems() {
  for (auto* item : {appMenuItemClose_.get(), appMenuItemRemove_.get(), appMenuItemRestore_.get()})
    if (item) item->setEnabled(true);
}

// --- outline -------------------------------------------------------------------

std::size_t LayoutDetailsViewController::numberOfChildren(OutlineView&, const OutlineItem*) {
  return layoutApps_.size();
}

OutlineItem LayoutDetailsViewController::child(OutlineView&, std::size_t index,
                                               const OutlineItem*) {
  return index < layoutApps_.size() ? OutlineItem(layoutApps_[index]) : OutlineItem();
}

std::shared_ptr<toolkit::View> LayoutDetailsViewController::viewFor(OutlineView& view,
                                                                    const OutlineItem& item) {
  const auto* app = std::any_cast<IApp>(&item);
  return app ? appRow(view, *app) : nullptr;
}

std::shared_ptr<toolkit::View> LayoutDetailsViewController::appRow(OutlineView& view,
                                                                   const IApp& app) {
  auto cell = std::dynamic_pointer_cast<AppCellView>(view.makeView(AppCellView::kIdentifier));
  if (!cell) return nullptr;
  std::optional<std::string> name;
  if (context_.bundles) name = appDisplayName(*context_.bundles, app);
  // Never a blank row: the identifier, else the program's file name.
  if (!name || name->empty()) name = app.bundleId;
  if ((!name || name->empty()) && app.bundleURL) name = lastPathComponent(*app.bundleURL);
  cell->textField()->setStringValue(appRowTitle(name.value_or(""), app.windows.size()));
  cell->textField()->setTextColor(isRunning(app) ? toolkit::Color::label
                                                 : toolkit::Color::secondaryLabel);
  std::optional<platform::Image> icon;
  if (context_.icons) icon = appIcon(*context_.icons, app);
  cell->imageView()->setImage(
      icon ? std::optional(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}))
           : std::nullopt);

  auto* displays = cell->addonDisplays();
  for (auto sub : displays->arrangedSubviews()) {
    displays->removeArrangedSubview(*sub);
    sub->removeFromSuperview();
  }
  const Addon* addon =
      app.bundleId && context_.addons ? context_.addons->addonFor(*app.bundleId) : nullptr;
  if (!addon) return cell;
  for (const auto& display : addon->displays(app)) {
    if (!display.title && !display.image) continue;
    auto button = std::make_shared<Button>(Button::Type::toggle, toolkit::Rect{{0, 0}, {0, 20}});
    button->setBezelStyle(Button::BezelStyle::recessed);
    button->setState(toolkit::ControlState::on);
    button->setTitle(display.title.value_or(""));
    if (display.image) button->setImage(toolkit::Image::fromPixels(*display.image));
    button->setEnabled(false);
    displays->addArrangedSubview(button);
  }
  return cell;
}

}  // namespace wendrix

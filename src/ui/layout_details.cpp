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

LayoutDetailsViewController::LayoutDetailsViewController(CustomizationContext context)
    : context_(std::move(context)),
      state_(std::make_shared<LayoutDetailsState>()),
      appList_(std::make_shared<LayoutAppList>(context_, state_)),
      commands_(std::make_shared<LayoutDetailsCommands>(context_, state_, appList_)),
      menus_(std::make_shared<LayoutDetailsMenus>(context_, state_, appList_, commands_)) {}

std::shared_ptr<LayoutDetailsViewController> LayoutDetailsViewController::self() {
  return std::static_pointer_cast<LayoutDetailsViewController>(shared_from_this());
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
  commands_->setWindowOwner(weak);

  layoutIconButton_ = makeButton("", {{kMargin, kMargin}, {30, 26}});
  layoutIconButton_->setIdentifier("emojiButton");
  layoutIconButton_->setAction([weak](Button&) {
    if (auto s = weak.lock()) s->commands_->addEmoji();
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
    if (auto s = weak.lock()) s->commands_->restoreLayout();
  });
  layoutMenuButton_ = makeButton("", {{kPaneWidth - kMargin - 36, kMargin}, {36, 26}});
  layoutMenuButton_->setIdentifier("layoutMenuButton");
  layoutMenuButton_->setImage(toolkit::Image::symbol("view-more").withSize({16, 16}));
  layoutMenuButton_->setAction([weak](Button& sender) {
    if (auto s = weak.lock()) s->menus_->openLayoutMenu(sender);
  });
  autoCloseCheckbox_ =
      std::make_shared<Button>(Button::Type::checkbox, toolkit::Rect{{54, 50}, {400, 22}});
  autoCloseCheckbox_->setIdentifier("autoClose");
  autoCloseCheckbox_->setTitle("Close other apps when restoring this layout");
  autoCloseCheckbox_->setAction([weak](Button& sender) {
    if (auto s = weak.lock())
      s->commands_->toggleAutoClose(sender.state() == toolkit::ControlState::on);
  });

  // The applications, in a miniature window.
  auto frame = std::make_shared<WindowLookAlike>(
      toolkit::Rect{{kMargin, 84}, {kPaneWidth - 2 * kMargin, 292}});
  frame->setIdentifier("appsFrame");
  appList_->loadViews(toolkit::Rect{{1, 22}, {kPaneWidth - 2 * kMargin - 2, 269}},
                      toolkit::Rect{{kMargin, 386}, {260, 26}},
                      [weak](const toolkit::SegmentedControl& sender) {
                        if (auto s = weak.lock()) s->appAction(sender);
                      });
  frame->addSubview(appList_->outlineView());

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
    if (auto s = weak.lock()) s->commands_->closeOtherApps();
  });

  // The menus.
  menus_->loadMenus([weak] {
    if (auto s = weak.lock()) s->deleteLayout();
  });
  appList_->outlineView()->setMenu(menus_->appMenu());

  const std::vector<std::shared_ptr<toolkit::View>> subviews{
      layoutIconButton_,    layoutNameField_,   restoreButton_,
      layoutMenuButton_,    autoCloseCheckbox_, frame,
      appList_->segments(), othersLabel,        appStackView_,
      closeOtherAppsButton_};
  for (const auto& sub : subviews)
    view->addSubview(sub);
  setView(view);
}

void LayoutDetailsViewController::viewDidLoad() {
  layoutIconButton_->setImage(toolkit::Image::symbol("face-smile").withSize({16, 16}));
  layoutIconButton_->setTitle("");
  commands_->setNameField(layoutNameField_);
  layoutNameField_->setDelegate(std::static_pointer_cast<toolkit::TextFieldDelegate>(commands_));

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
  state_->layout = layout;
  state_->layoutApps = layout ? layout->apps.items() : std::vector<IApp>{};
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
  state_->openApps = std::move(open);
  state_->otherApps = std::move(other);
  if (auto& outline = appList_->outlineView()) outline->reloadData();
  showOtherApps();
  appList_->updateSegments();
}

void LayoutDetailsViewController::showOtherApps() {
  if (!appStackView_) return;
  for (auto view : appStackView_->arrangedSubviews()) {
    appStackView_->removeArrangedSubview(*view);
    view->removeFromSuperview();
  }
  const auto& otherApps = state_->otherApps;
  if (closeOtherAppsButton_) closeOtherAppsButton_->setEnabled(!otherApps.empty());
  if (otherApps.empty()) return;
  for (const auto& application : otherApps) {
    if (!context_.icons) break;
    auto icon = iconForFileURL(*context_.icons, application->bundleURL());
    if (!icon) continue;
    auto imageView = std::make_shared<toolkit::ImageView>(toolkit::Rect{{0, 0}, {16, 16}});
    imageView->setImage(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}));
    appStackView_->addArrangedSubview(imageView);
  }
}

// --- segments ----------------------------------------------------------------

void LayoutDetailsViewController::appAction(const toolkit::SegmentedControl& sender) {
  const auto& segments = appList_->segments();
  if (!segments) return;
  switch (segments->selectedSegment()) {
    case 0:
      commands_->closeApps(CommandSender::control);
      break;
    case 1:
      commands_->restoreApps(CommandSender::control);
      break;
    case 2:
      commands_->removeApps(CommandSender::control);
      break;
    case 3:
      menus_->showAddAppMenu(sender);
      break;
    default:
      break;
  }
}

}  // namespace wendrix

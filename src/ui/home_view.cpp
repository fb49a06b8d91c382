#include "ui/home_view.h"

#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "engine/actions.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "ui/customization_window_opener.h"
#include "ui/item_views.h"

namespace wendrix {

HomeViewController::HomeViewController(toolkit::Application& application)
    : application_(application) {}

void HomeViewController::loadView() {
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {kWidth, kHeight}});
  const std::string name = application_.bundleInfo("CFBundleName").value_or("Wendrix");

  auto item = std::make_shared<ItemView>(toolkit::Rect{{12, 12}, {kWidth - 64, 48}});
  item->setIdentifier("item");
  item->setImageSize(40);
  item->setImage(application_.imageNamed("AppIcon"));
  item->setTitle(name);
  item->titleView().setFont({0, true});
  if (auto version = application_.bundleInfo("CFBundleShortVersionString"))
    item->setSubtitle("Version " + *version);
  view->addSubview(item);

  std::weak_ptr<HomeViewController> weak =
      std::static_pointer_cast<HomeViewController>(shared_from_this());
  ellipsisButton_ = std::make_shared<toolkit::Button>(toolkit::Button::Type::push,
                                                      toolkit::Rect{{kWidth - 46, 22}, {34, 28}});
  ellipsisButton_->setIdentifier("ellipsis");
  ellipsisButton_->setTitle("…");
  ellipsisButton_->setBezelStyle(toolkit::Button::BezelStyle::texturedRounded);
  ellipsisButton_->setAction([weak](toolkit::Button& sender) {
    if (auto self = weak.lock()) self->openEllipsisMenu(sender);
  });
  view->addSubview(ellipsisButton_);

  auto command = [weak](void (HomeViewController::*method)()) {
    return [weak, method](toolkit::MenuItem&) {
      if (auto self = weak.lock()) ((*self).*method)();
    };
  };
  ellipsisMenu_ = std::make_shared<toolkit::Menu>();
  ellipsisMenu_->addItem(
      toolkit::MenuItem::make("Preferences...", command(&HomeViewController::openPreferences)));
  ellipsisMenu_->addItem(
      toolkit::MenuItem::make("Check For Updates", command(&HomeViewController::checkForUpdates)));
  ellipsisMenu_->addItem(
      toolkit::MenuItem::make("About " + name, command(&HomeViewController::openAbout)));
  // A developer's entry with nothing behind it: kept out of sight.
  debugMenuItem_ = toolkit::MenuItem::make("Debug", command(&HomeViewController::openDebug));
  debugMenuItem_->setHidden(true);
  ellipsisMenu_->addItem(debugMenuItem_);
  ellipsisMenu_->addItem(toolkit::MenuItem::separator());
  ellipsisMenu_->addItem(
      toolkit::MenuItem::make("Quit " + name, command(&HomeViewController::quitApp), "q"));
  setView(view);
}

void HomeViewController::openEllipsisMenu(const toolkit::View& sender) {
  if (!ellipsisMenu_) return;
  const toolkit::Rect bounds = sender.bounds();
  ellipsisMenu_->popUp(nullptr, {bounds.midX(), bounds.midY()}, &sender);
}

void HomeViewController::openPreferences() {
  if (customizationWindow_) customizationWindow_->showPreferences(ButtonClickSource::other);
}

void HomeViewController::checkForUpdates() {
  if (actions_) actions_->checkForUpdates();
}

void HomeViewController::openAbout() {
  if (customizationWindow_) customizationWindow_->showAbout(ButtonClickSource::other);
}

void HomeViewController::quitApp() {
  if (!actions_) return;
  Track::buttonClick(ButtonName::quit, ButtonClickSource::other);
  application_.terminate();
}

void bringPopoverForward(toolkit::Application& application, toolkit::Popover& popover) {
  application.activate(true);
  const auto& content = popover.contentViewController();
  if (toolkit::Window* window = content ? content->view()->window() : nullptr)
    window->makeKeyAndOrderFront();
}

void WindowPopoverDelegate::popoverDidShow(toolkit::Popover& popover) {
  bringPopoverForward(application_, popover);
}

void WindowPopoverDelegate::popoverDidClose(toolkit::Popover& /*popover*/) {
  if (observer_) observer_.onCompleted();
}

}  // namespace wendrix

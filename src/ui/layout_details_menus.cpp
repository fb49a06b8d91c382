#include "ui/layout_details_menus.h"

#include <utility>

#include "model/display_name.h"
#include "util/app_icons.h"

namespace wendrix {

LayoutDetailsMenus::LayoutDetailsMenus(CustomizationContext context,
                                       std::shared_ptr<const LayoutDetailsState> state,
                                       std::shared_ptr<const LayoutAppList> list,
                                       std::shared_ptr<LayoutDetailsCommands> commands)
    : context_(std::move(context)),
      state_(std::move(state)),
      list_(std::move(list)),
      commands_(std::move(commands)) {}

void LayoutDetailsMenus::loadMenus(std::function<void()> deleteLayout) {
  std::weak_ptr<LayoutDetailsCommands> weak = commands_;
  layoutMenu_ = std::make_shared<toolkit::Menu>();
  layoutMenu_->addItem(toolkit::MenuItem::make("Restore Layout", [weak](auto&) {
    if (auto s = weak.lock()) s->restoreLayout();
  }));
  layoutMenu_->addItem(toolkit::MenuItem::make("Close Other Apps", [weak](auto&) {
    if (auto s = weak.lock()) s->closeOtherApps();
  }));
  layoutMenu_->addItem(toolkit::MenuItem::separator());
  layoutMenu_->addItem(toolkit::MenuItem::make(
      "Delete Layout...", [deleteLayout = std::move(deleteLayout)](auto&) { deleteLayout(); }));
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
  appMenu_->setDelegate(std::static_pointer_cast<toolkit::MenuDelegate>(shared_from_this()));
}

void LayoutDetailsMenus::openLayoutMenu(const toolkit::View& sender) {
  if (!layoutMenu_) return;
  const auto bounds = sender.bounds();
  layoutMenu_->popUp(nullptr, {bounds.midX(), bounds.midY()}, &sender);
}

void LayoutDetailsMenus::updateAppMenuItems() {
  const bool selection = list_->hasSelection();
  if (appMenuItemClose_) appMenuItemClose_->setEnabled(list_->canCloseApps());
  if (appMenuItemRemove_) appMenuItemRemove_->setEnabled(selection);
  if (appMenuItemRestore_) appMenuItemRestore_->setEnabled(selection);
}

void LayoutDetailsMenus::enableAppMenuItems() {
  for (auto* item : {appMenuItemClose_.get(), appMenuItemRemove_.get(), appMenuItemRestore_.get()})
    if (item) item->setEnabled(true);
}

std::shared_ptr<toolkit::MenuItem> LayoutDetailsMenus::addAppMenuItem(
    const winsys::ApplicationPtr& application, bool replacement) {
  std::optional<std::string> name;
  if (context_.bundles)
    name = appDisplayName(*context_.bundles, application->bundleURL(),
                          application->bundleIdentifier());
  if (!name) name = application->bundleIdentifier();
  std::string title = name.value_or("");
  if (replacement) title += " (Replace)";
  std::weak_ptr<LayoutDetailsCommands> weak = commands_;
  auto item = toolkit::MenuItem::make(std::move(title), [weak](toolkit::MenuItem& sender) {
    if (auto s = weak.lock()) s->addApp(sender);
  });
  if (context_.icons) {
    if (auto icon = iconForFileURL(*context_.icons, application->bundleURL()))
      item->setImage(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}));
  }
  item->setRepresentedObject(application);
  return item;
}

void LayoutDetailsMenus::showAddAppMenu(const toolkit::View& sender) {
  const auto& state = *state_;
  if (state.openApps.empty() && state.otherApps.empty()) return;
  addAppMenu_ = std::make_shared<toolkit::Menu>();
  for (const auto& application : state.openApps)
    addAppMenu_->addItem(addAppMenuItem(application, true));
  for (const auto& application : state.otherApps)
    addAppMenu_->addItem(addAppMenuItem(application, false));
  const auto bounds = sender.bounds();
  addAppMenu_->popUp(nullptr, {bounds.midX(), bounds.midY()}, &sender);
}

}  // namespace wendrix

#include "app/menus/legacy_layout_menu.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <string>
#include <utility>

#include "analytics/record_replacements.h"
#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "app/menus/name_dialog.h"
#include "base/utf8.h"
#include "engine/actions.h"
#include "engine/capture.h"
#include "engine/display_matching.h"
#include "engine/windows_provider.h"
#include "model/display_name.h"
#include "storage/defaults_storage.h"
#include "toolkit/application.h"
#include "ui/customization_window_opener.h"

namespace wendrix {

namespace {

// Whether the text is empty once white space and line breaks are trimmed.
bool isBlank(const std::string& text) {
  const std::u16string units = base::toUtf16(text);
  return std::all_of(units.begin(), units.end(), [](char16_t c) { return u_isUWhiteSpace(c); });
}

std::vector<std::optional<base::Url>> bundleURLs(const ApplicationList& apps) {
  std::vector<std::optional<base::Url>> urls;
  for (const auto& app : apps)
    urls.push_back(app->bundleURL());
  return urls;
}

}  // namespace

std::shared_ptr<LegacyLayoutMenu> LegacyLayoutMenu::make(
    MenuContext context, Layout layout, std::shared_ptr<MainMenuDelegate> mainMenuDelegate,
    std::shared_ptr<const AddonRegistry> addons, std::shared_ptr<const AppIconImages> icons) {
  return create<LegacyLayoutMenu>(std::move(context), std::move(layout),
                                  std::move(mainMenuDelegate), std::move(addons), std::move(icons));
}

LegacyLayoutMenu::LegacyLayoutMenu(MenuContext context, Layout layout,
                                   std::shared_ptr<MainMenuDelegate> mainMenuDelegate,
                                   std::shared_ptr<const AddonRegistry> addons,
                                   std::shared_ptr<const AppIconImages> icons)
    : LayoutMenu(std::make_shared<const MenuContext>(std::move(context)),
                 std::make_shared<const Layout>(std::move(layout))),
      mainMenuDelegate_(std::move(mainMenuDelegate)),
      addons_(std::move(addons)),
      icons_(std::move(icons)),
      closeApps_(toolkit::MenuItem::make("Hide apps")),
      closeOthersToggle_(toolkit::MenuItem::make("Close other apps when restoring")),
      renameItem_(toolkit::MenuItem::make("Rename...")),
      removeItem_(toolkit::MenuItem::make("Remove")),
      addWindowItem_(toolkit::MenuItem::make("Add app")) {}

LegacyLayoutMenu::~LegacyLayoutMenu() {
  for (const auto& d : appWindowsDisposables_)
    d.dispose();
}

void LegacyLayoutMenu::setupItems() {
  // The three before the base builds the menu, which refers to them.
  closeOthersToggle_->setAction(
      target(&LegacyLayoutMenu::toggleCloseUnusedAppsWhenRestoringWithItem));
  renameItem_->setAction(target(&LegacyLayoutMenu::renameWithItem));
  removeItem_->setAction(target(&LegacyLayoutMenu::removeWithItem));
  LayoutMenu::setupItems();
}

void LegacyLayoutMenu::refreshMenu() {
  menu_->removeAllItems();
  buildMenu();
}

void LegacyLayoutMenu::buildMenu() {
  for (const auto& d : appWindowsDisposables_)
    d.dispose();
  appWindowsDisposables_.clear();

  menu_->addItem(restoreItem_);
  menu_->addItem(toolkit::MenuItem::separator());
  closeApps_->setSubmenu(closeAppsSubmenu());
  menu_->addItem(closeApps_);
  closeOthersToggle_->setState(layout_->alwaysCloseOtherApps.value_or(false)
                                   ? toolkit::ControlState::on
                                   : toolkit::ControlState::off);
  menu_->addItem(closeOthersToggle_);
  menu_->addItem(renameItem_);
  menu_->addItem(removeItem_);
  addWindowItem_->setSubmenu(addWindowSubmenu());
  menu_->addItem(addWindowItem_);
  menu_->addItem(toolkit::MenuItem::separator());
  for (const IApp& app : layout_->apps)
    menu_->addItem(appEntry(app));
}

std::string LegacyLayoutMenu::entryTitle(const std::optional<base::Url>& bundleURL,
                                         const std::optional<std::string>& bundleId,
                                         std::size_t windows) const {
  std::string title = appDisplayName(*context_->bundles, bundleURL, bundleId).value_or("");
  if (windows >= 2) title += " (" + std::to_string(windows) + ")";
  return title;
}

std::optional<toolkit::Image> LegacyLayoutMenu::iconOf(
    const std::optional<base::Url>& bundleURL) const {
  return icons_ ? icons_->appIcon(bundleURL) : std::nullopt;
}

std::shared_ptr<toolkit::Menu> LegacyLayoutMenu::closeAppsSubmenu() {
  auto submenu = std::make_shared<toolkit::Menu>();
  auto layoutApps = toolkit::MenuItem::make("Hide \"" + layout_->name + "\" apps");
  auto otherApps = toolkit::MenuItem::make("Hide other apps");
  for (const auto& item : {layoutApps, otherApps}) {
    item->setRepresentedObject(ApplicationList{});
    item->setEnabled(false);
  }
  submenu->addItem(layoutApps);
  submenu->addItem(toolkit::MenuItem::separator());
  submenu->addItem(otherApps);

  std::weak_ptr<LegacyLayoutMenu> weak =
      std::static_pointer_cast<LegacyLayoutMenu>(shared_from_this());
  const auto fill = [weak](toolkit::MenuItem& item, const ApplicationList& apps,
                           toolkit::MenuItem::Action action) {
    auto self = weak.lock();
    if (!self) return;
    if (self->icons_) {
      const auto urls = bundleURLs(apps);
      item.setImage(self->icons_->combinedIcon(urls));
    }
    item.setRepresentedObject(apps);
    item.setEnabled(!apps.empty());
    item.setAction(apps.empty() ? nullptr : std::move(action));
  };
  const std::vector<IApp> saved = layout_->apps;
  const auto closeLayout = target(&LegacyLayoutMenu::closeLayoutAppsWithItem);
  const auto closeOthers = target(&LegacyLayoutMenu::closeOtherAppsWithItem);
  rx::Disposable d = context_->windowsProvider->appsWithWindowsStream().subscribe(
      [fill, saved, layoutApps, otherApps, closeLayout, closeOthers](const ApplicationList& apps) {
        ApplicationList inLayout, others;
        for (const auto& app : apps) {
          const bool member = std::any_of(saved.begin(), saved.end(), [&](const IApp& s) {
            return iapp::matchesApplication(s, *app);
          });
          (member ? inLayout : others).push_back(app);
        }
        fill(*layoutApps, inLayout, closeLayout);
        fill(*otherApps, others, closeOthers);
      },
      [](const rx::Error& error) {
        Track::errorWithLocation(error, error_location::kLegacymenuCloseApps000);
      });
  appWindowsDisposables_.push_back(d);
  return submenu;
}

std::shared_ptr<toolkit::Menu> LegacyLayoutMenu::addWindowSubmenu() {
  auto submenu = std::make_shared<toolkit::Menu>();
  std::weak_ptr<LegacyLayoutMenu> weak =
      std::static_pointer_cast<LegacyLayoutMenu>(shared_from_this());
  rx::Disposable d = context_->windowsProvider->appsIncludingWindowsStream().subscribe(
      [weak, submenu](const ApplicationList& apps) {
        auto self = weak.lock();
        if (!self) return;
        submenu->removeAllItems();
        for (const auto& app : apps) {
          auto item =
              toolkit::MenuItem::make(self->entryTitle(app->bundleURL(), app->bundleIdentifier(),
                                                       app->knownWindows().size()),
                                      self->target(&LegacyLayoutMenu::addAppToLayoutWithItem));
          item->setImage(self->iconOf(app->bundleURL()));
          item->setRepresentedObject(AppInLayout{app, *self->layout_});
          submenu->addItem(item);
        }
      },
      [](const rx::Error& error) {
        Track::errorWithLocation(error, error_location::kLegacymenuAddWindows000);
      });
  appWindowsDisposables_.push_back(d);
  return submenu;
}

std::shared_ptr<toolkit::MenuItem> LegacyLayoutMenu::appEntry(const IApp& app) {
  auto entry = toolkit::MenuItem::make(entryTitle(app.bundleURL, app.bundleId, app.windows.size()));
  entry->setImage(iconOf(app.bundleURL));
  auto submenu = std::make_shared<toolkit::Menu>();
  auto restore = toolkit::MenuItem::make("Restore", target(&LegacyLayoutMenu::restoreAppWithItem));
  restore->setRepresentedObject(app);
  auto remove = toolkit::MenuItem::make("Delete", target(&LegacyLayoutMenu::removeAppWithItem));
  remove->setRepresentedObject(LayoutAndApp{*layout_, app});
  submenu->addItem(restore);
  submenu->addItem(remove);
  entry->setSubmenu(submenu);
  return entry;
}

void LegacyLayoutMenu::putAway(const ApplicationList& apps) {
  commands_.run<rx::Unit>(context_->actions->closer().applyCloseBehavior(apps).asObservable(),
                          nullptr, nullptr);
}

void LegacyLayoutMenu::closeUnusedAppsWithItem(toolkit::MenuItem& sender) {
  if (const auto* apps = sender.represented<ApplicationList>()) putAway(*apps);
}

void LegacyLayoutMenu::closeLayoutAppsWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::closeLayoutApps, ButtonClickSource::menu);
  const auto* apps = sender.represented<ApplicationList>();
  if (!apps) return;
  Track::closedLayoutApps(static_cast<std::int64_t>(apps->size()));
  putAway(*apps);
}

void LegacyLayoutMenu::closeOtherAppsWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::closeOtherApps, ButtonClickSource::menu);
  const auto* apps = sender.represented<ApplicationList>();
  if (!apps) return;
  Track::closedOtherApps(static_cast<std::int64_t>(apps->size()));
  putAway(*apps);
}

void LegacyLayoutMenu::renameWithItem(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutRename, ButtonClickSource::menu);
  // Held: the write below may replace the menu's copy.
  const std::shared_ptr<const Layout> layout = layout_;
  const std::optional<std::string> name = askLayoutName(*context_->application, layout->name);
  if (!name || isBlank(*name)) return;
  Layout renamed = *layout;
  renamed.name = *name;
  context_->storage->replaceLayout(layout->name, renamed);
}

void LegacyLayoutMenu::removeWithItem(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutDelete, ButtonClickSource::menu);
  const std::shared_ptr<const Layout> layout = layout_;
  context_->storage->deleteLayout(layout->name);
}

void LegacyLayoutMenu::addWindowToLayoutWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::layoutAdd, ButtonClickSource::menu);
  const auto* pair = sender.represented<WindowInLayout>();
  if (!pair || !pair->first) return;
  context_->actions->addWindowToLayout(*pair->first, pair->second);
}

void LegacyLayoutMenu::addAppToLayoutWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::layoutAdd, ButtonClickSource::menu);
  const auto* pair = sender.represented<AppInLayout>();
  if (!pair || !pair->first) return;
  Layout changed = pair->second;
  changed.apps =
      replaceOrAppendApp(changed.apps, iapp::fromApplication(*pair->first, addons_.get()));
  context_->storage->replaceLayout(pair->second.name, changed);
}

void LegacyLayoutMenu::restoreAppWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::appRestore, ButtonClickSource::menu);
  const IApp* app = sender.represented<IApp>();
  if (!app) return;
  std::weak_ptr<Actions> actions = context_->actions;
  auto restore = context_->actions->restorer().restoreApp(*app).flatMap(
      [actions, app = *app](const MatchedWindows& matched) {
        if (auto a = actions.lock()) return a->placer().restoreWindows(matched, app);
        return rx::Single<rx::Unit>::just({});
      });
  commands_.run<rx::Unit>(restore.asObservable(), nullptr,
                          [bundles = context_->bundles, app = *app](const rx::Error& error) {
                            Track::errorWithLocation(error,
                                                     error_location::kLegacymenuRestoreApp000,
                                                     anonymizingReplacements(app, *bundles));
                          });
}

void LegacyLayoutMenu::removeAppWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::appDelete, ButtonClickSource::menu);
  const auto* pair = sender.represented<LayoutAndApp>();
  if (!pair) return;
  Layout changed = pair->first;
  std::erase_if(changed.apps.edit(),
                [&](const IApp& a) { return !isDifferentApp(a, pair->second); });
  context_->storage->replaceLayout(pair->first.name, changed);
}

void LegacyLayoutMenu::toggleCloseUnusedAppsWhenRestoringWithItem(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::autoClose, ButtonClickSource::menu);
  const std::shared_ptr<const Layout> layout = layout_;
  const bool value = !layout->alwaysCloseOtherApps.value_or(false);
  Layout changed = *layout;
  changed.alwaysCloseOtherApps = value;
  context_->storage->replaceLayout(layout->name, changed);
  Track::toggleAutoCloseApps(value);
}

void LegacyLayoutMenu::customizeItem(toolkit::MenuItem& sender) {
  if (const Layout* layout = attachedLayout(sender))
    context_->customizationWindow->openEditWindow(*layout);
}

}  // namespace wendrix

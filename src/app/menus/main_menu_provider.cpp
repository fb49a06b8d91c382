#include "app/menus/main_menu_provider.h"

#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "app/menus/name_dialog.h"
#include "app/menus/new_feature_highlight.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "storage/defaults_storage.h"
#include "toolkit/application.h"
#include "ui/customization_window_opener.h"
#include "winsys/accessibility.h"
#include "winsys/window_system.h"

namespace wendrix {

using MenuPtr = std::shared_ptr<toolkit::Menu>;

std::shared_ptr<MainMenuProvider> MainMenuProvider::make(MenuContext context) {
  std::shared_ptr<MainMenuProvider> provider(new MainMenuProvider(std::move(context)));
  provider->setupMenu();
  return provider;
}

MainMenuProvider::MainMenuProvider(MenuContext context)
    : context_(std::make_shared<const MenuContext>(std::move(context))),
      mainMenuDelegate_(std::make_shared<MainMenuDelegate>(
          context_->actions, context_->customizationWindow, context_->clockOrSystem())),
      mainMenu_(std::make_shared<toolkit::Menu>()),
      saveMenuItem_(toolkit::MenuItem::make("Save windows layout...")),
      editLayoutsMenuItem_(toolkit::MenuItem::make("Edit Layouts...")),
      promptAXItem_(toolkit::MenuItem::make("Please enable accessibility...")),
      savedAppsHeader_(toolkit::MenuItem::make("Saved layouts")),
      preferencesMenuItem_(toolkit::MenuItem::make("Preferences...")),
      checkForUpdatesItem_(toolkit::MenuItem::make("Check For Updates")),
      aboutMenuItem_(toolkit::MenuItem::make("About Wendrix")),
      quitMenuItem_(toolkit::MenuItem::make("Quit")) {}

MainMenuProvider::~MainMenuProvider() = default;

toolkit::MenuItem::Action MainMenuProvider::target(
    void (MainMenuProvider::*command)(toolkit::MenuItem&)) {
  return [weak = weak_from_this(), command](toolkit::MenuItem& sender) {
    if (auto self = weak.lock()) ((*self).*command)(sender);
  };
}

toolkit::MenuItem::Action MainMenuProvider::target(void (MainMenuProvider::*command)()) {
  return [weak = weak_from_this(), command](toolkit::MenuItem&) {
    if (auto self = weak.lock()) ((*self).*command)();
  };
}

void MainMenuProvider::setupMenu() {
  mainMenu_->setAutoenablesItems(false);
  mainMenu_->setDelegate(mainMenuDelegate_);
  savedAppsHeader_->setEnabled(false);

  bindNewFeatureHighlight(context_->storage->featureEditWindow().valueStream(),
                          editLayoutsMenuItem_)
      .subscribe(nullptr,
                 [](const rx::Error& error) {
                   Track::errorWithLocation(error, error_location::kMenuHighlightEditWindow001);
                 })
      .disposed(disposeBag_);

  saveMenuItem_->setAction(target(&MainMenuProvider::saveCurrentLayout));
  editLayoutsMenuItem_->setAction(target(&MainMenuProvider::openEditLayoutsWindow));
  promptAXItem_->setAction(target(&MainMenuProvider::promptAccessibility));
  preferencesMenuItem_->setAction(target(&MainMenuProvider::openPreferencesWindowWithSender));
  checkForUpdatesItem_->setAction(target(&MainMenuProvider::checkForUpdatesWithItem));
  aboutMenuItem_->setAction(target(&MainMenuProvider::showAbout));
  quitMenuItem_->setAction(target(&MainMenuProvider::terminateSelf));

  rebuildMenu(nullptr, false);
}

void MainMenuProvider::rebuildMenu(const std::shared_ptr<const SavedLayouts>& saved, bool trusted) {
  const bool hasLayouts = saved && !saved->layouts().empty();
  saveMenuItem_->setEnabled(trusted);
  editLayoutsMenuItem_->setEnabled(hasLayouts);
  std::vector<std::shared_ptr<toolkit::MenuItem>> items;
  items.reserve(11 + (saved ? saved->layouts().size() : 0));
  items.push_back(saveMenuItem_);
  items.push_back(editLayoutsMenuItem_);
  if (!trusted) items.push_back(promptAXItem_);
  if (hasLayouts) {
    items.push_back(toolkit::MenuItem::separator());
    items.push_back(savedAppsHeader_);
  }
  addLayoutMenus(saved, items);
  items.push_back(toolkit::MenuItem::separator());
  items.push_back(preferencesMenuItem_);
  items.push_back(checkForUpdatesItem_);
  items.push_back(aboutMenuItem_);
  items.push_back(toolkit::MenuItem::separator());
  items.push_back(quitMenuItem_);
  toolkit::Menu& menu = *mainMenu_;
  menu.removeAllItems();
  menu.addItems(std::move(items));
}

void MainMenuProvider::addLayoutMenus(const std::shared_ptr<const SavedLayouts>& saved,
                                      std::vector<std::shared_ptr<toolkit::MenuItem>>& items) {
  std::vector<std::shared_ptr<LayoutMenu>> made;
  if (saved) {
    made.reserve(saved->layouts().size());
    for (const Layout& layout : saved->layouts()) {
      made.push_back(LayoutMenu::make(context_, std::shared_ptr<const Layout>(saved, &layout)));
      items.push_back(made.back()->menuItem());
    }
  }
  // The previous menus go here, and with them their subscriptions and any
  // command of theirs still running.
  std::swap(layoutMenus_, made);
}

rx::Observable<MenuPtr> MainMenuProvider::mainMenuStream() {
  if (mainMenuStream_) return *mainMenuStream_;
  std::weak_ptr<MainMenuProvider> weak = weak_from_this();
  mainMenuStream_ = context_->windowsProvider->accessibilityAccessStream().flatMapLatest(
      [weak](const bool& granted) {
        auto self = weak.lock();
        if (!self) return rx::Observable<MenuPtr>::just(std::make_shared<toolkit::Menu>());
        if (granted) {
          return self->context_->storage->savedLayoutsStream().map(
              [weak](const std::shared_ptr<const SavedLayouts>& saved) {
                auto provider = weak.lock();
                if (!provider) return std::make_shared<toolkit::Menu>();
                provider->rebuildMenu(saved, true);
                return provider->mainMenu_;
              });
        }
        // Without access the menu asks for it, also when access was lost
        // after the layouts were listed: their commands could not work.
        self->rebuildMenu(nullptr, false);
        return rx::Observable<MenuPtr>::just(self->mainMenu_);
      });
  return *mainMenuStream_;
}

void MainMenuProvider::saveCurrentLayout() {
  save(true);
}

void MainMenuProvider::quickSaveLayout() {
  save(false);
}

void MainMenuProvider::save(bool withDialog) {
  Track::buttonClick(withDialog ? ButtonName::saveLayout : ButtonName::saveQuick,
                     ButtonClickSource::menu);
  const std::string defaultName = context_->defaultName();
  std::optional<std::string> name =
      withDialog ? askLayoutName(*context_->application, defaultName) : defaultName;
  if (!name) return;
  commands_.run<rx::Unit>(context_->actions->saveLayout(std::move(*name)).asObservable(), nullptr,
                          [](const rx::Error& error) {
                            Track::errorWithLocation(error, error_location::kMenuSaveLayout000);
                          });
}

void MainMenuProvider::openEditLayoutsWindow(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::customize, ButtonClickSource::menu);
  context_->storage->featureEditWindow().setValue(true);
  context_->customizationWindow->openEditWindow(std::nullopt);
}

void MainMenuProvider::promptAccessibility() {
  Track::buttonClick(ButtonName::promptAccessibility, ButtonClickSource::menu);
  context_->trust->checkIsProcessTrusted(true);
}

void MainMenuProvider::openPreferencesWindowWithSender(toolkit::MenuItem&) {
  context_->customizationWindow->showPreferences(ButtonClickSource::menu);
}

void MainMenuProvider::checkForUpdatesWithItem(toolkit::MenuItem&) {
  context_->actions->checkForUpdates();
}

void MainMenuProvider::showAbout(toolkit::MenuItem&) {
  context_->customizationWindow->showAbout(ButtonClickSource::menu);
}

void MainMenuProvider::terminateSelf(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::quit, ButtonClickSource::menu);
  context_->application->terminate();
}

void MainMenuProvider::restoreLayoutWithItem(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::layoutRestore, ButtonClickSource::menu);
  const Layout* layout = attachedLayout(sender);
  if (!layout) return;
  // One run of the restore, shared by the command and the feedback stream.
  rx::Observable<rx::Unit> restore = context_->actions->restoreLayout(*layout).asObservable().share(
      1, rx::SubjectLifetimeScope::forever);
  feedbackSubject_.onNext(
      restore.catchError([](const rx::Error&) { return rx::Observable<rx::Unit>::empty(); }));
  commands_.run<rx::Unit>(
      restore, nullptr, [bundles = context_->bundles, layout = *layout](const rx::Error& error) {
        reportLayoutError(error, error_location::kMenuRestoreLayout000, layout, *bundles);
      });
}

void MainMenuProvider::editLayout(toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::layoutEdit, ButtonClickSource::menu);
  if (const Layout* layout = attachedLayout(sender))
    context_->customizationWindow->openEditWindow(*layout);
}

void MainMenuProvider::closeUnusedAppsWithItem(toolkit::MenuItem& sender) {
  const auto* apps = sender.represented<std::vector<winsys::ApplicationPtr>>();
  if (!apps) return;
  const auto count = static_cast<std::int64_t>(apps->size());
  commands_.run<rx::Unit>(
      context_->actions->closer().applyCloseBehavior(*apps).asObservable(),
      [count](const rx::Unit&) { Track::closedOtherApps(count); },
      [](const rx::Error& error) { Track::error(error); });
}

}  // namespace wendrix

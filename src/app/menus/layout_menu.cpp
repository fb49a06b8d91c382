#include "app/menus/layout_menu.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "analytics/record_replacements.h"
#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "app/menus/new_feature_highlight.h"
#include "engine/actions.h"
#include "storage/defaults_storage.h"
#include "storage/saved_layouts.h"
#include "ui/customization_window_opener.h"

namespace wendrix {

std::shared_ptr<LayoutMenu> LayoutMenu::make(MenuContext context, Layout layout) {
  return make(std::make_shared<const MenuContext>(std::move(context)),
              std::make_shared<const Layout>(std::move(layout)));
}

std::shared_ptr<LayoutMenu> LayoutMenu::make(std::shared_ptr<const MenuContext> context,
                                             std::shared_ptr<const Layout> layout) {
  return create<LayoutMenu>(std::move(context), std::move(layout));
}

LayoutMenu::LayoutMenu(std::shared_ptr<const MenuContext> context,
                       std::shared_ptr<const Layout> layout)
    : context_(std::move(context)),
      layout_(std::move(layout)),
      menu_(std::make_shared<toolkit::Menu>()),
      restoreItem_(toolkit::MenuItem::make("Restore layout")),
      editLayoutItem_(toolkit::MenuItem::make("Edit...")),
      hideLayoutItem_(toolkit::MenuItem::make("Hide layout windows")) {}

LayoutMenu::~LayoutMenu() = default;

const std::shared_ptr<toolkit::MenuItem>& LayoutMenu::menuItem() {
  if (!menuItem_) {
    menuItem_ = toolkit::MenuItem::make(layout_->name);
    menuItem_->setSubmenu(menu_);
  }
  return menuItem_;
}

void LayoutMenu::setupItems() {
  menu_->setAutoenablesItems(true);
  const std::pair<toolkit::MenuItem*, toolkit::MenuItem::Action> items[] = {
      {restoreItem_.get(), target(&LayoutMenu::restoreLayoutWithItem)},
      {editLayoutItem_.get(), target(&LayoutMenu::editLayout)},
      {hideLayoutItem_.get(), target(&LayoutMenu::hideLayout)},
  };
  for (const auto& [item, action] : items) {
    item->setRepresentedObject(layout_);
    item->setAction(action);
    item->setEnabled(true);
  }
  buildMenu();
  bind();
}

void LayoutMenu::buildMenu() {
  menu_->addItems({restoreItem_, editLayoutItem_, toolkit::MenuItem::separator(), hideLayoutItem_});
}

void LayoutMenu::bind() {
  followStore().disposed(disposeBag_);
  bindNewFeatureHighlight(context_->storage->featureHideLayoutMenuItem().valueStream(),
                          hideLayoutItem_)
      .subscribe(nullptr,
                 [](const rx::Error& error) {
                   Track::errorWithLocation(error, error_location::kMenuHighlightHideMenuItem000);
                 })
      .disposed(disposeBag_);
}

rx::Disposable LayoutMenu::followStore() {
  rx::Observable<std::shared_ptr<const SavedLayouts>> saved =
      context_->storage->savedLayoutsStream();
#ifndef NDEBUG
  saved = saved.doOn({.onDispose = [name = layout_->name] {
    std::printf("layout menu of %s: stopped following the store\n", name.c_str());
  }});
#endif
  return saved.subscribeNext(
      [weak = weak_from_this()](const std::shared_ptr<const SavedLayouts>& emission) {
        auto self = weak.lock();
        if (!self) return;
        const Layout* found = emission->find(self->layout_->name);
        if (!found) return;
        // The emission's own copy, held as long as the menu keeps it.
        if (found != self->layout_.get())
          self->layout_ = std::shared_ptr<const Layout>(emission, found);
        self->refreshMenu();
      });
}

void reportLayoutError(const rx::Error& error, std::string_view location, const Layout& layout,
                       const platform::BundleProvider& bundles) {
  AnonymizingReplacements replacements{{layout.name, std::string(placeholders::kLayoutName)}};
  const AnonymizingReplacements apps = anonymizingReplacementsForApps(layout.apps, bundles);
  replacements.insert(replacements.end(), apps.begin(), apps.end());
  Track::errorWithLocation(error, location, replacements);
}

const Layout* attachedLayout(const toolkit::MenuItem& item) {
  if (const auto* shared = item.represented<std::shared_ptr<const Layout>>()) return shared->get();
  return item.represented<Layout>();
}

// The commands hold the layout they act on: a write of the saved layouts
// while they run may replace the menu's copy.

void LayoutMenu::restoreLayoutWithItem(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutRestore, ButtonClickSource::menu);
  const std::shared_ptr<const Layout> layout = layout_;
  commands_.run<rx::Unit>(context_->actions->restoreLayout(*layout).asObservable(), nullptr,
                          [bundles = context_->bundles, layout](const rx::Error& error) {
                            reportLayoutError(error, error_location::kMenuRestoreLayout001, *layout,
                                              *bundles);
                          });
}

void LayoutMenu::editLayout(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutEdit, ButtonClickSource::menu);
  const std::shared_ptr<const Layout> layout = layout_;
  context_->customizationWindow->openEditWindow(*layout);
}

void LayoutMenu::hideLayout(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutHide, ButtonClickSource::menu);
  const std::shared_ptr<const Layout> layout = layout_;
  auto command = context_->actions->closeLayoutApps(*layout).asObservable().doOn(
      {.onDispose = [storage = context_->storage] {
        storage->featureHideLayoutMenuItem().setValue(true);
      }});
  commands_.run<rx::Unit>(
      command, nullptr, [bundles = context_->bundles, layout](const rx::Error& error) {
        reportLayoutError(error, error_location::kMenuHideLayout000, *layout, *bundles);
      });
}

}  // namespace wendrix

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
#include "rx/hand_written.h"
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

// The submenu's own items in one allocation, with the menu their commands
// run on. Their actions refer to `owner` here: an action runs only through
// its item, which keeps this alive.
struct LayoutMenu::Items {
  toolkit::MenuItem restore{"Restore layout", nullptr};
  toolkit::MenuItem edit{"Edit...", nullptr};
  toolkit::MenuItem separator = toolkit::MenuItem::separatorItem();
  toolkit::MenuItem hide{"Hide layout windows", nullptr};
  std::weak_ptr<LayoutMenu> owner;
  // The layout the command items carry (see HeldLayout).
  std::shared_ptr<const Layout> attached;
};

namespace {

// What a command item carries: its layout, held by the items' allocation
// that the item lives in. A pointer fits inside the item's value, where a
// shared pointer would need an allocation of its own per item.
struct HeldLayout {
  const Layout* layout;
};

}  // namespace

template <void (LayoutMenu::*command)(toolkit::MenuItem&)>
toolkit::MenuItem::Action LayoutMenu::itemAction(const Items& items) {
  // A pointer alone: the action fits inside the std::function.
  return [owner = &items.owner](toolkit::MenuItem& sender) {
    if (auto self = owner->lock()) ((*self).*command)(sender);
  };
}

LayoutMenu::LayoutMenu(std::shared_ptr<const MenuContext> context,
                       std::shared_ptr<const Layout> layout)
    : context_(std::move(context)),
      layout_(std::move(layout)),
      menu_(std::make_shared<toolkit::Menu>()) {
  auto items = std::make_shared<Items>();
  items_ = items.get();
  restoreItem_ = std::shared_ptr<toolkit::MenuItem>(items, &items->restore);
  editLayoutItem_ = std::shared_ptr<toolkit::MenuItem>(items, &items->edit);
  hideLayoutItem_ = std::shared_ptr<toolkit::MenuItem>(std::move(items), &items_->hide);
}

LayoutMenu::~LayoutMenu() {
  // Neither binding calls this menu from here on.
  if (followingStore_) stoppedFollowing();
  store_.dispose();
  hideFlag_.dispose();
}

const std::shared_ptr<toolkit::MenuItem>& LayoutMenu::menuItem() {
  if (!menuItem_) {
    menuItem_ = toolkit::MenuItem::make(layout_->name);
    menuItem_->setSubmenu(menu_);
  }
  return menuItem_;
}

void LayoutMenu::setupItems() {
  menu_->setAutoenablesItems(true);
  items_->owner = weak_from_this();
  items_->attached = layout_;
  const std::pair<toolkit::MenuItem*, toolkit::MenuItem::Action> items[] = {
      {restoreItem_.get(), itemAction<&LayoutMenu::restoreLayoutWithItem>(*items_)},
      {editLayoutItem_.get(), itemAction<&LayoutMenu::editLayout>(*items_)},
      {hideLayoutItem_.get(), itemAction<&LayoutMenu::hideLayout>(*items_)},
  };
  for (const auto& [item, action] : items) {
    item->setRepresentedObject(HeldLayout{items_->attached.get()});
    item->setAction(action);
    item->setEnabled(true);
  }
  buildMenu();
  bind();
}

void LayoutMenu::buildMenu() {
  menu_->addItems({restoreItem_, editLayoutItem_,
                   std::shared_ptr<toolkit::MenuItem>(restoreItem_, &items_->separator),
                   hideLayoutItem_});
}

// Both bindings call this menu directly: the destructor disposes them before
// anything else goes, and a disposed subscription calls nothing.
void LayoutMenu::bind() {
  store_ = followStore();
  hideFlag_ = context_->storage->featureHideLayoutMenuItem().valueStream().subscribe(
      rx::observer<bool>([this](const rx::Event<bool>& event) { hideFlagEvent(event); }));
}

rx::Disposable LayoutMenu::followStore() {
  followingStore_ = true;
  return context_->storage->savedLayoutsStream().subscribe(
      rx::observer<std::shared_ptr<const SavedLayouts>>(
          [this](const rx::Event<std::shared_ptr<const SavedLayouts>>& event) {
            storeEvent(event);
          }));
}

void LayoutMenu::storeEvent(const rx::Event<std::shared_ptr<const SavedLayouts>>& event) {
  if (!event.isNext()) {
    // An end of the store ends the subscription quietly.
    stoppedFollowing();
    return;
  }
  // Held while it refreshes; nothing to do once it is going.
  const auto self = weak_from_this().lock();
  if (!self) return;
  const std::shared_ptr<const SavedLayouts>& emission = event.element();
  const Layout* found = emission->find(layout_->name);
  if (!found) return;
  // The emission's own copy, held as long as the menu keeps it.
  if (found != layout_.get()) layout_ = std::shared_ptr<const Layout>(emission, found);
  refreshMenu();
}

void LayoutMenu::hideFlagEvent(const rx::Event<bool>& event) {
  if (event.isNext()) {
    const bool used = event.element();
    if (hideFlagShown_ == used) return;
    hideFlagShown_ = used;
    showNewFeatureHighlight(*hideLayoutItem_, used);
  } else if (event.isError()) {
    Track::errorWithLocation(event.error(), error_location::kMenuHighlightHideMenuItem000);
  }
}

void LayoutMenu::stoppedFollowing() {
  followingStore_ = false;
#ifndef NDEBUG
  std::printf("layout menu of %s: stopped following the store\n", layout_->name.c_str());
#endif
}

void reportLayoutError(const rx::Error& error, std::string_view location, const Layout& layout,
                       const platform::BundleProvider& bundles) {
  AnonymizingReplacements replacements{{layout.name, std::string(placeholders::kLayoutName)}};
  const AnonymizingReplacements apps = anonymizingReplacementsForApps(layout.apps, bundles);
  replacements.insert(replacements.end(), apps.begin(), apps.end());
  Track::errorWithLocation(error, location, replacements);
}

const Layout* attachedLayout(const toolkit::MenuItem& item) {
  if (const auto* held = item.represented<HeldLayout>()) return held->layout;
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

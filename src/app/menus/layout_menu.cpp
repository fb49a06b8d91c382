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
#include "ui/customization_window_opener.h"

namespace wendrix {

std::shared_ptr<LayoutMenu> LayoutMenu::make(MenuContext context, Layout layout) {
  return create<LayoutMenu>(std::move(context), std::move(layout));
}

LayoutMenu::LayoutMenu(MenuContext context, Layout layout)
    : context_(std::move(context)),
      layout_(std::move(layout)),
      menu_(std::make_shared<toolkit::Menu>()),
      restoreItem_(toolkit::MenuItem::make("Restore layout")),
      editLayoutItem_(toolkit::MenuItem::make("Edit...")),
      hideLayoutItem_(toolkit::MenuItem::make("Hide layout windows")) {}

LayoutMenu::~LayoutMenu() = default;

const std::shared_ptr<toolkit::MenuItem>& LayoutMenu::menuItem() {
  if (!menuItem_) {
    menuItem_ = toolkit::MenuItem::make(layout_.name);
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
  menu_->addItem(restoreItem_);
  menu_->addItem(editLayoutItem_);
  menu_->addItem(toolkit::MenuItem::separator());
  menu_->addItem(hideLayoutItem_);
}

void LayoutMenu::bind() {
  reactiveStream().subscribe().disposed(disposeBag_);
  bindNewFeatureHighlight(context_.storage->featureHideLayoutMenuItem().valueStream(),
                          hideLayoutItem_)
      .subscribe(nullptr,
                 [](const rx::Error& error) {
                   Track::errorWithLocation(error, error_location::kMenuHighlightHideMenuItem000);
                 })
      .disposed(disposeBag_);
}

rx::Observable<rx::Unit> LayoutMenu::reactiveStream() {
  if (!reactive_) {
    std::weak_ptr<LayoutMenu> weak = weak_from_this();
    reactive_ =
        context_.storage->savedLayoutsStream()
            .map([name = layout_.name, weak](const std::shared_ptr<const SavedLayouts>& saved) {
              if (const Layout* found = saved->find(name)) {
                if (auto self = weak.lock()) {
                  self->layout_ = *found;
                  self->refreshMenu();
                }
              }
              return rx::Unit{};
            })
            .doOn({.onDispose = [name = layout_.name] {
#ifndef NDEBUG
              std::printf("layout menu of %s: stopped following the store\n", name.c_str());
#endif
            }});
  }
  return *reactive_;
}

void reportLayoutError(const rx::Error& error, std::string_view location, const Layout& layout,
                       const platform::BundleProvider& bundles) {
  AnonymizingReplacements replacements{{layout.name, std::string(placeholders::kLayoutName)}};
  const AnonymizingReplacements apps = anonymizingReplacementsForApps(layout.apps, bundles);
  replacements.insert(replacements.end(), apps.begin(), apps.end());
  Track::errorWithLocation(error, location, replacements);
}

void LayoutMenu::restoreLayoutWithItem(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutRestore, ButtonClickSource::menu);
  commands_.run<rx::Unit>(context_.actions->restoreLayout(layout_).asObservable(), nullptr,
                          [bundles = context_.bundles, layout = layout_](const rx::Error& error) {
                            reportLayoutError(error, error_location::kMenuRestoreLayout001, layout,
                                              *bundles);
                          });
}

void LayoutMenu::editLayout(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutEdit, ButtonClickSource::menu);
  context_.customizationWindow->openEditWindow(layout_);
}

void LayoutMenu::hideLayout(toolkit::MenuItem&) {
  Track::buttonClick(ButtonName::layoutHide, ButtonClickSource::menu);
  auto command = context_.actions->closeLayoutApps(layout_).asObservable().doOn(
      {.onDispose = [storage = context_.storage] {
        storage->featureHideLayoutMenuItem().setValue(true);
      }});
  commands_.run<rx::Unit>(
      command, nullptr, [bundles = context_.bundles, layout = layout_](const rx::Error& error) {
        reportLayoutError(error, error_location::kMenuHideLayout000, layout, *bundles);
      });
}

}  // namespace wendrix

// What the controls of the layout details do. Every command sends its
// "Button_Click" event first and then checks what it needs.

#include <utility>

#include "addons/addon_manager.h"
#include "analytics/record_replacements.h"
#include "analytics/track.h"
#include "engine/actions.h"
#include "engine/application_replacements.h"
#include "engine/capture.h"
#include "model/display_name.h"
#include "rx/rx.h"
#include "storage/defaults_storage.h"
#include "toolkit/alert.h"
#include "toolkit/application.h"
#include "ui/layout_details.h"
#include "util/app_icons.h"
#include "util/window_level_reset.h"

namespace wendrix {

namespace {

ButtonClickSource sourceOf(CommandSender sender) {
  return sender == CommandSender::menuItem ? ButtonClickSource::rightClick
                                           : ButtonClickSource::button;
}

bool isBlankName(const std::string& name) {
  return name.find_first_not_of(" \t\n\r\v\f") == std::string::npos;
}

Layout withApps(const Layout& layout, std::vector<IApp> apps) {
  return Layout{layout.name, std::move(apps), layout.alwaysCloseOtherApps};
}

}  // namespace

template <class T>
rx::Single<T> LayoutDetailsViewController::keepWindowFloating(rx::Single<T> single) {
  // The window the pane is in floats while the operation runs and returns to
  // the normal level shortly after it ends, however it ends.
  if (!window()) return single;
  std::weak_ptr<platform::WindowOwner> owner = self();
  auto flag = std::make_shared<FlagBox>();
  dispatch::Queue* queue = &context_.application->mainQueue();
  auto reset = [owner, flag, queue] { resetWindowLevelOnce(owner, *flag, *queue); };
  return single.asObservable()
      .doOn({.onNext = [reset](const T&) { reset(); },
             .onError = [reset](const base::Error&) { reset(); },
             .onSubscribe =
                 [owner] {
                   if (auto o = owner.lock()) raiseWindowLevel(*o);
                 },
             .onDispose = reset})
      .asSingle();
}

void LayoutDetailsViewController::toggleAutoClose(const toolkit::Button& sender) {
  Track::buttonClick(ButtonName::autoClose, ButtonClickSource::button);
  auto actions = context_.actions.lock();
  if (!layout_ || !actions) return;
  const bool on = sender.state() == toolkit::ControlState::on;
  Layout changed = *layout_;
  changed.alwaysCloseOtherApps = on;
  actions->storage()->replaceLayout(layout_->name, changed);
  Track::toggleAutoCloseApps(on);
}

void LayoutDetailsViewController::closeOtherApps() {
  Track::buttonClick(ButtonName::closeOtherApps, ButtonClickSource::button);
  auto actions = context_.actions.lock();
  if (!layout_ || !actions) return;
  AnonymizingReplacements replacements{{layout_->name, "LAYOUT_NAME"}};
  if (context_.bundles) {
    auto apps = anonymizingReplacementsForApps(layout_->apps, *context_.bundles);
    replacements.insert(replacements.end(), apps.begin(), apps.end());
  }
  keepWindowFloating(actions->closer().closeOtherApps(*layout_))
      .subscribe(
          [](const std::vector<winsys::ApplicationPtr>& closed) {
            Track::closedOtherApps(static_cast<std::int64_t>(closed.size()));
          },
          [replacements](const base::Error& error) {
            Track::errorWithLocation(error, "details.closeOtherApps_000", replacements);
          })
      .disposed(disposeBag_);
}

void LayoutDetailsViewController::openLayoutMenu(const toolkit::View& sender) {
  if (!layoutMenu_) return;
  const auto bounds = sender.bounds();
  layoutMenu_->popUp(nullptr, {bounds.midX(), bounds.midY()}, &sender);
}

void LayoutDetailsViewController::restoreLayout() {
  Track::buttonClick(ButtonName::layoutRestore, ButtonClickSource::button);
  auto actions = context_.actions.lock();
  if (!layout_ || !actions) return;
  AnonymizingReplacements replacements{{layout_->name, "LAYOUT_NAME"}};
  if (context_.bundles) {
    auto apps = anonymizingReplacementsForApps(layout_->apps, *context_.bundles);
    replacements.insert(replacements.end(), apps.begin(), apps.end());
  }
  keepWindowFloating(actions->restoreLayout(*layout_))
      .subscribe({},
                 [replacements](const base::Error& error) {
                   Track::errorWithLocation(error, "details.restoreLayout_000", replacements);
                 })
      .disposed(disposeBag_);
}

void LayoutDetailsViewController::deleteLayout() {
  Track::buttonClick(ButtonName::layoutDelete, ButtonClickSource::button);
  toolkit::Window* window = isViewLoaded() ? view()->window() : nullptr;
  if (!window || !layout_) return;
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText("Delete layout?\n\"" + layout_->name + "\"");
  alert->addButton("Delete");
  alert->addButton("Cancel");
  std::weak_ptr<LayoutDetailsViewController> weak = self();
  alert->beginSheetModal(*window, [weak, name = layout_->name](toolkit::ModalResponse response) {
    if (response != toolkit::kAlertFirstButtonReturn) return;
    auto s = weak.lock();
    if (s && s->context_.storage) s->context_.storage->deleteLayout(name);
  });
}

void LayoutDetailsViewController::appAction(const toolkit::SegmentedControl& sender) {
  if (!segments_) return;
  switch (segments_->selectedSegment()) {
    case 0:
      closeApps(CommandSender::control);
      break;
    case 1:
      restoreApps(CommandSender::control);
      break;
    case 2:
      removeApps(CommandSender::control);
      break;
    case 3:
      showAddAppMenu(sender);
      break;
    default:
      break;
  }
}

void LayoutDetailsViewController::addEmoji() {
  context_.application->orderFrontCharacterPalette();
  if (!layoutNameField_) return;
  if (auto* window = layoutNameField_->window()) window->makeFirstResponder(layoutNameField_.get());
  // The chosen character goes in front of the name.
  layoutNameField_->setSelectedRange(0, 0);
}

void LayoutDetailsViewController::closeApps(CommandSender sender) {
  Track::buttonClick(ButtonName::closeLayoutApps, sourceOf(sender));
  auto apps = closeTargets(selectedApps(), openApps_);
  auto actions = context_.actions.lock();
  if (!actions) return;
  AnonymizingReplacements replacements;
  if (context_.bundles)
    replacements = anonymizingReplacementsForApplications(apps, *context_.bundles);
  const auto count = static_cast<std::int64_t>(apps.size());
  keepWindowFloating(actions->closer().applyCloseBehavior(std::move(apps)))
      .subscribe([count](const rx::Unit&) { Track::closedLayoutApps(count); },
                 [replacements](const base::Error& error) {
                   Track::errorWithLocation(error, "details.closeApps_000", replacements);
                 })
      .disposed(disposeBag_);
}

void LayoutDetailsViewController::restoreApps(CommandSender sender) {
  Track::buttonClick(ButtonName::appRestore, sourceOf(sender));
  auto actions = context_.actions.lock();
  if (!actions) return;
  auto selected = selectedApps();
  AnonymizingReplacements replacements;
  if (context_.bundles) replacements = anonymizingReplacementsForApps(selected, *context_.bundles);
  keepWindowFloating(actions->restoreApps(std::move(selected)))
      .subscribe({},
                 [replacements](const base::Error& error) {
                   Track::errorWithLocation(error, "details.restoreApps_000", replacements);
                 })
      .disposed(disposeBag_);
}

void LayoutDetailsViewController::removeApps(CommandSender sender) {
  Track::buttonClick(ButtonName::appDelete, sourceOf(sender));
  auto actions = context_.actions.lock();
  if (!layout_ || !actions) return;
  const auto selected = selectedApps();
  std::vector<IApp> remaining;
  for (const auto& app : layout_->apps) {
    if (std::find(selected.begin(), selected.end(), app) == selected.end())
      remaining.push_back(app);
  }
  // Stored anew: the layout moves to the end of the saved list.
  actions->storage()->saveLayout(withApps(*layout_, std::move(remaining)));
}

std::shared_ptr<toolkit::MenuItem> LayoutDetailsViewController::addAppMenuItem(
    const winsys::ApplicationPtr& application, bool replacement) {
  std::optional<std::string> name;
  if (context_.bundles)
    name = appDisplayName(*context_.bundles, application->bundleURL(),
                          application->bundleIdentifier());
  if (!name) name = application->bundleIdentifier();
  std::string title = name.value_or("");
  if (replacement) title += " (Replace)";
  std::weak_ptr<LayoutDetailsViewController> weak = self();
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

void LayoutDetailsViewController::showAddAppMenu(const toolkit::View& sender) {
  if (openApps_.empty() && otherApps_.empty()) return;
  addAppMenu_ = std::make_shared<toolkit::Menu>();
  for (const auto& application : openApps_)
    addAppMenu_->addItem(addAppMenuItem(application, true));
  for (const auto& application : otherApps_)
    addAppMenu_->addItem(addAppMenuItem(application, false));
  const auto bounds = sender.bounds();
  addAppMenu_->popUp(nullptr, {bounds.midX(), bounds.midY()}, &sender);
}

void LayoutDetailsViewController::addApp(const toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::layoutAdd, ButtonClickSource::button);
  const auto* application = sender.represented<winsys::ApplicationPtr>();
  auto actions = context_.actions.lock();
  if (!layout_ || !application || !*application || !actions) return;
  const IApp captured = iapp::fromApplication(**application, context_.addons.get());
  actions->storage()->replaceLayout(
      layout_->name, withApps(*layout_, replaceOrAppendApp(layout_->apps, captured)));
}

void LayoutDetailsViewController::renameLayout() {
  Track::buttonClick(ButtonName::layoutRename, ButtonClickSource::mainWindow);
  if (!layoutNameField_) return;
  const std::string newName = layoutNameField_->stringValue();
  auto actions = context_.actions.lock();
  if (!layout_ || !actions) return;
  const Layout current = *layout_;

  AnonymizingReplacements replacements{{newName, "LAYOUT_NEW_NAME"}, {current.name, "LAYOUT_NAME"}};
  if (context_.bundles) {
    auto apps = anonymizingReplacementsForApps(current.apps, *context_.bundles);
    replacements.insert(replacements.end(), apps.begin(), apps.end());
  }
  std::weak_ptr<LayoutDetailsViewController> weak = self();
  std::weak_ptr<Actions> weakActions = actions;
  actions->isLayoutNameAvailable(newName)
      .subscribe(
          [weak, weakActions, current, newName](bool available) {
            auto s = weak.lock();
            if (!available) {
              if (s && s->layoutNameField_) s->layoutNameField_->setStringValue(current.name);
              return;
            }
            if (newName == current.name) return;
            if (s) s->renameSubject_.onNext(LayoutRename{current.name, newName});
            if (isBlankName(newName)) return;
            if (auto a = weakActions.lock()) {
              Layout renamed = current;
              renamed.name = newName;
              a->storage()->replaceLayout(current.name, renamed);
            }
          },
          [replacements](const base::Error& error) {
            Track::errorWithLocation(error, "details.rename_000", replacements);
          })
      .disposed(disposeBag_);
}

}  // namespace wendrix

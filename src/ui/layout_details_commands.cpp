#include "ui/layout_details_commands.h"

#include <algorithm>
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

LayoutDetailsCommands::LayoutDetailsCommands(CustomizationContext context,
                                             std::shared_ptr<const LayoutDetailsState> state,
                                             std::shared_ptr<const LayoutAppList> list)
    : context_(std::move(context)), state_(std::move(state)), list_(std::move(list)) {}

template <class T>
rx::Single<T> LayoutDetailsCommands::keepWindowFloating(rx::Single<T> single) {
  // The window the pane is in floats while the operation runs and returns to
  // the normal level shortly after it ends, however it ends.
  auto strongOwner = owner_.lock();
  if (!strongOwner || !strongOwner->window()) return single;
  std::weak_ptr<platform::WindowOwner> owner = owner_;
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

template <class T>
void LayoutDetailsCommands::run(rx::Single<T> command, std::function<void(const T&)> done,
                                std::string_view location, AnonymizingReplacements replacements) {
  keepWindowFloating(std::move(command))
      .subscribe(std::move(done),
                 [location, replacements = std::move(replacements)](const base::Error& error) {
                   Track::errorWithLocation(error, location, replacements);
                 })
      .disposed(disposeBag_);
}

AnonymizingReplacements LayoutDetailsCommands::layoutReplacements() const {
  AnonymizingReplacements replacements{{state_->layout->name, "LAYOUT_NAME"}};
  if (context_.bundles) {
    auto apps = anonymizingReplacementsForApps(state_->layout->apps, *context_.bundles);
    replacements.insert(replacements.end(), apps.begin(), apps.end());
  }
  return replacements;
}

void LayoutDetailsCommands::toggleAutoClose(bool on) {
  Track::buttonClick(ButtonName::autoClose, ButtonClickSource::button);
  auto actions = context_.actions.lock();
  if (!state_->layout || !actions) return;
  Layout changed = *state_->layout;
  changed.alwaysCloseOtherApps = on;
  actions->storage()->replaceLayout(state_->layout->name, changed);
  Track::toggleAutoCloseApps(on);
}

void LayoutDetailsCommands::closeOtherApps() {
  Track::buttonClick(ButtonName::closeOtherApps, ButtonClickSource::button);
  auto actions = context_.actions.lock();
  if (!state_->layout || !actions) return;
  run<std::vector<winsys::ApplicationPtr>>(
      actions->closer().closeOtherApps(*state_->layout),
      [](const std::vector<winsys::ApplicationPtr>& closed) {
        Track::closedOtherApps(static_cast<std::int64_t>(closed.size()));
      },
      "details.closeOtherApps_000", layoutReplacements());
}

void LayoutDetailsCommands::restoreLayout() {
  Track::buttonClick(ButtonName::layoutRestore, ButtonClickSource::button);
  auto actions = context_.actions.lock();
  if (!state_->layout || !actions) return;
  run<rx::Unit>(actions->restoreLayout(*state_->layout), {}, "details.restoreLayout_000",
                layoutReplacements());
}

void LayoutDetailsCommands::deleteLayout(toolkit::Window* window) {
  Track::buttonClick(ButtonName::layoutDelete, ButtonClickSource::button);
  if (!window || !state_->layout) return;
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText("Delete layout?\n\"" + state_->layout->name + "\"");
  alert->addButton("Delete");
  alert->addButton("Cancel");
  std::weak_ptr<LayoutDetailsCommands> weak = weak_from_this();
  alert->beginSheetModal(*window,
                         [weak, name = state_->layout->name](toolkit::ModalResponse response) {
                           if (response != toolkit::kAlertFirstButtonReturn) return;
                           auto s = weak.lock();
                           if (s && s->context_.storage) s->context_.storage->deleteLayout(name);
                         });
}

void LayoutDetailsCommands::addEmoji() {
  context_.application->orderFrontCharacterPalette();
  auto field = nameField_.lock();
  if (!field) return;
  if (auto* window = field->window()) window->makeFirstResponder(field.get());
  // The chosen character goes in front of the name.
  field->setSelectedRange(0, 0);
}

void LayoutDetailsCommands::closeApps(CommandSender sender) {
  Track::buttonClick(ButtonName::closeLayoutApps, sourceOf(sender));
  auto apps = closeTargets(list_->selectedApps(), state_->openApps);
  auto actions = context_.actions.lock();
  if (!actions) return;
  AnonymizingReplacements replacements;
  if (context_.bundles)
    replacements = anonymizingReplacementsForApplications(apps, *context_.bundles);
  const auto count = static_cast<std::int64_t>(apps.size());
  run<rx::Unit>(
      actions->closer().applyCloseBehavior(std::move(apps)),
      [count](const rx::Unit&) { Track::closedLayoutApps(count); }, "details.closeApps_000",
      std::move(replacements));
}

void LayoutDetailsCommands::restoreApps(CommandSender sender) {
  Track::buttonClick(ButtonName::appRestore, sourceOf(sender));
  auto actions = context_.actions.lock();
  if (!actions) return;
  auto selected = list_->selectedApps();
  AnonymizingReplacements replacements;
  if (context_.bundles) replacements = anonymizingReplacementsForApps(selected, *context_.bundles);
  run<rx::Unit>(actions->restoreApps(std::move(selected)), {}, "details.restoreApps_000",
                std::move(replacements));
}

void LayoutDetailsCommands::removeApps(CommandSender sender) {
  Track::buttonClick(ButtonName::appDelete, sourceOf(sender));
  auto actions = context_.actions.lock();
  if (!state_->layout || !actions) return;
  const auto selected = list_->selectedApps();
  std::vector<IApp> remaining;
  for (const auto& app : state_->layout->apps) {
    if (std::find(selected.begin(), selected.end(), app) == selected.end())
      remaining.push_back(app);
  }
  // Stored anew: the layout moves to the end of the saved list.
  actions->storage()->saveLayout(withApps(*state_->layout, std::move(remaining)));
}

void LayoutDetailsCommands::addApp(const toolkit::MenuItem& sender) {
  Track::buttonClick(ButtonName::layoutAdd, ButtonClickSource::button);
  const auto* application = sender.represented<winsys::ApplicationPtr>();
  auto actions = context_.actions.lock();
  if (!state_->layout || !application || !*application || !actions) return;
  const IApp captured = iapp::fromApplication(**application, context_.addons.get());
  actions->storage()->replaceLayout(
      state_->layout->name,
      withApps(*state_->layout, replaceOrAppendApp(state_->layout->apps, captured)));
}

void LayoutDetailsCommands::renameLayout() {
  Track::buttonClick(ButtonName::layoutRename, ButtonClickSource::mainWindow);
  auto field = nameField_.lock();
  if (!field) return;
  const std::string newName = field->stringValue();
  auto actions = context_.actions.lock();
  if (!state_->layout || !actions) return;
  const Layout current = *state_->layout;

  AnonymizingReplacements replacements{{newName, "LAYOUT_NEW_NAME"}, {current.name, "LAYOUT_NAME"}};
  if (context_.bundles) {
    auto apps = anonymizingReplacementsForApps(current.apps, *context_.bundles);
    replacements.insert(replacements.end(), apps.begin(), apps.end());
  }
  std::weak_ptr<LayoutDetailsCommands> weak = weak_from_this();
  std::weak_ptr<Actions> weakActions = actions;
  actions->isLayoutNameAvailable(newName)
      .subscribe(
          [weak, weakActions, current, newName](bool available) {
            auto s = weak.lock();
            if (!available) {
              if (auto f = s ? s->nameField_.lock() : nullptr) f->setStringValue(current.name);
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

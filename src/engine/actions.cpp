#include "engine/actions.h"

#include <string_view>
#include <utility>

#include "analytics/track.h"
#include "base/utf8.h"
#include "engine/addon_restore.h"
#include "engine/capture.h"
#include "engine/windows_provider.h"
#include "platform/date_format/date_format.h"
#include "platform/keyboard/keyboard.h"
#include "platform/running_apps/running_applications.h"
#include "platform/updater/updater.h"
#include "platform/workspace/workspace.h"
#include "rx/observable.h"
#include "rx/single.h"
#include "storage/defaults_storage.h"
#include "winsys/events.h"

namespace wendrix {

namespace {

// White space and line breaks: the Unicode space, line and paragraph
// separators, the ASCII controls from tab to carriage return, and NEL.
bool isWhiteSpaceOrNewline(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool isBlank(std::string_view text) {
  for (char16_t c : base::toUtf16(text)) {
    if (!isWhiteSpaceOrNewline(c)) return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<Actions> Actions::make(ActionsContext context) {
  return std::shared_ptr<Actions>(new Actions(std::move(context)));
}

Actions::Actions(ActionsContext context)
    : windowsProvider_(std::move(context.windowsProvider)),
      storage_(std::move(context.storage)),
      runningApplications_(*context.runningApplications),
      clock_(*context.clock),
      addons_(context.addons ? std::move(context.addons)
                             : std::make_shared<const EmptyAddonRegistry>()),
      activationQueue_(ActivationQueue::make(
          windowsProvider_->notifier()
              .observable<winsys::FrontmostApplicationChangedEvent>()
              .compactMap([](const winsys::FrontmostApplicationChangedEvent& e) {
                return e.application ? e.application->bundleIdentifier() : std::nullopt;
              }),
          runningApplications_, *context.scheduler)),
      makeUpdater_(std::move(context.makeUpdater)),
      defaultLayoutName_(context.defaultLayoutName ? std::move(context.defaultLayoutName)
                                                   : [](dispatch::WallTime t) {
                                                       return platform::mediumDateShortTime(t);
                                                     }) {
  auto aliases =
      context.aliases ? std::move(context.aliases) : std::make_shared<const BundleIdAliases>();
  launcher_ = std::make_shared<AppLauncher>(AppLauncherContext{
      .windowsProvider = windowsProvider_,
      .storage = storage_,
      .scheduler = context.scheduler,
      .workspace = context.workspace,
      .keyboard = context.keyboard,
      .aliases = aliases,
  });
  closer_ = std::make_shared<AppCloser>(windowsProvider_, storage_, *context.bundles, aliases);
  placer_ = std::make_shared<WindowPlacer>(activationQueue_);
  restorer_ = std::make_shared<LayoutRestorer>(LayoutRestorerContext{
      .launcher = launcher_,
      .placer = placer_,
      .closer = closer_,
      .addonRestores = context.addonRestores ? std::move(context.addonRestores)
                                             : std::make_shared<const EmptyAddonRestoreRegistry>(),
      .bundles = context.bundles,
      .scheduler = context.scheduler,
      .clock = context.clock,
  });
}

Actions::~Actions() = default;

// --- layouts ------------------------------------------------------------------

rx::Single<rx::Unit> Actions::saveLayout(std::optional<std::string> name) {
  const dispatch::WallTime start = clock_.now();
  std::string layoutName = name ? std::move(*name) : defaultLayoutName_(start);
  std::weak_ptr<Actions> weak = weak_from_this();
  // Ends once the layout is on disk, or with the reason it is not.
  return windowsProvider_->appsWithWindowsStream().first().flatMap(
      [weak, layoutName = std::move(layoutName), start, clock = &clock_,
       addons = addons_](const std::optional<ApplicationList>& apps) -> rx::Single<rx::Unit> {
        const Layout layout = Layout::initWithApps(
            layoutName, iapp::fromApplications(apps.value_or(ApplicationList{}), addons.get()));
        if (auto self = weak.lock()) {
          if (auto stored = self->storage_->storeLayout(layout); !stored) {
            return rx::Single<rx::Unit>::error(stored.error());
          }
        }
        Track::layoutSaved(start, *clock);
        return rx::Single<rx::Unit>::just({});
      });
}

void Actions::addWindowToLayout(const winsys::Window& window, const Layout& layout) {
  const winsys::ApplicationPtr application = window.application();
  if (!application) return;  // the window's application is gone meanwhile
  const IApp app = iapp::fromApplication(*application, addons_.get());
  IWindow record;
  record.title = window.title();
  record.rect = toRecordRect(window.frame());
  record.index = 0;
  record.doc = window.document();
  if (const auto bundleId = application->bundleIdentifier()) {
    if (const AddonCapture* addon = addons_->addon(*bundleId)) {
      record.addonState = addon->encodedState(window);
    }
  }
  Layout changed = layout;
  changed.apps = addWindowToLayoutApps(layout.apps, app, std::move(record));
  storage_->replaceLayout(layout.name, changed);
}

rx::Observable<bool> Actions::isLayoutNameAvailable(const std::string& name) {
  if (isBlank(name)) return rx::Observable<bool>::just(false);
  return storage_->layoutListStream().take(1).map([name](const std::vector<Layout>& layouts) {
    for (const auto& layout : layouts) {
      if (layout.name == name) return false;
    }
    return true;
  });
}

rx::Single<rx::Unit> Actions::closeLayoutApps(const Layout& layout) {
  return closer_->closeLayoutApps(layout);
}

rx::Single<rx::Unit> Actions::restoreLayout(const Layout& layout) {
  return restorer_->restoreLayout(layout);
}

rx::Single<rx::Unit> Actions::restoreApps(std::vector<IApp> apps) {
  return restorer_->restoreApps(std::move(apps));
}

// --- updates ------------------------------------------------------------------

platform::Updater& Actions::updater() {
  if (!updater_ && makeUpdater_) updater_ = makeUpdater_();
  if (!updater_) updater_ = std::make_shared<platform::NoUpdater>();
  return *updater_;
}

void Actions::checkForUpdates() {
  updater().checkForUpdates();
}

}  // namespace wendrix

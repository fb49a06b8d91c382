// Opening missing windows: while an application has fewer windows than the
// layout saved, post its "New Window" keystroke, one per change of its window
// list, and wait for the list to change; an application without any window
// and without a keystroke is asked to reopen. An application this restore
// launched counts its launch as one asked window: it is not asked to reopen,
// and its keystrokes wait for its first window.

#include "engine/window_opener.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "analytics/track.h"
#include "engine/actions.h"
#include "engine/actions_internal.h"
#include "engine/windows_provider.h"
#include "model/default_shortcuts.h"
#include "platform/keyboard/keyboard.h"
#include "platform/workspace/workspace.h"
#include "rx/observable.h"
#include "rx/scheduler.h"
#include "rx/single.h"
#include "storage/defaults_storage.h"

namespace wendrix {

using rx::Unit;
using winsys::ApplicationPtr;
using winsys::WindowPtr;
using Windows = std::vector<WindowPtr>;

namespace {

// The counters of one wait, alive as long as its subscription.
struct WindowCounters {
  // The window count of the last list let through.
  std::int64_t lastCount = -1;
  // Windows on screen or requested.
  std::int64_t asked = 0;
  // Keystrokes and reopen requests issued.
  std::int64_t opened = 0;
};

// "Error" without a location when the application ended up with more
// windows than wanted after we asked for some.
void reportTooManyWindows(const Windows& windows, std::int64_t wanted, std::int64_t opened) {
  const auto actual = static_cast<std::int64_t>(windows.size());
  if (actual <= wanted || opened < 1) return;
  Track::tooManyWindowsRestored(wanted, actual, opened);
}

const AppSettingsMap kNoSettings;

}  // namespace

std::optional<IShortcut> newWindowShortcut(const AppSettingsMap& settings,
                                           std::string_view bundleIdentifier,
                                           const BundleIdAliases& aliases) {
  if (auto it = settings.find(std::string(bundleIdentifier)); it != settings.end()) {
    return it->second.newWindowShortcut;
  }
  const auto& defaults = defaultNewWindowShortcuts();
  if (auto it = defaults.find(aliases.tableId(bundleIdentifier)); it != defaults.end()) {
    return it->second;
  }
  return std::nullopt;
}

rx::Single<Windows> Actions::openAppWindows(const IApp& app, std::int64_t wanted) {
  std::weak_ptr<Actions> weak = weak_from_this();
  auto shared = std::make_shared<const IApp>(app);
  // The settings as the settings stream would give them first: the current
  // ones when subscribed. Read once and shared from here on rather than
  // copied at every step.
  using SharedSettings = std::shared_ptr<const AppSettingsMap>;
  std::shared_ptr<DefaultsStorage> storage = storage_;
  auto settings = rx::Single<SharedSettings>::deferred([storage] {
    base::Result<AppSettingsMap> current = storage->appSettingsSubject().value();
    if (!current.ok()) return rx::Single<SharedSettings>::error(current.error());
    return rx::Single<SharedSettings>::just(
        std::make_shared<const AppSettingsMap>(std::move(current).value()));
  });
  using Found = std::tuple<FoundApp, SharedSettings>;
  return rx::zip(findOrLaunchApp(app), settings)
      .flatMap([weak, shared, wanted](const Found& found) {
        auto self = weak.lock();
        if (!self) return rx::Single<Windows>::just({});
        const auto& [running, appSettings] = found;
        return self->waitForWindows(running.application, running.launched, appSettings, wanted,
                                    shared);
      });
}

rx::Single<Windows> Actions::waitForWindows(ApplicationPtr application, bool launched,
                                            std::shared_ptr<const AppSettingsMap> settings,
                                            std::int64_t wanted, std::shared_ptr<const IApp> app) {
  std::weak_ptr<Actions> weak = weak_from_this();
  return rx::Single<Windows>::deferred([weak, application, launched, settings = std::move(settings),
                                        wanted, app = std::move(app)]() -> rx::Single<Windows> {
    auto self = weak.lock();
    if (!self || !application) return rx::Single<Windows>::just({});
    auto counters = std::make_shared<WindowCounters>();
    // The launch asked for the program's first window: it is not asked to
    // reopen while that window is on its way.
    if (launched) counters->asked = 1;
    const std::optional<std::string> bundleId = application->bundleIdentifier();
    const std::optional<IShortcut> shortcut =
        bundleId ? newWindowShortcut(settings ? *settings : kNoSettings, *bundleId, self->aliases())
                 : std::nullopt;
    rx::Scheduler* scheduler = &self->scheduler_;

    // One step per window list let through: ask for one more window, or
    // hand the list on.
    auto openMissingWindows = [weak, application, launched, wanted, app, counters, shortcut,
                               scheduler](const Windows& windows) -> rx::Observable<Windows> {
      using Lists = rx::Observable<Windows>;
      auto actions = weak.lock();
      if (!actions) return Lists::just(windows);
      const auto count = static_cast<std::int64_t>(windows.size());
      // The list again after the wait; made only on the paths that wait, and
      // sharing one copy of the list however often the step is copied.
      const auto later = [&windows, scheduler] {
        return [shared = std::make_shared<const Windows>(windows), scheduler](const auto&) {
          return Lists::just(*shared).delay(kNewWindowWait, *scheduler);
        };
      };
      // A program this restore launched has no window to take a keystroke
      // yet; its launch is its one asked window.
      if (count < wanted && shortcut && counters->asked < wanted && !(launched && count == 0)) {
        ++counters->opened;
        ++counters->asked;
        rx::Observable<Unit> post = actions->postShortcut(*shortcut, application);
        if (launched) post = post.delaySubscription(kLaunchedKeystrokeDelay, *scheduler);
        return post.take(1).concatMap(later());
      }
      if (count >= 1) return Lists::just(windows);
      if (counters->asked <= 0) {
        ++counters->opened;
        ++counters->asked;
        return actions->reopenApp(*app).asObservable().concatMap(later());
      }
      return Lists::just(windows);
    };

    return knownWindowsStream(self->windowsProvider_->notifier(), application)
        .filter([counters](const Windows& windows) {
          const auto count = static_cast<std::int64_t>(windows.size());
          if (count == counters->lastCount) return false;
          counters->lastCount = count;
          counters->asked = std::max(counters->asked, count);
          return true;
        })
        .flatMapLatest(openMissingWindows)
        .doOn({.onNext =
                   [wanted, counters](const Windows& windows) {
                     reportTooManyWindows(windows, wanted, counters->opened);
                   }})
        .filter([](const Windows& windows) { return !windows.empty(); })
        .take(1)
        .asSingle();
  });
}

rx::Observable<Unit> Actions::postShortcut(IShortcut shortcut, const ApplicationPtr& application) {
  platform::Keyboard* keyboard = keyboard_;
  return rx::Observable<Unit>::deferred([keyboard, shortcut, application] {
    if (keyboard && application) {
      const std::int32_t pid = application->processIdentifier();
      for (bool down : {true, false}) {
        // A key the keyboard cannot make is skipped.
        (void)keyboard->post(platform::Keystroke{pid, shortcut.key, shortcut.flagsValue, down});
      }
    }
    return rx::Observable<Unit>::just({});
  });
}

}  // namespace wendrix

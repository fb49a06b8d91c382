#pragma once

// The window work of one addon restore: pairs an application's running
// windows with its saved ones by addon state, opens the missing ones (by
// handing files or folders to the application, or by keystrokes), waits for
// each to appear, and at the end minimizes the windows that were open before
// and belong to nothing, and closes those that appeared meanwhile. It sets no
// frames.
//
// An addon makes one opener per restore and chains its steps with `run`. The
// chain holds the opener; the opener's own closures hold it weakly, so when
// the chain is disposed (the engine's per-application time-out) the opener
// goes with every wait, timer and subscription it had, and no later step
// runs. Each step, and each closure of it, does nothing once the opener is
// gone. Main thread only.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "addons/typed_addon.h"
#include "base/url.h"
#include "engine/app_launcher.h"
#include "engine/capture.h"
#include "engine/display_matching.h"
#include "engine/restore_errors.h"
#include "engine/windows_provider.h"
#include "model/app.h"
#include "model/shortcut.h"
#include "platform/workspace/workspace.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/single.h"
#include "winsys/events.h"
#include "winsys/promise_single.h"
#include "winsys/window_system.h"

namespace wendrix {

// How long an addon restore waits for each window it asked for.
inline constexpr auto kAddonWindowWait = std::chrono::seconds(10);

template <class State>
class WindowOpener : public std::enable_shared_from_this<WindowOpener<State>> {
 public:
  using Step = rx::Single<rx::Unit>;
  using Matched = MatchedWindow<winsys::WindowPtr>;
  // A saved window not paired yet, with its decoded state.
  struct PendingWindow {
    IWindow window;
    std::optional<State> state;
  };
  // A window of the target application that appeared, with its state.
  struct NewWindowState {
    std::optional<State> state;
    winsys::WindowPtr window;
  };
  using StateFilter =
      std::function<bool(const std::optional<State>& saved, const std::optional<State>& running)>;
  using UrlFor =
      std::function<std::optional<base::Url>(const IWindow&, const std::optional<State>&)>;
  using ShortcutFor =
      std::function<std::optional<IShortcut>(const IWindow&, const std::optional<State>&)>;
  using StepOf = std::function<Step(WindowOpener&)>;

  // An opener for `targetApp` (a copy) whose pending list holds its saved
  // windows in order, each with its state; a missing or undecodable state
  // counts as none, without a report.
  static std::shared_ptr<WindowOpener> make(std::shared_ptr<const TypedAddon<State>> addon,
                                            std::shared_ptr<AppLauncher> launcher, IApp targetApp) {
    return std::shared_ptr<WindowOpener>(
        new WindowOpener(std::move(addon), std::move(launcher), std::move(targetApp)));
  }

  // Runs `steps` one after another, each made once the previous one
  // succeeded, and ends with `matched`. The chain owns the opener.
  static rx::Single<MatchedWindows> run(std::shared_ptr<WindowOpener> opener,
                                        std::vector<StepOf> steps) {
    Step chain = Step::just({});
    for (auto& step : steps) {
      chain = chain.flatMap(
          [opener, step = std::move(step)](const rx::Unit&) { return step(*opener); });
    }
    return chain.map([opener](const rx::Unit&) { return opener->matched(); });
  }

  const std::vector<Matched>& matched() const { return matched_; }
  const std::vector<PendingWindow>& pending() const { return pending_; }
  const std::vector<winsys::WindowPtr>& matchedOpenWindows() const { return matchedOpenWindows_; }
  const std::vector<winsys::WindowPtr>& initiallyOpenWindows() const {
    return initiallyOpenWindows_;
  }
  const IApp& targetApp() const { return targetApp_; }

  // --- the state streams ----------------------------------------------------

  // The running application of the target's bundle identifier (nullptr while
  // none runs); one absent value without an identifier. Shared, replaying its
  // last value while subscribed.
  rx::Observable<winsys::ApplicationPtr> appStream() {
    if (!app_) {
      app_ = targetApp_.bundleId
                 ? launcher_->windowsProvider()->application(*targetApp_.bundleId).share(1)
                 : rx::Observable<winsys::ApplicationPtr>::just(nullptr);
    }
    return *app_;
  }

  // Each window created in the target application, with its state.
  rx::Observable<NewWindowState> newWindowStates() {
    if (!newWindowStates_) {
      newWindowStates_ = launcher_->windowsProvider()
                             ->notifier()
                             .template observable<winsys::WindowCreatedEvent>()
                             .filter([target = targetApp_](const winsys::WindowCreatedEvent& e) {
                               const auto application =
                                   e.window ? e.window->application() : nullptr;
                               return application && iapp::matchesApplication(target, *application);
                             })
                             .map([addon = addon_](const winsys::WindowCreatedEvent& e) {
                               return NewWindowState{addon->state(*e.window), e.window};
                             });
    }
    return *newWindowStates_;
  }
  // Replaces the stream of new windows; before the first step runs.
  void setNewWindowStates(rx::Observable<NewWindowState> states) {
    newWindowStates_ = std::move(states);
  }

  // Counts a window whose title changed as new too (an editor retitles the
  // window it opened once the folder is loaded): windows of the target
  // application that were created or retitled and are not paired yet. The
  // stream fails with NilWeakSelfError once the opener is gone.
  void includeTitleChanges() {
    auto& notifier = launcher_->windowsProvider()->notifier();
    const auto windowOf = [](const auto& e) { return e.window; };
    std::weak_ptr<WindowOpener> weak = this->weak_from_this();
    newWindowStates_ =
        rx::Observable<winsys::WindowPtr>::merge(
            {notifier.template observable<winsys::WindowCreatedEvent>().map(windowOf),
             notifier.template observable<winsys::WindowTitleChangedEvent>().map(windowOf)})
            .concatMap([weak](const winsys::WindowPtr& window) {
              using States = rx::Observable<NewWindowState>;
              auto self = weak.lock();
              if (!self) return States::error(NilWeakSelfError{}.asError());
              const auto application = window ? window->application() : nullptr;
              if (!application || !iapp::matchesApplication(self->targetApp_, *application) ||
                  self->isMatchedOpenWindow(window)) {
                return States::empty();
              }
              return States::just(NewWindowState{self->addon_->state(*window), window});
            });
  }

  // --- the steps --------------------------------------------------------------

  // Drops the pending entries whose state an earlier entry has, calling
  // `onRepeat` for each; entries without a state stay. Runs at once.
  void dropRepeatedStates(std::function<void(const IWindow&, const State&)> onRepeat = nullptr) {
    std::unordered_set<State> seen;
    std::vector<PendingWindow> kept;
    for (auto& entry : pending_) {
      if (entry.state && !seen.insert(*entry.state).second) {
        if (onRepeat) onRepeat(entry.window, *entry.state);
        continue;
      }
      kept.push_back(std::move(entry));
    }
    pending_ = std::move(kept);
  }

  // Notes the application's windows as they are now (none when it is not
  // running).
  Step recordInitiallyOpenWindows() {
    return withApp([](WindowOpener& self, const winsys::ApplicationPtr& app) {
      self.initiallyOpenWindows_ = app ? app->knownWindows() : std::vector<winsys::WindowPtr>{};
      return Step::just({});
    });
  }

  // Pairs each running window not paired yet, in the application's order,
  // with the first pending entry that `filter` accepts (without one: whose
  // state equals the window's).
  Step matchOpenWindows(StateFilter filter = nullptr) {
    return withApp([filter](WindowOpener& self, const winsys::ApplicationPtr& app) {
      if (app) self.matchOpenWindowsOf(*app, filter);
      return Step::just({});
    });
  }

  // Hands the URLs `urlFor` gives for the pending entries to the application
  // in one request (also when there are none) and waits for their windows.
  Step openByURL(UrlFor urlFor) {
    return deferred([urlFor](WindowOpener& self) {
      std::vector<PendingWindow> targets;
      std::vector<base::Url> urls;
      for (const auto& entry : self.pending_) {
        if (auto url = urlFor(entry.window, entry.state)) {
          targets.push_back(entry);
          urls.push_back(std::move(*url));
        }
      }
      std::weak_ptr<WindowOpener> weak = self.weak_from_this();
      return self
          .openAndWait(std::move(targets),
                       [weak, urls = std::move(urls)] {
                         auto opener = weak.lock();
                         return opener ? opener->openURLs(urls) : Step::just({});
                       })
          .map([](const std::vector<Matched>&) { return rx::Unit{}; });
    });
  }

  // Finds or launches the application (its failure fails the step), pairs
  // the windows it opened by itself, then posts the keystrokes `shortcutFor`
  // gives for the pending entries and waits for their windows.
  Step openByShortcut(ShortcutFor shortcutFor) {
    return deferred([shortcutFor](WindowOpener& self) {
      std::weak_ptr<WindowOpener> weak = self.weak_from_this();
      return self.launcher_->findOrLaunchApp(self.targetApp_)
          .flatMap([weak, shortcutFor](const FoundApp& found) -> Step {
            auto opener = weak.lock();
            if (!opener || !found.application) return Step::just({});
            opener->matchOpenWindowsOf(*found.application, nullptr);
            std::vector<PendingWindow> targets;
            std::vector<IShortcut> shortcuts;
            for (const auto& entry : opener->pending_) {
              if (auto shortcut = shortcutFor(entry.window, entry.state)) {
                targets.push_back(entry);
                shortcuts.push_back(*shortcut);
              }
            }
            return opener
                ->openAndWait(
                    std::move(targets),
                    [weak, shortcuts = std::move(shortcuts), application = found.application] {
                      auto current = weak.lock();
                      return current ? current->postShortcuts(shortcuts, application)
                                     : Step::just({});
                    })
                .map([](const std::vector<Matched>&) { return rx::Unit{}; });
          });
    });
  }

  // Asks the application for a window per pending entry with its "New
  // Window" keystroke and pairs the pending entries with the windows not
  // paired yet by document. Fails with NilWeakSelfError once the opener is
  // gone.
  Step openRemainingByDisplay() {
    std::weak_ptr<WindowOpener> weak = this->weak_from_this();
    return Step::deferred([weak]() -> Step {
      auto self = weak.lock();
      if (!self) return Step::error(NilWeakSelfError{}.asError());
      return self->appStream().take(1).asSingle().flatMap(
          [weak](const winsys::ApplicationPtr& app) -> Step {
            auto opener = weak.lock();
            if (!opener) return Step::error(NilWeakSelfError{}.asError());
            const auto known = app ? app->knownWindows().size() : std::size_t{0};
            const auto wanted = static_cast<std::int64_t>(known + opener->pending_.size());
            return opener->launcher_->openAppWindows(opener->targetApp_, wanted)
                .map([weak](const std::vector<winsys::WindowPtr>& windows) {
                  if (auto current = weak.lock()) current->pairByDisplay(windows);
                  return rx::Unit{};
                });
          });
    });
  }

  // Minimizes the windows not paired that were open at the start and closes
  // the other ones; failures are ignored. Ends when every minimize request
  // has settled.
  Step tidyUnmatchedWindows() {
    return withApp([](WindowOpener& self, const winsys::ApplicationPtr& app) {
      std::vector<Step> minimizing;
      if (app) {
        for (const auto& window : self.unmatchedWindows(*app)) {
          if (contains(self.initiallyOpenWindows_, window)) {
            minimizing.push_back(winsys::toSingle(window->setMinimized(true))
                                     .map([](bool) { return rx::Unit{}; })
                                     .catchErrorJustReturn({}));
          } else {
            (void)window->close();
          }
        }
      }
      return rx::zip(std::move(minimizing)).map([](const std::vector<rx::Unit>&) {
        return rx::Unit{};
      });
    });
  }

 private:
  WindowOpener(std::shared_ptr<const TypedAddon<State>> addon,
               std::shared_ptr<AppLauncher> launcher, IApp targetApp)
      : addon_(std::move(addon)), launcher_(std::move(launcher)), targetApp_(std::move(targetApp)) {
    for (const auto& window : targetApp_.windows) {
      std::optional<State> state;
      if (window.addonState) {
        if (auto decoded = TypedAddon<State>::decodeState(*window.addonState)) {
          state = std::move(decoded).value();
        }
      }
      pending_.push_back({window, std::move(state)});
    }
  }

  static bool contains(const std::vector<winsys::WindowPtr>& windows,
                       const winsys::WindowPtr& window) {
    return std::any_of(windows.begin(), windows.end(), [&](const winsys::WindowPtr& w) {
      return w->identity() == window->identity();
    });
  }
  bool isMatchedOpenWindow(const winsys::WindowPtr& window) const {
    return contains(matchedOpenWindows_, window);
  }

  // A step made at subscription, while the opener exists; without it the
  // step succeeds doing nothing.
  Step deferred(std::function<Step(WindowOpener&)> body) {
    std::weak_ptr<WindowOpener> weak = this->weak_from_this();
    return Step::deferred([weak, body = std::move(body)] {
      auto self = weak.lock();
      return self ? body(*self) : Step::just({});
    });
  }
  // The same, with the first value of the application stream.
  Step withApp(std::function<Step(WindowOpener&, const winsys::ApplicationPtr&)> body) {
    std::weak_ptr<WindowOpener> weak = this->weak_from_this();
    return deferred([weak, body = std::move(body)](WindowOpener& self) {
      return self.appStream().take(1).asSingle().flatMap(
          [weak, body](const winsys::ApplicationPtr& app) {
            auto opener = weak.lock();
            return opener ? body(*opener, app) : Step::just({});
          });
    });
  }

  // The application's windows in its order, without the paired ones.
  std::vector<winsys::WindowPtr> unmatchedWindows(const winsys::Application& app) const {
    std::vector<winsys::WindowPtr> out;
    for (const auto& window : app.knownWindows()) {
      if (!isMatchedOpenWindow(window)) out.push_back(window);
    }
    return out;
  }

  // Takes out of `pending` the entry for `target` (else the first with
  // `state`) and records the pair.
  Matched addMatch(const winsys::WindowPtr& window, const IWindow& target,
                   const std::optional<State>& state) {
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const PendingWindow& p) { return p.window == target; });
    if (it == pending_.end()) {
      it = std::find_if(pending_.begin(), pending_.end(),
                        [&](const PendingWindow& p) { return p.state == state; });
    }
    if (it != pending_.end()) pending_.erase(it);
    matched_.push_back(Matched{window, target});
    matchedOpenWindows_.push_back(window);
    return matched_.back();
  }

  void matchOpenWindowsOf(const winsys::Application& app, const StateFilter& filter) {
    for (const auto& window : unmatchedWindows(app)) {
      const std::optional<State> state = addon_->state(*window);
      const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const PendingWindow& p) {
        return filter ? filter(p.state, state) : p.state == state;
      });
      if (it == pending_.end()) continue;
      const IWindow target = it->window;
      addMatch(window, target, state);
    }
  }

  // The first new window with `state`, paired with `target`; none after
  // kAddonWindowWait.
  rx::Single<std::optional<Matched>> waitForWindow(IWindow target, std::optional<State> state) {
    using Wait = rx::Single<std::optional<Matched>>;
    std::weak_ptr<WindowOpener> weak = this->weak_from_this();
    return newWindowStates()
        .filter([state](const NewWindowState& s) { return s.state == state; })
        .take(1)
        .asSingle()
        .map([target](const NewWindowState& s) {
          return std::optional(Matched{s.window, target});
        })
        .timeout(kAddonWindowWait, Wait::just(std::nullopt), launcher_->scheduler())
        .doOn({.onSuccess = [weak, target, state](const std::optional<Matched>& pair) {
          auto self = weak.lock();
          if (pair && self) self->addMatch(pair->window, target, state);
        }});
  }

  // Every target's wait at once; the pairs found, in target order.
  rx::Single<std::vector<Matched>> waitForWindows(const std::vector<PendingWindow>& targets) {
    std::vector<rx::Single<std::optional<Matched>>> waits;
    for (const auto& target : targets)
      waits.push_back(waitForWindow(target.window, target.state));
    return rx::zip(std::move(waits)).map([](const std::vector<std::optional<Matched>>& pairs) {
      std::vector<Matched> found;
      for (const auto& pair : pairs) {
        if (pair) found.push_back(*pair);
      }
      return found;
    });
  }

  // Waits for the targets' windows, listening before `open` runs; `open`'s
  // result is ignored, and it is let go once the wait ends.
  rx::Single<std::vector<Matched>> openAndWait(std::vector<PendingWindow> targets,
                                               std::function<Step()> open) {
    using Result = rx::Single<std::vector<Matched>>;
    return Result::create([wait = waitForWindows(targets),
                           open = std::move(open)](const Result::SingleObserver& observer) {
      rx::SerialDisposable opening;
      rx::Disposable waiting = wait.subscribe(
          [observer, opening](const std::vector<Matched>& found) {
            opening.dispose();
            observer(found);
          },
          [observer, opening](const base::Error& error) {
            opening.dispose();
            observer(error);
          });
      opening.set(Step::deferred(open).subscribe());
      return rx::Disposable([waiting, opening] {
        waiting.dispose();
        opening.dispose();
      });
    });
  }

  // One request handing all `urls` (also none) to the target application.
  Step openURLs(const std::vector<base::Url>& urls) {
    return launcher_->openURLsWithApp(targetApp_, urls)
        .map([](const platform::LaunchedApplication&) { return rx::Unit{}; });
  }

  // Key down then key up of each keystroke to the application's process,
  // back to back.
  Step postShortcuts(const std::vector<IShortcut>& shortcuts,
                     const winsys::ApplicationPtr& application) {
    for (const auto& shortcut : shortcuts)
      launcher_->postShortcut(shortcut, application).subscribe();
    return Step::just({});
  }

  // Pairs the pending entries with the windows not paired yet by document.
  // The windows recorded as paired are exactly those of the pairs: display
  // matching need not pair the first new windows (windows without a
  // document pair in reverse order, and a window may come in late), and
  // tidying closes whatever is not recorded.
  void pairByDisplay(const std::vector<winsys::WindowPtr>& windows) {
    std::vector<winsys::WindowPtr> fresh;
    for (const auto& window : windows) {
      if (!isMatchedOpenWindow(window)) fresh.push_back(window);
    }
    std::vector<IWindow> saved;
    for (const auto& entry : pending_)
      saved.push_back(entry.window);
    const auto matches = DisplayMatching::match(saved, fresh, DisplayMatching::documentKey);
    pending_.clear();
    for (const auto& match : matches) {
      matched_.push_back(match);
      matchedOpenWindows_.push_back(match.window);
    }
  }

  std::shared_ptr<const TypedAddon<State>> addon_;
  std::shared_ptr<AppLauncher> launcher_;
  IApp targetApp_;
  std::vector<Matched> matched_;
  std::vector<PendingWindow> pending_;
  std::vector<winsys::WindowPtr> matchedOpenWindows_;
  std::vector<winsys::WindowPtr> initiallyOpenWindows_;
  std::optional<rx::Observable<NewWindowState>> newWindowStates_;
  std::optional<rx::Observable<winsys::ApplicationPtr>> app_;
};

}  // namespace wendrix

#pragma once

// The actions over a fake desktop on virtual time, with an in-memory store, a
// fake customization window and recorded usage events.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/updater/fake/fake_updater.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "support/recorded_events.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix::testing {

// A customization window in memory: it records what it was asked to do.
class FakeCustomizationWindow final : public CustomizationWindowController {
 public:
  void select(const NavigationSelection& selection) override {
    if (selection.isNone()) {
      selections.push_back("none");
    } else if (const Layout* layout = selection.layout()) {
      selections.push_back("layout " + layout->name);
    } else {
      selections.push_back(*selection.navigation() == NavigationOption::About ? "About"
                                                                              : "Preferences");
    }
  }
  bool isWindowVisible() const override { return visible; }
  void showWindow() override {
    visible = true;
    ++shows;
  }
  void setWindowDelegate(std::weak_ptr<CustomizationWindowDelegate> d) override {
    delegate = std::move(d);
  }
  void makeKeyAndOrderFront() override { ++frontOrders; }
  void setWindowLevel(int) override {}

  // The user closes the window.
  void close() {
    visible = false;
    if (auto d = delegate.lock()) d->windowWillClose();
  }

  std::vector<std::string> selections;
  bool visible = false;
  int shows = 0;
  int frontOrders = 0;
  std::weak_ptr<CustomizationWindowDelegate> delegate;
};

class FakeCustomizationWindows final : public CustomizationWindowFactory {
 public:
  std::shared_ptr<CustomizationWindowController> makeController() override {
    if (failing) return nullptr;
    made.push_back(std::make_shared<FakeCustomizationWindow>());
    return made.back();
  }

  bool failing = false;
  std::vector<std::shared_ptr<FakeCustomizationWindow>> made;
};

// The outcome of one subscription to a Single: its result and the virtual
// time it came at.
template <class T>
struct Outcome {
  std::optional<base::Result<T>> result;
  dispatch::Duration at{-1};
  bool settled() const { return result.has_value(); }
  bool succeeded() const { return result && result->ok(); }
};

template <class T>
std::shared_ptr<Outcome<T>> watch(const rx::Single<T>& single, const dispatch::ManualQueue& queue) {
  auto outcome = std::make_shared<Outcome<T>>();
  single.subscribe(
      [outcome, &queue](const T& value) {
        outcome->result.emplace(value);
        outcome->at = queue.elapsed();
      },
      [outcome, &queue](const base::Error& error) {
        outcome->result.emplace(error);
        outcome->at = queue.elapsed();
      });
  return outcome;
}

inline base::Url url(std::string_view text) {
  return *base::Url::parse(text);
}

inline IApp app(std::string bundleId, std::vector<IWindow> windows = {}) {
  IApp a;
  a.bundleId = std::move(bundleId);
  a.windows = std::move(windows);
  return a;
}

inline Layout layout(std::string name, std::vector<IApp> apps = {},
                     std::optional<bool> alwaysCloseOtherApps = std::nullopt) {
  return Layout{std::move(name), std::move(apps), alwaysCloseOtherApps};
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }

  // Starts the window tracking and makes the actions.
  void start() {
    provider->warmUp();
    queue.runUntilIdle();
    actions = Actions::make(context());
  }

  ActionsContext context() {
    ActionsContext c;
    c.windowsProvider = provider;
    c.storage = storage;
    c.runningApplications = &desktop.runningApplications();
    c.bundles = &desktop.bundles();
    c.scheduler = &scheduler;
    c.clock = &queue.clock();
    c.customizationWindows = windows;
    c.makeUpdater = [this] { return updater; };
    c.defaultLayoutName = [](dispatch::WallTime) { return std::string("May 1, 2024, 10:00 AM"); };
    return c;
  }

  void setCloseBehavior(CloseBehavior behavior) { storage->closeBehavior().setValue(behavior); }

  std::vector<tlm::TLMRecordedEvent> eventsNamed(std::string_view name) const {
    std::vector<tlm::TLMRecordedEvent> out;
    for (auto& event : analytics.events()) {
      if (event.name == name) out.push_back(event);
    }
    return out;
  }

  template <class V>
  static std::optional<V> property(const tlm::TLMRecordedEvent& event, std::string_view key) {
    return eventProperty<V>(event, key);
  }

  tlm::ScopedRecordingAnalytics analytics;
  dispatch::ManualQueue queue;
  rx::QueueScheduler scheduler{queue};
  winsys::fake::FakeDesktop desktop{queue};
  std::shared_ptr<platform::MemoryUserDefaults> defaults =
      std::make_shared<platform::MemoryUserDefaults>();
  std::shared_ptr<DefaultsStorage> storage = std::make_shared<DefaultsStorage>(defaults, "1");
  std::shared_ptr<WindowsProvider> provider = std::make_shared<WindowsProvider>(
      desktop.windowSystem(), desktop.trust(), desktop.bundles(), scheduler);
  std::shared_ptr<FakeCustomizationWindows> windows = std::make_shared<FakeCustomizationWindows>();
  std::shared_ptr<platform::FakeUpdater> updater = std::make_shared<platform::FakeUpdater>();
  std::shared_ptr<Actions> actions;
};

}  // namespace wendrix::testing

#pragma once

// The actions in the fake world (support/fake_world.h), with a store and a
// windows provider.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "support/fake_world.h"
#include "support/recorded_events.h"

namespace wendrix::testing {

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

class ActionsTest : public ::testing::Test, protected FakeWorld {
 protected:
  void SetUp() override { start(); }

  // Starts the window tracking and makes the actions.
  void start() {
    provider->warmUp();
    queue.runUntilIdle();
    actions = Actions::make(context());
  }

  ActionsContext context() {
    ActionsContext c = desktopActionsContext();
    c.windowsProvider = provider;
    c.storage = storage;
    c.defaultLayoutName = [](dispatch::WallTime) { return std::string("May 1, 2024, 10:00 AM"); };
    return c;
  }

  void setCloseBehavior(CloseBehavior behavior) { storage->closeBehavior().setValue(behavior); }

  template <class V>
  static std::optional<V> property(const tlm::TLMRecordedEvent& event, std::string_view key) {
    return eventProperty<V>(event, key);
  }

  std::shared_ptr<DefaultsStorage> storage = makeStorage("1");
  std::shared_ptr<WindowsProvider> provider = makeWindowsProvider();
  std::shared_ptr<Actions> actions;
};

}  // namespace wendrix::testing

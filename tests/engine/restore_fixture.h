#pragma once

// Restores on the fake desktop with virtual time: the actions get the
// desktop's workspace and keyboard, and helpers describe saved applications
// and run a restore to its end.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "actions_fixture.h"
#include "analytics/restore_statistics.h"
#include "engine/addon_restore.h"
#include "engine/display_matching.h"

namespace wendrix::testing {

// The application most restore tests work with.
inline const std::string kEditor = "org.example.Editor";
// The shortcut the tests give an application for a new window.
inline const IShortcut kCommandN{45, kMaskCommand};

using namespace std::chrono_literals;
using winsys::fake::AppSetup;
using winsys::fake::FakeApplication;
using winsys::fake::LaunchScript;
using winsys::fake::NewWindowScript;
using winsys::fake::WindowSetup;

// Addons for chosen bundle identifiers, each answering with a fixed Single.
class FakeAddonRestores final : public AddonRestoreRegistry {
 public:
  class Addon final : public AddonRestore {
   public:
    rx::Single<MatchedWindows> restore(const IApp& app,
                                       const std::shared_ptr<AppLauncher>&) const override {
      restored.push_back(app);
      return result;
    }
    rx::Single<MatchedWindows> result = rx::Single<MatchedWindows>::just({});
    mutable std::vector<IApp> restored;
  };

  const AddonRestore* addonRestore(std::string_view bundleIdentifier) const override {
    auto it = addons.find(std::string(bundleIdentifier));
    return it == addons.end() ? nullptr : it->second.get();
  }

  std::map<std::string, std::shared_ptr<Addon>> addons;
};

inline Rect rect(double x, double y, double w = 400, double h = 300) {
  return Rect{x, y, w, h};
}

inline winsys::Rect frame(const Rect& r) {
  return winsys::Rect{r.x, r.y, r.width, r.height};
}

inline IWindow savedWindow(std::string title, Rect r, std::optional<std::string> doc = {},
                           std::int64_t index = 0) {
  IWindow w;
  w.title = std::move(title);
  w.rect = r;
  w.doc = std::move(doc);
  w.index = index;
  return w;
}

// A window setup at a frame away from every saved one.
inline WindowSetup liveWindow(std::string title, std::optional<std::string> doc = {}) {
  WindowSetup setup = WindowSetup::titled(std::move(title));
  setup.frame = winsys::Rect{900, 900, 10, 10};
  setup.document = std::move(doc);
  return setup;
}

class RestoreTest : public ActionsTest {
 protected:
  void SetUp() override {
    provider->warmUp();
    queue.runUntilIdle();
    actions = Actions::make(restoreContext());
  }

  ActionsContext restoreContext() {
    ActionsContext c = context();
    c.workspace = &desktop.workspace();
    c.keyboard = &desktop.keyboard();
    c.addonRestores = addonRestores;
    return c;
  }

  // Subscribes and runs virtual time until the Single has its result, or
  // until `limit` has passed.
  template <class T>
  std::shared_ptr<Outcome<T>> run(const rx::Single<T>& single, dispatch::Duration limit = 120s) {
    auto outcome = watch(single, queue);
    queue.runUntilIdle();
    while (!outcome->settled() && queue.elapsed() < limit && queue.runNextTimer())
      queue.runUntilIdle();
    return outcome;
  }

  // Sets the user's "New Window" keystroke of an application; none: an entry
  // without keystroke.
  void setShortcut(const std::string& bundleId, std::optional<IShortcut> shortcut) {
    AppSettingsMap settings = storage->loadAppSettings();
    settings[bundleId] = IAppSettings{shortcut};
    storage->saveAppSettings(settings);
  }

  std::vector<winsys::Rect> framesOf(const std::shared_ptr<FakeApplication>& app) const {
    std::vector<winsys::Rect> frames;
    for (const auto& w : app->windows())
      frames.push_back(w->frame());
    return frames;
  }
  std::vector<bool> minimizedOf(const std::shared_ptr<FakeApplication>& app) const {
    std::vector<bool> states;
    for (const auto& w : app->windows())
      states.push_back(w->isMinimized());
    return states;
  }
  std::shared_ptr<FakeApplication> running(const std::string& bundleId) const {
    for (const auto& app : desktop.applications()) {
      if (app->bundleIdentifier() == bundleId) return app;
    }
    return nullptr;
  }

  // The statistics and time a restore event carried.
  struct Sent {
    RestoreStatistics statistics;
    double seconds = -1;
  };
  std::vector<Sent> restoreEvents(std::string_view name = "Layout_Restored") const {
    std::vector<Sent> sent;
    for (const auto& event : eventsNamed(name)) {
      std::vector<std::string> keys;
      for (const auto& p : event.properties)
        keys.push_back(p.name);
      EXPECT_EQ(keys, (std::vector<std::string>{"TotalApps", "SuccessApps", "TimeoutApps",
                                                "ErrorApps", "TimeInSec"}));
      sent.push_back({{property<std::int64_t>(event, "TotalApps").value_or(-1),
                       property<std::int64_t>(event, "SuccessApps").value_or(-1),
                       property<std::int64_t>(event, "TimeoutApps").value_or(-1),
                       property<std::int64_t>(event, "ErrorApps").value_or(-1)},
                      property<double>(event, "TimeInSec").value_or(-1)});
    }
    return sent;
  }

  // (ErrorDescription, ErrorLocation) of every "Error" event.
  std::vector<std::pair<std::string, std::string>> errors() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& event : eventsNamed("Error")) {
      out.emplace_back(property<std::string>(event, "ErrorDescription").value_or(""),
                       property<std::string>(event, "ErrorLocation").value_or(""));
    }
    return out;
  }

  std::shared_ptr<FakeAddonRestores> addonRestores = std::make_shared<FakeAddonRestores>();
};

inline std::ostream& operator<<(std::ostream& os, const RestoreStatistics& s) {
  return os << "{total " << s.total << ", success " << s.success << ", timeouts " << s.timeouts
            << ", errors " << s.errors << "}";
}

}  // namespace wendrix::testing

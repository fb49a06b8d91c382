#pragma once

// The desktop world the engine, menu and program tests run in: recorded usage
// events, a manual queue (virtual time) with its scheduler, a fake desktop on
// it, an in-memory user-defaults store and a fake updater. A fixture derives
// from it (after ::testing::Test) and makes the storage and windows provider
// it needs from it.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/updater/fake/fake_updater.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix::testing {

class FakeWorld {
 public:
  // A store over `defaults`; its first-run step records `userSince`.
  std::shared_ptr<DefaultsStorage> makeStorage(std::string userSince) {
    return std::make_shared<DefaultsStorage>(defaults, std::move(userSince));
  }
  // A windows provider over the fake desktop, not yet warmed up.
  std::shared_ptr<WindowsProvider> makeWindowsProvider() {
    return std::make_shared<WindowsProvider>(desktop.windowSystem(), desktop.trust(),
                                             desktop.bundles(), scheduler);
  }

  // The actions' collaborators that come from the desktop: running
  // applications, bundles, scheduler, clock and the updater. The fixture adds
  // the rest (storage, windows provider, ...).
  ActionsContext desktopActionsContext() {
    ActionsContext c;
    c.runningApplications = &desktop.runningApplications();
    c.bundles = &desktop.bundles();
    c.scheduler = &scheduler;
    c.clock = &queue.clock();
    c.makeUpdater = [this] { return updater; };
    return c;
  }

  // The usage events named `name`, in the order they were sent.
  std::vector<tlm::TLMRecordedEvent> eventsNamed(std::string_view name) const {
    std::vector<tlm::TLMRecordedEvent> out;
    for (auto& event : analytics.events()) {
      if (event.name == name) out.push_back(event);
    }
    return out;
  }

  tlm::ScopedRecordingAnalytics analytics;
  dispatch::ManualQueue queue;
  rx::QueueScheduler scheduler{queue};
  winsys::fake::FakeDesktop desktop{queue};
  std::shared_ptr<platform::MemoryUserDefaults> defaults =
      std::make_shared<platform::MemoryUserDefaults>();
  std::shared_ptr<platform::FakeUpdater> updater = std::make_shared<platform::FakeUpdater>();
};

}  // namespace wendrix::testing

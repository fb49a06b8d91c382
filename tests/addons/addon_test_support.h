#pragma once

// Usage events recorded while an addon test runs, and a fake desktop to host
// the windows it reads.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dispatch/manual_queue.h"
#include "support/recorded_events.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix::testing {

// One "Error" event's description and location.
using ErrorEvent = SentError;

class AddonTest : public ::testing::Test {
 protected:
  std::vector<ErrorEvent> errorEvents() const { return sentErrors(analytics); }

  // A window of a new application with bundle identifier `bundleId`.
  winsys::WindowPtr windowOf(std::optional<std::string> bundleId, winsys::fake::WindowSetup spec) {
    winsys::fake::AppSetup app;
    app.bundleIdentifier = std::move(bundleId);
    return desktop.launch(app, {std::move(spec)})->windows().front();
  }

  tlm::ScopedRecordingAnalytics analytics;
  dispatch::ManualQueue queue;
  winsys::fake::FakeDesktop desktop{queue};
};

}  // namespace wendrix::testing

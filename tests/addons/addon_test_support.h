#pragma once

// Usage events recorded while an addon test runs, and a fake desktop to host
// the windows it reads.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dispatch/manual_queue.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix::testing {

// One "Error" event's description and location.
struct ErrorEvent {
  std::string description;
  std::optional<std::string> location;
  friend bool operator==(const ErrorEvent&, const ErrorEvent&) = default;
};

inline void PrintTo(const ErrorEvent& e, std::ostream* os) {
  *os << "{" << e.description << " @ " << e.location.value_or("-") << "}";
}

class AddonTest : public ::testing::Test {
 protected:
  std::vector<ErrorEvent> errorEvents() const {
    std::vector<ErrorEvent> out;
    for (const auto& event : analytics.events()) {
      if (event.name != "Error") continue;
      ErrorEvent e;
      for (const auto& p : event.properties) {
        const auto* text = std::get_if<std::string>(&p.value);
        if (!text) continue;
        if (p.name == "ErrorDescription") e.description = *text;
        if (p.name == "ErrorLocation") e.location = *text;
      }
      out.push_back(std::move(e));
    }
    return out;
  }

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

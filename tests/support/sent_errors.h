#pragma once

// The "Error" usage events a test recorded, as description and location.

#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace wendrix::testing {

// An "Error" event as sent: its description and its location, if any.
struct SentError {
  std::string description;
  std::optional<std::string> location;
  friend bool operator==(const SentError&, const SentError&) = default;
  friend std::ostream& operator<<(std::ostream& os, const SentError& e) {
    return os << "{\"" << e.description << "\" at " << e.location.value_or("(no location)") << "}";
  }
};

inline std::vector<SentError> sentErrors(const tlm::ScopedRecordingAnalytics& analytics) {
  std::vector<SentError> out;
  for (const auto& event : analytics.events()) {
    if (event.name != "Error") continue;
    SentError e;
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

}  // namespace wendrix::testing

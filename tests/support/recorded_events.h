#pragma once

// Reading the usage events a test recorded: a property of one event, and the
// "Error" events as description and location.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace wendrix::testing {

// The property `key` of `event` when it holds a V; none otherwise.
template <class V>
std::optional<V> eventProperty(const tlm::TLMRecordedEvent& event, std::string_view key) {
  for (const auto& p : event.properties) {
    if (p.name != key) continue;
    if (const V* v = std::get_if<V>(&p.value)) return *v;
  }
  return std::nullopt;
}

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

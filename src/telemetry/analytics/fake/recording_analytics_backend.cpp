#include "telemetry/analytics/fake/recording_analytics_backend.h"

#include <utility>

namespace tlm {

bool RecordingAnalyticsBackend::isStarted() const {
  std::lock_guard lock(mutex_);
  return started_;
}

void RecordingAnalyticsBackend::trackEvent(const std::string& name,
                                           std::optional<TLMEventProperties> properties) {
  TLMRecordedEvent event{name, properties.has_value(), {}};
  if (properties) event.properties = properties->properties();
  std::lock_guard lock(mutex_);
  if (enabled_) events_.push_back(std::move(event));
}

void RecordingAnalyticsBackend::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

bool RecordingAnalyticsBackend::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void RecordingAnalyticsBackend::setStarted(bool started) {
  std::lock_guard lock(mutex_);
  started_ = started;
}

std::vector<TLMRecordedEvent> RecordingAnalyticsBackend::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

void RecordingAnalyticsBackend::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

ScopedRecordingAnalytics::ScopedRecordingAnalytics()
    : backend_(std::make_shared<RecordingAnalyticsBackend>()),
      previous_(TLMAnalytics::setBackend(backend_)) {}

ScopedRecordingAnalytics::~ScopedRecordingAnalytics() {
  TLMAnalytics::setBackend(std::move(previous_));
}

}  // namespace tlm

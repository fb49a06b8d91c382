#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/analytics/analytics.h"

namespace tlm {

struct TLMRecordedEvent {
  std::string name;
  // Whether the caller passed a property map (even an empty one).
  bool withProperties = false;
  // The properties in the order they were set.
  std::vector<TLMEventProperty> properties;
};

// An analytics backend that keeps every event it accepts, for tests. Started
// and enabled unless told otherwise; while disabled it drops events as the
// service does.
class RecordingAnalyticsBackend final : public TLMAnalyticsBackend {
 public:
  bool isStarted() const override;
  void trackEvent(const std::string& name, std::optional<TLMEventProperties> properties) override;
  void setEnabled(bool enabled) override;
  bool isEnabled() const override;

  void setStarted(bool started);
  std::vector<TLMRecordedEvent> events() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  bool started_ = true;
  bool enabled_ = true;
  std::vector<TLMRecordedEvent> events_;
};

// Installs a recording backend for the lifetime of the object and puts the
// previous backend back afterwards.
class ScopedRecordingAnalytics {
 public:
  ScopedRecordingAnalytics();
  ~ScopedRecordingAnalytics();
  ScopedRecordingAnalytics(const ScopedRecordingAnalytics&) = delete;
  ScopedRecordingAnalytics& operator=(const ScopedRecordingAnalytics&) = delete;

  RecordingAnalyticsBackend& backend() { return *backend_; }
  std::vector<TLMRecordedEvent> events() const { return backend_->events(); }

 private:
  std::shared_ptr<RecordingAnalyticsBackend> backend_;
  std::shared_ptr<TLMAnalyticsBackend> previous_;
};

}  // namespace tlm

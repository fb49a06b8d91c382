#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/analytics/event_properties.h"

namespace tlm {

// What stands behind the analytics class operations: the analytics service of
// the SDK, or a recorder in tests. Called from any thread.
class TLMAnalyticsBackend {
 public:
  virtual ~TLMAnalyticsBackend() = default;

  // Whether the service has been started; the class operations ask this
  // before every call.
  virtual bool isStarted() const = 0;
  // Builds and enqueues an event log when the service is enabled; drops the
  // event otherwise. `properties` is absent when the caller gave none.
  virtual void trackEvent(const std::string& name,
                          std::optional<TLMEventProperties> properties) = 0;
  // Sets and persists the service's switch; refused (and logged) while the
  // SDK as a whole is disabled. Disabling stops the sending of analytics logs.
  virtual void setEnabled(bool enabled) = 0;
  virtual bool isEnabled() const = 0;
};

// The analytics service as the application calls it. Until a backend is
// installed (the SDK installs its service when it starts it) the service
// counts as not started: events are dropped and `isEnabled` is false.
// Thread-safe.
class TLMAnalytics {
 public:
  static constexpr std::string_view kLogTag = "DarAvevedAnalytics";

  TLMAnalytics() = delete;

  static void trackEvent(std::string_view name);
  static void trackEvent(std::string_view name, const TLMEventProperties& properties);
  // Ignored (and logged) while the service is not started.
  static void setEnabled(bool enabled);
  // True only when the service has been started and is enabled.
  static bool isEnabled();

  // Installs `backend` (none: back to "not started") and returns the one it replaces.
  static std::shared_ptr<TLMAnalyticsBackend> setBackend(
      std::shared_ptr<TLMAnalyticsBackend> backend);
};

}  // namespace tlm

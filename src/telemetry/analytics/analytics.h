#pragma once

#include <cstdint>
#include <map>
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

struct TLMAnalyticsDelegate;
class TLMAnalyticsTransmissionTarget;

// The analytics service as the application calls it. The program's usual
// road (events with typed properties, the switch) goes through the installed
// backend: the analytics service once the SDK has started it, or a recorder
// in tests. Until one is installed the service counts as not started: events
// are dropped and `isEnabled` is false. The other operations act on the
// analytics service's shared instance (TLMAnalyticsService). Thread-safe.
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
  // Installs `backend` only when none is installed; answers whether it did.
  static bool setBackendIfNone(std::shared_ptr<TLMAnalyticsBackend> backend);
  // Back to "not started" when `backend` is the installed one.
  static void removeBackend(const std::shared_ptr<TLMAnalyticsBackend>& backend);

  // The low 8 bits of `flags` choose the persistence: 1 normal, 2 critical.
  static void trackEvent(std::string_view name, const TLMEventProperties& properties,
                         std::uint64_t flags);
  // String properties, each becoming a string typed property.
  static void trackEvent(std::string_view name,
                         const std::map<std::string, std::string>& properties,
                         std::uint64_t flags = 1);
  // For `target` (none: the default transmission target of the start).
  static void trackEvent(std::string_view name, const std::optional<TLMEventProperties>& properties,
                         const std::shared_ptr<TLMAnalyticsTransmissionTarget>& target,
                         std::uint64_t flags);
  static void trackPage(
      std::string_view name,
      const std::optional<std::map<std::string, std::string>>& properties = std::nullopt);
  static void pause();
  static void resume();
  // Seconds between sends of normal logs; settable (3 to 86400) only before
  // the service starts.
  static std::uint64_t transmissionInterval();
  static void setTransmissionInterval(std::uint64_t seconds);
  static void setDelegate(std::optional<TLMAnalyticsDelegate> delegate);
  // Automatic page views of the program's view controllers
  // (TLMAnalyticsCategory); off until set.
  static void setAutoPageTrackingEnabled(bool enabled);
  static bool isAutoPageTrackingEnabled();
  // The root transmission target of the token, made on first use.
  static std::shared_ptr<TLMAnalyticsTransmissionTarget> transmissionTargetForToken(
      const std::string& token);
  // Holds (releases) the sending of the token's stored logs.
  static void pauseTransmissionTargetForToken(const std::string& token);
  static void resumeTransmissionTargetForToken(const std::string& token);
  // Stops the shared service's session tracker and forgets the service.
  static void resetSharedInstance();
};

}  // namespace tlm

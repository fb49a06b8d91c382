#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_logs.h"
#include "telemetry/analytics/event_properties.h"
#include "telemetry/analytics/session_tracker.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/channel/channel_unit_configuration.h"
#include "telemetry/sdk/service_abstract.h"
#include "telemetry/sdk/service_class.h"

namespace tlm {

class TLMAnalyticsService;
class TLMAnalyticsTransmissionTarget;

// What the application may hear of its event and page logs on their way
// out. Each callback is optional; an empty one is skipped.
struct TLMAnalyticsDelegate {
  using EventCallback =
      std::function<void(TLMAnalyticsService&, const std::shared_ptr<TLMEventLog>&)>;
  using EventFailure = std::function<void(TLMAnalyticsService&, const std::shared_ptr<TLMEventLog>&,
                                          const std::optional<base::Error>&)>;
  using PageCallback =
      std::function<void(TLMAnalyticsService&, const std::shared_ptr<TLMPageLog>&)>;
  using PageFailure = std::function<void(TLMAnalyticsService&, const std::shared_ptr<TLMPageLog>&,
                                         const std::optional<base::Error>&)>;

  EventCallback willSendEventLog;
  EventCallback didSucceedSendingEventLog;
  EventFailure didFailSendingEventLog;
  PageCallback willSendPageLog;
  PageCallback didSucceedSendingPageLog;
  PageFailure didFailSendingPageLog;
};

// What the service works with; each member left empty takes the process's own.
struct TLMAnalyticsEnvironment {
  // The SDK's shared settings.
  std::shared_ptr<TLMDarAvevedUserDefaults> settings;
  // The session tracker's collaborators (its settings default to the above).
  TLMSessionTrackerEnvironment tracker;
};

// The analytics service ("TLMAnalytics" to the SDK): turns tracked events
// and pages into logs and enqueues them into its two units, "Analytics" for
// normal logs and "Analytics_critical" for logs flagged critical; its
// session tracker opens sessions. While enabled after a start from the
// application it is a delegate of the channel group: it checks names and
// properties of its logs before they are stored and reports their sending
// to the application's delegate.
//
// Disabling deletes the stored logs of both units, stops the session
// tracker and clears the session history; enabling resumes the units and
// starts the tracker, which opens a new session.
//
// Thread-safe: tracking, pause and resume hold the service's monitor.
// Make it with `make` (it is shared with the channel group).
class TLMAnalyticsService final : public TLMServiceAbstract,
                                  public TLMChannelDelegate,
                                  public TLMSessionTrackerDelegate,
                                  public std::enable_shared_from_this<TLMAnalyticsService> {
 public:
  static constexpr std::string_view kClassName = "TLMAnalytics";
  static constexpr std::string_view kServiceName = "Analytics";
  static constexpr std::string_view kCriticalGroupId = "Analytics_critical";
  static constexpr std::uint64_t kDefaultFlushInterval = 3;
  static constexpr std::uint64_t kMinFlushInterval = 3;
  static constexpr std::uint64_t kMaxFlushInterval = 86400;
  static constexpr std::uint64_t kFlagsNormal = 1;
  static constexpr std::uint64_t kFlagsCritical = 2;

  // Moves settings from their old keys and registers the log classes
  // (with their older class names) for decoding.
  static std::shared_ptr<TLMAnalyticsService> make(TLMAnalyticsEnvironment environment = {});
  ~TLMAnalyticsService() override;

  // The process's service, made on first use.
  static std::shared_ptr<TLMAnalyticsService> sharedInstance();
  // Stops the shared service's session tracker and forgets the service.
  static void resetSharedInstance();
  // Makes `service` the shared one; none: made again on next use.
  static void setSharedForTesting(std::shared_ptr<TLMAnalyticsService> service = nullptr);
  // The class the application names when it starts the SDK.
  static TLMServiceClass serviceClass();

  // TLMServiceAbstract.
  std::string_view serviceName() const override { return kServiceName; }
  std::string_view logTag() const override { return TLMAnalytics::kLogTag; }
  std::string groupId() const override { return std::string(kServiceName); }
  // The normal unit's, made at the start with the transmission interval.
  std::optional<TLMChannelUnitConfiguration> channelUnitConfiguration() const override;
  bool isAppSecretRequired() const override { return false; }
  // Adds the normal unit (and applies the enabled state), then the critical
  // unit, and becomes the analytics backend of the program unless another
  // backend is installed.
  void startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                             std::optional<std::string> appSecret,
                             std::optional<std::string> transmissionTargetToken,
                             bool fromApplication) override;
  // A start that brings more configuration: makes the default transmission
  // target from the token when there is none yet.
  void updateConfigurationWithAppSecret(
      std::optional<std::string> appSecret,
      std::optional<std::string> transmissionTargetToken) override;
  // The base switch, then the same value to every transmission target (also
  // when the service's own value did not change).
  void setEnabled(bool isEnabled) override;
  void applyEnabledState(bool isEnabled) override;

  // Enqueues an event log with the properties held to their limits, when
  // the service can be used and is enabled. The low 8 bits of `flags` are
  // its persistence: 1 normal, 2 critical; any other value is logged and
  // taken as normal.
  void trackEvent(const std::string& name, const std::optional<TLMEventProperties>& properties,
                  std::uint64_t flags = kFlagsNormal);
  // The same for `target` (none: the default transmission target, when
  // there is one). An event for a target goes out under its token with the
  // properties as given, or not at all while the target is disabled.
  void trackEvent(const std::string& name, const std::optional<TLMEventProperties>& properties,
                  const std::shared_ptr<TLMAnalyticsTransmissionTarget>& target,
                  std::uint64_t flags);
  // The same with string properties.
  void trackEvent(const std::string& name, const std::map<std::string, std::string>& properties,
                  std::uint64_t flags = kFlagsNormal);
  // Enqueues a page log (normal persistence), when usable and enabled.
  void trackPage(
      const std::string& name,
      const std::optional<std::map<std::string, std::string>>& properties = std::nullopt);
  // Into the critical unit when bit value 2 is set in `flags`, else the normal one.
  void sendLog(const TLMLogPtr& log, std::uint64_t flags);

  // Holds (releases) the sending of both units, with the service as the
  // holding object.
  void pause();
  void resume();

  // Automatic page views (TLMAnalyticsCategory); off until set.
  void setAutoPageTrackingEnabled(bool enabled);
  bool isAutoPageTrackingEnabled() const;

  // The root target of the token, made and kept on first use.
  std::shared_ptr<TLMAnalyticsTransmissionTarget> transmissionTargetForToken(
      const std::string& token);
  // A new root target of the token, not kept.
  std::shared_ptr<TLMAnalyticsTransmissionTarget> createTransmissionTargetForToken(
      const std::string& token);
  // Holds (releases) the sending of the token's stored common-schema logs.
  void pauseTransmissionTargetForToken(const std::string& token);
  void resumeTransmissionTargetForToken(const std::string& token);
  // The target made from the token given at the start; none without one.
  std::shared_ptr<TLMAnalyticsTransmissionTarget> defaultTransmissionTarget() const;
  // The common-schema mirrors of the two units ("Analytics/one",
  // "Analytics_critical/one"), looked up until found.
  std::shared_ptr<TLMChannelUnitProtocol> collectorChannelUnit();
  std::shared_ptr<TLMChannelUnitProtocol> collectorCriticalChannelUnit();

  // Only before the start; 3 to 86400 seconds.
  void setTransmissionInterval(std::uint64_t seconds);
  std::uint64_t flushInterval() const;
  void setDelegate(std::optional<TLMAnalyticsDelegate> delegate);

  const std::shared_ptr<TLMSessionTracker>& sessionTracker() const { return sessionTracker_; }
  std::shared_ptr<TLMChannelUnitProtocol> criticalChannelUnit() const;

  // TLMSessionTrackerDelegate: a start-session log, sent as normal.
  void sessionTracker(TLMSessionTracker& tracker, const TLMLogPtr& log) override;

  // TLMChannelDelegate.
  void willSendLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didSucceedSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didFailSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                         const std::optional<base::Error>& error) override;
  // Drops event and page logs whose name is missing; cuts what is too long.
  bool shouldFilterLog(TLMChannelUnitProtocol& unit, const TLMLogPtr& log) override;

 private:
  explicit TLMAnalyticsService(TLMAnalyticsEnvironment environment);
  // Callable with the log when the delegate has the matching callback.
  template <class EventCall, class PageCall>
  void notifyDelegate(const TLMLogPtr& log, EventCall onEvent, PageCall onPage);

  std::shared_ptr<TLMSessionTracker> sessionTracker_;
  std::shared_ptr<TLMAnalyticsBackend> backend_;

  // Guarded by the service's monitor.
  std::optional<TLMChannelUnitConfiguration> channelUnitConfiguration_;
  std::shared_ptr<TLMChannelUnitProtocol> criticalChannelUnit_;
  std::uint64_t flushInterval_ = kDefaultFlushInterval;
  std::optional<TLMAnalyticsDelegate> delegate_;
  bool autoPageTrackingEnabled_ = false;
  std::map<std::string, std::shared_ptr<TLMAnalyticsTransmissionTarget>> transmissionTargets_;
  std::shared_ptr<TLMAnalyticsTransmissionTarget> defaultTransmissionTarget_;
  std::shared_ptr<TLMChannelUnitProtocol> collectorChannelUnit_;
  std::shared_ptr<TLMChannelUnitProtocol> collectorCriticalChannelUnit_;
};

}  // namespace tlm

#include "telemetry/analytics/analytics_service.h"

#include <utility>

#include "base/shared_slot.h"
#include "base/uuid.h"
#include "telemetry/analytics/analytics_category.h"
#include "telemetry/analytics/analytics_validation.h"
#include "telemetry/analytics/transmission_target.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/core/logger.h"
#include "telemetry/schema/string_formatting.h"
#include "telemetry/sdk/service_class.h"

namespace tlm {
namespace {

base::SharedSlot<TLMAnalyticsService>& sharedSlot() {
  static base::SharedSlot<TLMAnalyticsService> slot;
  return slot;
}

// The program's analytics calls, passed to a started service.
class ServiceBackend final : public TLMAnalyticsBackend {
 public:
  explicit ServiceBackend(const std::shared_ptr<TLMAnalyticsService>& service)
      : service_(service),
        serviceClass_(std::string(TLMAnalyticsService::kClassName),
                      [weak = service_] { return weak.lock(); }) {}

  bool isStarted() const override {
    const auto service = service_.lock();
    return service && service->isStarted();
  }
  void trackEvent(const std::string& name, std::optional<TLMEventProperties> properties) override {
    if (const auto service = service_.lock())
      service->trackEvent(name, properties, TLMAnalyticsService::kFlagsNormal);
  }
  void setEnabled(bool enabled) override { serviceClass_.setEnabled(enabled); }
  bool isEnabled() const override { return serviceClass_.isEnabled(); }

 private:
  std::weak_ptr<TLMAnalyticsService> service_;
  TLMServiceClass serviceClass_;
};

}  // namespace

TLMAnalyticsService::TLMAnalyticsService(TLMAnalyticsEnvironment environment)
    : TLMServiceAbstract(environment.settings) {
  settings()->migrateKeys({{TLMDarAvevedUserDefaults::getDarAvevedKeyFrom(isEnabledKey()),
                            TLMUserDefaultsPrefixKey{"kTLAnalyticsIsEnabledKey"}},
                           {TLMDarAvevedUserDefaults::getDarAvevedKeyFrom("PastSessions"),
                            std::string("pastSessionsKey")}},
                          kServiceName);
  registerAnalyticsArchiveClasses();
  if (!environment.tracker.settings) environment.tracker.settings = settings();
  sessionTracker_ = std::make_shared<TLMSessionTracker>(std::move(environment.tracker));
}

std::shared_ptr<TLMAnalyticsService> TLMAnalyticsService::make(
    TLMAnalyticsEnvironment environment) {
  std::shared_ptr<TLMAnalyticsService> service(new TLMAnalyticsService(std::move(environment)));
  service->sessionTracker_->setDelegate(service);
  return service;
}

TLMAnalyticsService::~TLMAnalyticsService() {
  if (backend_) TLMAnalytics::removeBackend(backend_);
}

std::shared_ptr<TLMAnalyticsService> TLMAnalyticsService::sharedInstance() {
  return sharedSlot().getOrMake([] { return make(); });
}

void TLMAnalyticsService::resetSharedInstance() {
  if (const auto service = sharedSlot().exchange(nullptr)) service->sessionTracker_->stop();
}

void TLMAnalyticsService::setSharedForTesting(std::shared_ptr<TLMAnalyticsService> service) {
  sharedSlot().exchange(std::move(service));
}

TLMServiceClass TLMAnalyticsService::serviceClass() {
  return TLMServiceClass::of<TLMAnalyticsService>(std::string(kClassName));
}

std::optional<TLMChannelUnitConfiguration> TLMAnalyticsService::channelUnitConfiguration() const {
  std::lock_guard lock(monitor());
  return channelUnitConfiguration_;
}

void TLMAnalyticsService::startWithChannelGroup(
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup, std::optional<std::string> appSecret,
    std::optional<std::string> transmissionTargetToken, bool fromApplication) {
  std::lock_guard lock(monitor());
  channelUnitConfiguration_.emplace(std::string(kServiceName), flushInterval_);
  // Applies the enabled state before the critical unit exists: only the
  // normal unit is switched then.
  TLMServiceAbstract::startWithChannelGroup(channelGroup, std::move(appSecret),
                                            transmissionTargetToken, fromApplication);
  if (transmissionTargetToken)
    defaultTransmissionTarget_ = createTransmissionTargetForToken(*transmissionTargetToken);
  if (channelGroup) {
    criticalChannelUnit_ = channelGroup->addChannelUnitWithConfiguration(
        TLMChannelUnitConfiguration(std::string(kCriticalGroupId)));
  }
  TLM_LOG_VERBOSE(TLMAnalytics::kLogTag, "Started Analytics service.");
  if (!backend_) backend_ = std::make_shared<ServiceBackend>(shared_from_this());
  // A backend put in place by someone else (a recorder in tests) stays.
  TLMAnalytics::setBackendIfNone(backend_);
}

void TLMAnalyticsService::updateConfigurationWithAppSecret(
    std::optional<std::string> appSecret, std::optional<std::string> transmissionTargetToken) {
  std::lock_guard lock(monitor());
  TLMServiceAbstract::updateConfigurationWithAppSecret(std::move(appSecret),
                                                       transmissionTargetToken);
  if (transmissionTargetToken && !defaultTransmissionTarget_)
    defaultTransmissionTarget_ = createTransmissionTargetForToken(*transmissionTargetToken);
}

void TLMAnalyticsService::setEnabled(bool isEnabled) {
  std::lock_guard lock(monitor());
  TLMServiceAbstract::setEnabled(isEnabled);
  for (const auto& [token, target] : transmissionTargets_)
    target->setEnabled(isEnabled);
  if (defaultTransmissionTarget_) defaultTransmissionTarget_->setEnabled(isEnabled);
}

void TLMAnalyticsService::applyEnabledState(bool isEnabled) {
  std::lock_guard lock(monitor());
  TLMServiceAbstract::applyEnabledState(isEnabled);
  if (criticalChannelUnit_) criticalChannelUnit_->setEnabled(isEnabled, true);
  const auto group = channelGroup();
  if (isEnabled && isStartedFromApplication()) {
    resume();
    sessionTracker_->start();
    if (group) {
      group->addDelegate(sessionTracker_);
      group->addDelegate(shared_from_this());
    }
    if (autoPageTrackingEnabled_) {
      TLMAnalyticsCategory::dispatchOnMainQueue([] {
        const auto missed = TLMAnalyticsCategory::missedPageViewName();
        if (missed && !missed->empty()) TLMAnalytics::trackPage(*missed);
      });
    }
  } else if (!isEnabled && isStartedFromApplication()) {
    if (group) {
      group->removeDelegate(sessionTracker_);
      group->removeDelegate(shared_from_this());
    }
    sessionTracker_->stop();
    sessionTracker_->context()->clearSessionHistoryAndKeepCurrentSession(false);
  }
  TLM_LOG_INFO(TLMAnalytics::kLogTag, "Analytics service has been ",
               isEnabled ? "enabled." : "disabled.");
}

void TLMAnalyticsService::trackEvent(const std::string& name,
                                     const std::optional<TLMEventProperties>& properties,
                                     std::uint64_t flags) {
  trackEvent(name, properties, nullptr, flags);
}

void TLMAnalyticsService::trackEvent(const std::string& name,
                                     const std::optional<TLMEventProperties>& properties,
                                     const std::shared_ptr<TLMAnalyticsTransmissionTarget>& target,
                                     std::uint64_t flags) {
  std::lock_guard lock(monitor());
  if (!canBeUsed() || !isEnabled()) return;
  const auto chosen = target ? target : defaultTransmissionTarget_;
  std::uint64_t persistence = flags & 0xFF;
  if (persistence != kFlagsNormal && persistence != kFlagsCritical) {
    TLM_LOG_WARNING(TLMAnalytics::kLogTag, "Invalid flags (", persistence,
                    ") received, using normal as a default.");
    persistence = kFlagsNormal;
  }
  auto log = std::make_shared<TLMEventLog>();
  std::optional<TLMEventProperties> used;
  if (chosen) {
    if (!chosen->isEnabled()) {
      TLM_LOG_ERROR(TLMAnalytics::kLogTag, "This transmission target is disabled.");
      return;
    }
    log->addTransmissionTargetToken(chosen->transmissionTargetToken());
    log->tag = chosen;
    if (chosen == defaultTransmissionTarget_)
      log->userId = TLMUserIdContext::sharedInstance()->userId();
    used = properties;
  } else if (properties) {
    used = TLMAnalyticsValidation::validateDarAvevedEventProperties(*properties);
  }
  log->name = name;
  log->eventId = base::makeUuidString();
  if (used && !used->isEmpty()) log->typedProperties = std::move(used);
  sendLog(log, persistence);
}

void TLMAnalyticsService::trackEvent(const std::string& name,
                                     const std::map<std::string, std::string>& properties,
                                     std::uint64_t flags) {
  trackEvent(name,
             TLMEventProperties::makeWithStringDictionary({properties.begin(), properties.end()}),
             flags);
}

void TLMAnalyticsService::trackPage(
    const std::string& name, const std::optional<std::map<std::string, std::string>>& properties) {
  std::lock_guard lock(monitor());
  if (!canBeUsed() || !isEnabled()) return;
  auto log = std::make_shared<TLMPageLog>();
  log->name = name;
  if (properties && !properties->empty()) log->properties = properties;
  sendLog(log, kFlagsNormal);
}

void TLMAnalyticsService::sendLog(const TLMLogPtr& log, std::uint64_t flags) {
  const auto unit = (flags & kFlagsCritical) ? criticalChannelUnit() : channelUnit();
  if (unit) unit->enqueueItem(log, flags);
}

void TLMAnalyticsService::pause() {
  std::lock_guard lock(monitor());
  if (!canBeUsed()) return;
  const TLMIdentifyingObject self = shared_from_this();
  if (const auto unit = channelUnit()) unit->pauseWithIdentifyingObject(self);
  if (criticalChannelUnit_) criticalChannelUnit_->pauseWithIdentifyingObject(self);
}

void TLMAnalyticsService::resume() {
  std::lock_guard lock(monitor());
  if (!canBeUsed()) return;
  const TLMIdentifyingObject self = shared_from_this();
  if (const auto unit = channelUnit()) unit->resumeWithIdentifyingObject(self);
  if (criticalChannelUnit_) criticalChannelUnit_->resumeWithIdentifyingObject(self);
}

void TLMAnalyticsService::setTransmissionInterval(std::uint64_t seconds) {
  std::lock_guard lock(monitor());
  if (isStarted()) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag,
                  "The transmission interval should be set before the TLMAnalytics service is "
                  "started.");
    return;
  }
  if (seconds >= kMinFlushInterval && seconds <= kMaxFlushInterval) {
    flushInterval_ = seconds;
    TLM_LOG_DEBUG(TLMAnalytics::kLogTag, "Transmission interval set to ", seconds, " second(s)");
    return;
  }
  TLM_LOG_ERROR(TLMAnalytics::kLogTag,
                "The transmission interval is not valid, it should be between ", kMinFlushInterval,
                " second(s) and ", kMaxFlushInterval, " second(s) (", kMaxFlushInterval / 86400,
                " day).");
}

void TLMAnalyticsService::setAutoPageTrackingEnabled(bool enabled) {
  std::lock_guard lock(monitor());
  autoPageTrackingEnabled_ = enabled;
}

bool TLMAnalyticsService::isAutoPageTrackingEnabled() const {
  std::lock_guard lock(monitor());
  return autoPageTrackingEnabled_;
}

std::shared_ptr<TLMAnalyticsTransmissionTarget> TLMAnalyticsService::transmissionTargetForToken(
    const std::string& token) {
  std::lock_guard lock(monitor());
  if (const auto found = transmissionTargets_.find(token); found != transmissionTargets_.end()) {
    TLM_LOG_DEBUG(TLMAnalytics::kLogTag, "Returning transmission target found with id ",
                  TLMUtility_StringFormatting::targetKeyFromTargetToken(token).value_or("(null)"),
                  ".");
    return found->second;
  }
  auto target = createTransmissionTargetForToken(token);
  transmissionTargets_[token] = target;
  return target;
}

std::shared_ptr<TLMAnalyticsTransmissionTarget>
TLMAnalyticsService::createTransmissionTargetForToken(const std::string& token) {
  std::lock_guard lock(monitor());
  auto target = TLMAnalyticsTransmissionTarget::make(token, nullptr, channelGroup());
  TLM_LOG_DEBUG(TLMAnalytics::kLogTag, "Created transmission target with target key ",
                TLMUtility_StringFormatting::targetKeyFromTargetToken(token).value_or("(null)"),
                ".");
  return target;
}

void TLMAnalyticsService::pauseTransmissionTargetForToken(const std::string& token) {
  if (const auto unit = collectorChannelUnit()) unit->pauseSendingLogsWithToken(token);
  if (const auto unit = collectorCriticalChannelUnit()) unit->pauseSendingLogsWithToken(token);
}

void TLMAnalyticsService::resumeTransmissionTargetForToken(const std::string& token) {
  if (const auto unit = collectorChannelUnit()) unit->resumeSendingLogsWithToken(token);
  if (const auto unit = collectorCriticalChannelUnit()) unit->resumeSendingLogsWithToken(token);
}

std::shared_ptr<TLMAnalyticsTransmissionTarget> TLMAnalyticsService::defaultTransmissionTarget()
    const {
  std::lock_guard lock(monitor());
  return defaultTransmissionTarget_;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMAnalyticsService::collectorChannelUnit() {
  std::lock_guard lock(monitor());
  if (!collectorChannelUnit_) {
    if (const auto group = channelGroup())
      collectorChannelUnit_ = group->channelUnitForGroupId(std::string(kServiceName) + "/one");
  }
  return collectorChannelUnit_;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMAnalyticsService::collectorCriticalChannelUnit() {
  std::lock_guard lock(monitor());
  if (!collectorCriticalChannelUnit_) {
    if (const auto group = channelGroup())
      collectorCriticalChannelUnit_ =
          group->channelUnitForGroupId(std::string(kCriticalGroupId) + "/one");
  }
  return collectorCriticalChannelUnit_;
}

std::uint64_t TLMAnalyticsService::flushInterval() const {
  std::lock_guard lock(monitor());
  return flushInterval_;
}

void TLMAnalyticsService::setDelegate(std::optional<TLMAnalyticsDelegate> delegate) {
  std::lock_guard lock(monitor());
  delegate_ = std::move(delegate);
}

std::shared_ptr<TLMChannelUnitProtocol> TLMAnalyticsService::criticalChannelUnit() const {
  std::lock_guard lock(monitor());
  return criticalChannelUnit_;
}

void TLMAnalyticsService::sessionTracker(TLMSessionTracker& /*tracker*/, const TLMLogPtr& log) {
  sendLog(log, kFlagsNormal);
}

template <class EventCall, class PageCall>
void TLMAnalyticsService::notifyDelegate(const TLMLogPtr& log, EventCall onEvent, PageCall onPage) {
  std::optional<TLMAnalyticsDelegate> delegate;
  {
    std::lock_guard lock(monitor());
    delegate = delegate_;
  }
  if (!delegate) return;
  if (auto event = std::dynamic_pointer_cast<TLMEventLog>(log)) {
    onEvent(*delegate, event);
  } else if (auto page = std::dynamic_pointer_cast<TLMPageLog>(log)) {
    onPage(*delegate, page);
  }
}

void TLMAnalyticsService::willSendLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& log) {
  notifyDelegate(
      log,
      [this](const TLMAnalyticsDelegate& d, const std::shared_ptr<TLMEventLog>& event) {
        if (d.willSendEventLog) d.willSendEventLog(*this, event);
      },
      [this](const TLMAnalyticsDelegate& d, const std::shared_ptr<TLMPageLog>& page) {
        if (d.willSendPageLog) d.willSendPageLog(*this, page);
      });
}

void TLMAnalyticsService::didSucceedSendingLog(TLMChannelProtocol& /*channel*/,
                                               const TLMLogPtr& log) {
  notifyDelegate(
      log,
      [this](const TLMAnalyticsDelegate& d, const std::shared_ptr<TLMEventLog>& event) {
        if (d.didSucceedSendingEventLog) d.didSucceedSendingEventLog(*this, event);
      },
      [this](const TLMAnalyticsDelegate& d, const std::shared_ptr<TLMPageLog>& page) {
        if (d.didSucceedSendingPageLog) d.didSucceedSendingPageLog(*this, page);
      });
}

void TLMAnalyticsService::didFailSendingLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& log,
                                            const std::optional<base::Error>& error) {
  notifyDelegate(
      log,
      [this, &error](const TLMAnalyticsDelegate& d, const std::shared_ptr<TLMEventLog>& event) {
        if (d.didFailSendingEventLog) d.didFailSendingEventLog(*this, event, error);
      },
      [this, &error](const TLMAnalyticsDelegate& d, const std::shared_ptr<TLMPageLog>& page) {
        if (d.didFailSendingPageLog) d.didFailSendingPageLog(*this, page, error);
      });
}

bool TLMAnalyticsService::shouldFilterLog(TLMChannelUnitProtocol& /*unit*/, const TLMLogPtr& log) {
  return TLMAnalyticsValidation::shouldFilterLog(log);
}

}  // namespace tlm

#include "telemetry/analytics/transmission_target.h"

#include <utility>

#include "base/shared_slot.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/core/logger.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/schema/common_schema_log.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

base::SharedSlot<TLMAnalyticsAuthenticationProvider>& providerSlot() {
  static base::SharedSlot<TLMAnalyticsAuthenticationProvider> slot;
  return slot;
}

std::recursive_mutex& analyticsMonitor() {
  return TLMAnalyticsService::sharedInstance()->monitor();
}

std::string enabledKeyFor(const std::string& token) {
  return TLMAnalyticsService::sharedInstance()->isEnabledKey() + "/" +
         TLMUtility_StringFormatting::targetKeyFromTargetToken(token).value_or("(null)");
}

}  // namespace

TLMAnalyticsTransmissionTarget::TLMAnalyticsTransmissionTarget(
    std::string transmissionTargetToken, std::shared_ptr<TLMAnalyticsTransmissionTarget> parent,
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup)
    : transmissionTargetToken_(std::move(transmissionTargetToken)),
      parent_(std::move(parent)),
      channelGroup_(std::move(channelGroup)),
      isEnabledKey_(enabledKeyFor(transmissionTargetToken_)) {}

std::shared_ptr<TLMAnalyticsTransmissionTarget> TLMAnalyticsTransmissionTarget::make(
    std::string transmissionTargetToken, std::shared_ptr<TLMAnalyticsTransmissionTarget> parent,
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup) {
  std::shared_ptr<TLMAnalyticsTransmissionTarget> target(new TLMAnalyticsTransmissionTarget(
      std::move(transmissionTargetToken), std::move(parent), std::move(channelGroup)));
  target->propertyConfigurator_ = std::make_shared<TLMPropertyConfigurator>(target);
  if (!target->isImmediateParent())
    TLMDarAvevedUserDefaults::shared()->setObject(false, target->isEnabledKey_);
  if (const auto group = target->channelGroup_.lock()) {
    group->addDelegate(target->propertyConfigurator_);
    group->addDelegate(target);
  }
  return target;
}

bool TLMAnalyticsTransmissionTarget::isImmediateParent() const {
  const auto parent = parentTarget();
  return parent ? parent->isEnabled() : TLMAnalyticsService::serviceClass().isEnabled();
}

bool TLMAnalyticsTransmissionTarget::isEnabled() const {
  const auto stored = TLMDarAvevedUserDefaults::shared()->objectForKey(isEnabledKey_);
  if (!stored) return true;
  if (const auto* flag = stored->getIf<bool>()) return *flag;
  return true;
}

void TLMAnalyticsTransmissionTarget::setEnabled(bool enabled) {
  std::lock_guard lock(analyticsMonitor());
  if (enabled != isEnabled()) {
    if (enabled && !isImmediateParent()) {
      TLM_LOG_WARNING(TLMAnalytics::kLogTag,
                      "Can't enable; parent transmission target and/or Analytics service is "
                      "disabled.");
      return;
    }
    TLMDarAvevedUserDefaults::shared()->setObject(enabled, isEnabledKey_);
    if (enabled) resume();
  }
  for (const auto& [token, child] : childTransmissionTargets_)
    child->setEnabled(enabled);
}

std::shared_ptr<TLMAnalyticsTransmissionTarget>
TLMAnalyticsTransmissionTarget::transmissionTargetForToken(const std::string& token) {
  std::lock_guard lock(analyticsMonitor());
  auto& child = childTransmissionTargets_[token];
  if (!child) child = make(token, shared_from_this(), channelGroup_.lock());
  return child;
}

void TLMAnalyticsTransmissionTarget::trackEvent(
    const std::string& name, const std::optional<std::map<std::string, std::string>>& properties,
    std::uint64_t flags) {
  std::optional<TLMEventProperties> typed;
  if (properties) {
    typed.emplace();
    for (const auto& [key, value] : *properties)
      typed->setString(key, value);
  }
  trackEvent(name, typed, flags);
}

void TLMAnalyticsTransmissionTarget::trackEvent(const std::string& name,
                                                const std::optional<TLMEventProperties>& properties,
                                                std::uint64_t flags) {
  // The nearest target's default of a key wins; the call's own values win
  // over every default.
  TLMEventProperties merged;
  propertyConfigurator_->mergeTypedPropertiesWith(merged);
  for (auto target = parentTarget(); target; target = target->parentTarget())
    target->propertyConfigurator_->mergeTypedPropertiesWith(merged);
  std::optional<TLMEventProperties> result;
  if (properties) {
    merged.mergeEventProperties(*properties);
    result = std::move(merged);
  } else if (!merged.isEmpty()) {
    result = std::move(merged);
  }
  TLMAnalytics::trackEvent(name, result, shared_from_this(), flags);
}

void TLMAnalyticsTransmissionTarget::pause() {
  if (!isEnabled()) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "This transmission target is disabled.");
    return;
  }
  TLMAnalytics::pauseTransmissionTargetForToken(transmissionTargetToken_);
}

void TLMAnalyticsTransmissionTarget::resume() {
  if (!isEnabled()) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "This transmission target is disabled.");
    return;
  }
  TLMAnalytics::resumeTransmissionTargetForToken(transmissionTargetToken_);
}

void TLMAnalyticsTransmissionTarget::prepareLog(TLMChannelProtocol& /*channel*/,
                                                const TLMLogPtr& log) {
  if (!log->transmissionTargetTokens().contains(transmissionTargetToken_)) return;
  const auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log);
  if (!csLog || !isEnabled()) return;
  const auto provider = authenticationProvider();
  if (!provider) return;
  if (csLog->ext && csLog->ext->protocolExt)
    csLog->ext->protocolExt->ticketKeys = std::vector<std::string>{provider->ticketKeyHash()};
  provider->checkTokenExpiry();
}

void TLMAnalyticsTransmissionTarget::addAuthenticationProvider(
    std::shared_ptr<TLMAnalyticsAuthenticationProvider> authenticationProvider) {
  if (!authenticationProvider) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "Authentication provider may not be null.");
    return;
  }
  providerSlot().exchange(authenticationProvider);
  // Outside the slot's lock: the delegate may answer at once.
  authenticationProvider->acquireTokenAsync();
}

std::shared_ptr<TLMAnalyticsAuthenticationProvider>
TLMAnalyticsTransmissionTarget::authenticationProvider() {
  return providerSlot().get();
}

void TLMAnalyticsTransmissionTarget::setAuthenticationProvider(
    std::shared_ptr<TLMAnalyticsAuthenticationProvider> authenticationProvider) {
  providerSlot().exchange(std::move(authenticationProvider));
}

}  // namespace tlm

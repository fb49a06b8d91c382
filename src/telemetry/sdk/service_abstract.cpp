#include "telemetry/sdk/service_abstract.h"

#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {

TLMServiceAbstract::TLMServiceAbstract(std::shared_ptr<TLMDarAvevedUserDefaults> settings)
    : ownSettings_(std::move(settings)) {}

TLMServiceAbstract::~TLMServiceAbstract() = default;

std::shared_ptr<TLMDarAvevedUserDefaults> TLMServiceAbstract::settings() const {
  return ownSettings_ ? ownSettings_ : TLMDarAvevedUserDefaults::shared();
}

std::string TLMServiceAbstract::isEnabledKey() const {
  return groupId() + "IsEnabled";
}

bool TLMServiceAbstract::isEnabled() const {
  const auto stored = settings()->objectForKey(isEnabledKey());
  if (!stored) return true;
  if (const auto* flag = stored->getIf<bool>()) return *flag;
  if (const auto* number = stored->getIf<std::int64_t>()) return *number != 0;
  if (const auto* number = stored->getIf<std::uint64_t>()) return *number != 0;
  return true;
}

void TLMServiceAbstract::setEnabled(bool isEnabled) {
  std::lock_guard lock(monitor_);
  if (isEnabled == this->isEnabled()) return;
  applyEnabledState(isEnabled);
  settings()->setObject(isEnabled, isEnabledKey());
}

void TLMServiceAbstract::applyEnabledState(bool isEnabled) {
  if (const auto unit = channelUnit()) unit->setEnabled(isEnabled, true);
}

bool TLMServiceAbstract::canBeUsed() const {
  if (TLMDarAveved::isSdkConfigured() && isStarted()) return true;
  TLM_LOG_ERROR(kTLMLogTag, serviceName(),
                " service hasn't been started. You need to call [TLMDarAveved "
                "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.");
  return false;
}

bool TLMServiceAbstract::isAvailable() const {
  return isEnabled() && isStarted();
}

bool TLMServiceAbstract::isStarted() const {
  std::lock_guard lock(monitor_);
  return started_;
}

bool TLMServiceAbstract::isStartedFromApplication() const {
  std::lock_guard lock(monitor_);
  return startedFromApplication_;
}

void TLMServiceAbstract::startWithChannelGroup(
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup, std::optional<std::string> appSecret,
    std::optional<std::string> transmissionTargetToken, bool fromApplication) {
  std::lock_guard lock(monitor_);
  startedFromApplication_ = fromApplication;
  channelGroup_ = std::move(channelGroup);
  appSecret_ = std::move(appSecret);
  defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
  started_ = true;
  if (const auto configuration = channelUnitConfiguration(); configuration && channelGroup_)
    channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(*configuration);
  // A service disabled at start keeps its unit as the group made it.
  if (isEnabled()) applyEnabledState(true);
}

void TLMServiceAbstract::updateConfigurationWithAppSecret(
    std::optional<std::string> appSecret, std::optional<std::string> transmissionTargetToken) {
  std::lock_guard lock(monitor_);
  startedFromApplication_ = true;
  appSecret_ = std::move(appSecret);
  defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
  if (isEnabled()) applyEnabledState(true);
}

std::shared_ptr<TLMChannelGroupProtocol> TLMServiceAbstract::channelGroup() const {
  std::lock_guard lock(monitor_);
  return channelGroup_;
}

void TLMServiceAbstract::setChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup) {
  std::lock_guard lock(monitor_);
  channelGroup_ = std::move(channelGroup);
}

std::shared_ptr<TLMChannelUnitProtocol> TLMServiceAbstract::channelUnit() const {
  std::lock_guard lock(monitor_);
  return channelUnit_;
}

void TLMServiceAbstract::setChannelUnit(std::shared_ptr<TLMChannelUnitProtocol> channelUnit) {
  std::lock_guard lock(monitor_);
  channelUnit_ = std::move(channelUnit);
}

std::optional<std::string> TLMServiceAbstract::appSecret() const {
  std::lock_guard lock(monitor_);
  return appSecret_;
}

void TLMServiceAbstract::setAppSecret(std::optional<std::string> appSecret) {
  std::lock_guard lock(monitor_);
  appSecret_ = std::move(appSecret);
}

std::optional<std::string> TLMServiceAbstract::defaultTransmissionTargetToken() const {
  std::lock_guard lock(monitor_);
  return defaultTransmissionTargetToken_;
}

void TLMServiceAbstract::setDefaultTransmissionTargetToken(std::optional<std::string> token) {
  std::lock_guard lock(monitor_);
  defaultTransmissionTargetToken_ = std::move(token);
}

}  // namespace tlm

#include "telemetry/analytics/analytics.h"

#include <mutex>
#include <utility>

#include "base/shared_slot.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/core/logger.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

// Never destroyed: the analytics service removes its backend when it goes,
// which may be during the exit's destruction of statics.
base::SharedSlot<TLMAnalyticsBackend>& backendSlot() {
  static auto* slot = new base::SharedSlot<TLMAnalyticsBackend>();
  return *slot;
}

// Serialises the backend swaps, so that a removal never takes out a
// backend installed after the one it names.
std::mutex& backendSwapMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

// The installed backend when its service has been started; otherwise logs
// why the call is refused and answers none.
std::shared_ptr<TLMAnalyticsBackend> usableBackend() {
  std::shared_ptr<TLMAnalyticsBackend> backend = backendSlot().get();
  if (backend && backend->isStarted()) return backend;
  TLM_LOG_ERROR(TLMDarAveved::kLogTag,
                "Analytics service hasn't been started. You need to call [TLMDarAveved "
                "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.");
  return nullptr;
}

}  // namespace

void TLMAnalytics::trackEvent(std::string_view name) {
  if (auto backend = usableBackend()) backend->trackEvent(std::string(name), std::nullopt);
}

void TLMAnalytics::trackEvent(std::string_view name, const TLMEventProperties& properties) {
  if (auto backend = usableBackend()) backend->trackEvent(std::string(name), properties);
}

void TLMAnalytics::setEnabled(bool enabled) {
  if (auto backend = usableBackend()) backend->setEnabled(enabled);
}

bool TLMAnalytics::isEnabled() {
  auto backend = usableBackend();
  return backend && backend->isEnabled();
}

std::shared_ptr<TLMAnalyticsBackend> TLMAnalytics::setBackend(
    std::shared_ptr<TLMAnalyticsBackend> backend) {
  std::lock_guard lock(backendSwapMutex());
  return backendSlot().exchange(std::move(backend));
}

bool TLMAnalytics::setBackendIfNone(std::shared_ptr<TLMAnalyticsBackend> backend) {
  std::lock_guard lock(backendSwapMutex());
  if (backendSlot().get()) return false;
  backendSlot().exchange(std::move(backend));
  return true;
}

void TLMAnalytics::removeBackend(const std::shared_ptr<TLMAnalyticsBackend>& backend) {
  std::lock_guard lock(backendSwapMutex());
  if (backendSlot().get() == backend) backendSlot().exchange(nullptr);
}

void TLMAnalytics::trackEvent(std::string_view name, const TLMEventProperties& properties,
                              std::uint64_t flags) {
  TLMAnalyticsService::sharedInstance()->trackEvent(std::string(name), properties, flags);
}

void TLMAnalytics::trackEvent(std::string_view name,
                              const std::map<std::string, std::string>& properties,
                              std::uint64_t flags) {
  TLMAnalyticsService::sharedInstance()->trackEvent(std::string(name), properties, flags);
}

void TLMAnalytics::trackEvent(std::string_view name,
                              const std::optional<TLMEventProperties>& properties,
                              const std::shared_ptr<TLMAnalyticsTransmissionTarget>& target,
                              std::uint64_t flags) {
  TLMAnalyticsService::sharedInstance()->trackEvent(std::string(name), properties, target, flags);
}

void TLMAnalytics::trackPage(std::string_view name,
                             const std::optional<std::map<std::string, std::string>>& properties) {
  TLMAnalyticsService::sharedInstance()->trackPage(std::string(name), properties);
}

void TLMAnalytics::pause() {
  TLMAnalyticsService::sharedInstance()->pause();
}

void TLMAnalytics::resume() {
  TLMAnalyticsService::sharedInstance()->resume();
}

std::uint64_t TLMAnalytics::transmissionInterval() {
  return TLMAnalyticsService::sharedInstance()->flushInterval();
}

void TLMAnalytics::setTransmissionInterval(std::uint64_t seconds) {
  TLMAnalyticsService::sharedInstance()->setTransmissionInterval(seconds);
}

void TLMAnalytics::setDelegate(std::optional<TLMAnalyticsDelegate> delegate) {
  TLMAnalyticsService::sharedInstance()->setDelegate(std::move(delegate));
}

void TLMAnalytics::setAutoPageTrackingEnabled(bool enabled) {
  TLMAnalyticsService::sharedInstance()->setAutoPageTrackingEnabled(enabled);
}

bool TLMAnalytics::isAutoPageTrackingEnabled() {
  return TLMAnalyticsService::sharedInstance()->isAutoPageTrackingEnabled();
}

std::shared_ptr<TLMAnalyticsTransmissionTarget> TLMAnalytics::transmissionTargetForToken(
    const std::string& token) {
  return TLMAnalyticsService::sharedInstance()->transmissionTargetForToken(token);
}

void TLMAnalytics::pauseTransmissionTargetForToken(const std::string& token) {
  TLMAnalyticsService::sharedInstance()->pauseTransmissionTargetForToken(token);
}

void TLMAnalytics::resumeTransmissionTargetForToken(const std::string& token) {
  TLMAnalyticsService::sharedInstance()->resumeTransmissionTargetForToken(token);
}

void TLMAnalytics::resetSharedInstance() {
  TLMAnalyticsService::resetSharedInstance();
}

}  // namespace tlm

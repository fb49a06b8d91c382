#include "telemetry/analytics/analytics.h"

#include <utility>

#include "base/shared_slot.h"
#include "telemetry/core/logger.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

base::SharedSlot<TLMAnalyticsBackend>& backendSlot() {
  static base::SharedSlot<TLMAnalyticsBackend> slot;
  return slot;
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
  return backendSlot().exchange(std::move(backend));
}

}  // namespace tlm

#include "telemetry/sdk/service_class.h"

#include <mutex>
#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/daraveved_instance.h"
#include "telemetry/sdk/service_abstract.h"

namespace tlm {

TLMServiceClass::TLMServiceClass(std::string className, SharedInstance sharedInstance)
    : className_(std::move(className)), sharedInstance_(std::move(sharedInstance)) {}

std::string_view TLMServiceClass::className() const {
  return isNil() ? std::string_view("(null)") : std::string_view(className_);
}

std::shared_ptr<TLMServiceAbstract> TLMServiceClass::sharedInstance() const {
  return isNil() ? nullptr : sharedInstance_();
}

std::string TLMServiceClass::serviceName() const {
  const auto service = sharedInstance();
  return service ? std::string(service->serviceName()) : std::string();
}

// The SDK's state is read before the service's monitor is taken, never while
// holding it: the SDK holds its own lock while it switches its services, so
// asking it under the service's monitor could deadlock against that cascade.
// On the cascading thread the SDK's lock is re-entered; another thread that
// asks during a cascade waits for it to end and sees its outcome.
void TLMServiceClass::setEnabled(bool enabled) const {
  const auto service = sharedInstance();
  if (!service) return;
  bool sdkAllows = false;
  {
    const auto sdk = TLMDarAveved::sharedInstance();
    std::lock_guard sdkLock(sdk->monitor());
    sdkAllows = sdk->isEnabled() || sdk->isEnabledStateUpdating();
  }
  std::lock_guard lock(service->monitor());
  if (!service->canBeUsed()) return;
  if (!sdkAllows) {
    TLM_LOG_ERROR(kTLMLogTag,
                  "The SDK is disabled. Re-enable the whole SDK from DarAveved first before "
                  "enabling ",
                  service->serviceName(), " service.");
    return;
  }
  service->setEnabled(enabled);
}

bool TLMServiceClass::isEnabled() const {
  const auto service = sharedInstance();
  if (!service) return false;
  std::lock_guard lock(service->monitor());
  return service->canBeUsed() && service->isEnabled();
}

}  // namespace tlm

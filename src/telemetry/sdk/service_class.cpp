#include "telemetry/sdk/service_class.h"

namespace tlm {

std::string_view serviceName(TLMServiceClass service) {
  switch (service) {
    case TLMServiceClass::Analytics:
      return "Analytics";
    case TLMServiceClass::Crashes:
      return "Crashes";
  }
  return {};
}

std::string_view className(TLMServiceClass service) {
  switch (service) {
    case TLMServiceClass::Analytics:
      return "TLMAnalytics";
    case TLMServiceClass::Crashes:
      return "TLMCrashes";
  }
  return {};
}

std::int64_t initializationPriority(TLMServiceClass service) {
  return service == TLMServiceClass::Crashes ? 999 : 500;
}

}  // namespace tlm

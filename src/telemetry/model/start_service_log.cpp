#include "telemetry/model/start_service_log.h"

namespace tlm {

nlohmann::ordered_json TLMStartServiceLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractLog::serializeToDictionary();
  if (services) dict["services"] = *services;
  return dict;
}

bool TLMStartServiceLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMStartServiceLog*>(&other);
  return log && TLMAbstractLog::isEqual(other) && services == log->services;
}

void TLMStartServiceLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  coder.encodeStringArray("services", services);
}

void TLMStartServiceLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  services = coder.decodeStringArray("services");
}

}  // namespace tlm

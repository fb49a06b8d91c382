#include "telemetry/model/start_service_log.h"

#include "telemetry/model/field_table.h"

namespace tlm {

namespace {

const fields::Table& startServiceLogFields() {
  using R = TLMStartServiceLog;
  static const fields::Table table{
      fields::field<R, &R::services, fields::TextList>("services"),
  };
  return table;
}

}  // namespace

nlohmann::ordered_json TLMStartServiceLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractLog::serializeToDictionary();
  fields::addToJson(*this, startServiceLogFields(), dict);
  return dict;
}

bool TLMStartServiceLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMStartServiceLog*>(&other);
  return log && TLMAbstractLog::isEqual(other) &&
         fields::areEqual(*this, *log, startServiceLogFields());
}

void TLMStartServiceLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  fields::encode(*this, startServiceLogFields(), coder);
}

void TLMStartServiceLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  fields::decode(*this, startServiceLogFields(), coder);
}

}  // namespace tlm

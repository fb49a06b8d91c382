#include "telemetry/model/abstract_log.h"

#include "telemetry/core/json_text.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/field_table.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/model/typed_property.h"

namespace tlm {

using fields::field;
using fields::requiredTraits;

namespace {

// The members every log has, in the order of their JSON members and archive
// keys; validity checks the required ones in the same order. The tag is
// compared by identity only.
const fields::Table& abstractLogFields() {
  using R = TLMAbstractLog;
  static const fields::Table table{
      field<R, &R::type, fields::Text>("type", requiredTraits),
      field<R, &R::timestamp, fields::Time>("timestamp", requiredTraits),
      field<R, &R::sid, fields::Text>("sid"),
      field<R, &R::distributionGroupId, fields::Text>("distributionGroupId"),
      field<R, &R::userId, fields::Text>("userId"),
      field<R, &R::device, fields::ValidRecord<TLMDevice>>("device", requiredTraits),
      field<R, &R::tag, fields::SameObject<void>>("tag", fields::compared),
  };
  return table;
}

const fields::Table& logWithPropertiesFields() {
  using R = TLMLogWithProperties;
  static const fields::Table table{
      field<R, &R::properties, fields::NonEmptyTextMap>("properties"),
  };
  return table;
}

}  // namespace

std::set<std::string> TLMAbstractLog::transmissionTargetTokens() const {
  std::lock_guard lock(tokensMutex_);
  return tokens_;
}

void TLMAbstractLog::setTransmissionTargetTokens(std::set<std::string> tokens) {
  std::lock_guard lock(tokensMutex_);
  tokens_ = std::move(tokens);
}

void TLMAbstractLog::addTransmissionTargetToken(const std::string& token) {
  std::lock_guard lock(tokensMutex_);
  tokens_.insert(token);
}

nlohmann::ordered_json TLMAbstractLog::serializeToDictionary() const {
  return fields::toJson(*this, abstractLogFields());
}

bool TLMAbstractLog::isValid() const {
  return fields::areValid(*this, abstractLogFields(), className());
}

bool TLMAbstractLog::isEqual(const TLMAbstractLog& other) const {
  return fields::areEqual(*this, other, abstractLogFields());
}

std::optional<std::string> TLMAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  return jsonText(serializeToDictionary(), prettyPrint);
}

void TLMAbstractLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, abstractLogFields(), coder);
}

void TLMAbstractLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, abstractLogFields(), coder);
}

nlohmann::ordered_json TLMLogWithProperties::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractLog::serializeToDictionary();
  fields::addToJson(*this, logWithPropertiesFields(), dict);
  return dict;
}

bool TLMLogWithProperties::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMLogWithProperties*>(&other);
  return log && TLMAbstractLog::isEqual(other) &&
         fields::areEqual(*this, *log, logWithPropertiesFields());
}

void TLMLogWithProperties::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  fields::encode(*this, logWithPropertiesFields(), coder);
}

void TLMLogWithProperties::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  fields::decode(*this, logWithPropertiesFields(), coder);
}

void registerLogModelArchiveClasses() {
  registerArchiveClass<TLMWrapperSdk>("TLMWrapperSdk");
  registerArchiveClass<TLMDevice>("TLMDevice");
  registerArchiveClass<TLMAbstractLog>("TLMAbstractLog");
  registerArchiveClass<TLMLogWithProperties>("TLMLogWithProperties");
  registerArchiveClass<TLMStartServiceLog>("TLMStartServiceLog");
  registerArchiveClass<TLMCustomPropertiesLog>("TLMCustomPropertiesLog");
  registerArchiveClass<TLMStringTypedProperty>("TLMStringTypedProperty");
  registerArchiveClass<TLMLongTypedProperty>("TLMLongTypedProperty");
  registerArchiveClass<TLMDoubleTypedProperty>("TLMDoubleTypedProperty");
  registerArchiveClass<TLMBooleanTypedProperty>("TLMBooleanTypedProperty");
  registerArchiveClass<TLMDateTimeTypedProperty>("TLMDateTimeTypedProperty");
}

namespace {
// Any program that uses a log links this file, so every model class is
// decodable before the first archive is read.
[[maybe_unused]] const bool kLogModelRegistered = (registerLogModelArchiveClasses(), true);
}  // namespace

}  // namespace tlm

#include "telemetry/model/abstract_log.h"

#include "telemetry/core/json_text.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/model_util.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/model/typed_property.h"

namespace tlm {

using model_detail::putIfSet;

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
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putIfSet(dict, "type", type);
  putIfSet(dict, "timestamp", timestamp);
  putIfSet(dict, "sid", sid);
  putIfSet(dict, "distributionGroupId", distributionGroupId);
  putIfSet(dict, "userId", userId);
  if (device) dict["device"] = device->serializeToDictionary();
  return dict;
}

bool TLMAbstractLog::isValid() const {
  const char* failed = nullptr;
  if (!type) {
    failed = "type";
  } else if (!timestamp) {
    failed = "timestamp";
  } else if (!device || !device->isValid()) {
    failed = "device";
  }
  if (failed) model_detail::logInvalidField(className(), failed);
  return failed == nullptr;
}

bool TLMAbstractLog::isEqual(const TLMAbstractLog& other) const {
  const bool sameDevice =
      (!device && !other.device) || (device && other.device && device->isEqual(*other.device));
  return tag == other.tag && type == other.type && timestamp == other.timestamp &&
         sid == other.sid && distributionGroupId == other.distributionGroupId &&
         userId == other.userId && sameDevice;
}

std::optional<std::string> TLMAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  return jsonText(serializeToDictionary(), prettyPrint);
}

void TLMAbstractLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeString("type", type);
  coder.encodeDate("timestamp", timestamp);
  coder.encodeString("sid", sid);
  coder.encodeString("distributionGroupId", distributionGroupId);
  coder.encodeString("userId", userId);
  coder.encodeObject("device", device.get());
}

void TLMAbstractLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  type = coder.decodeString("type");
  timestamp = coder.decodeDate("timestamp");
  sid = coder.decodeString("sid");
  distributionGroupId = coder.decodeString("distributionGroupId");
  userId = coder.decodeString("userId");
  device = coder.decodeObjectOf<TLMDevice>("device");
}

nlohmann::ordered_json TLMLogWithProperties::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractLog::serializeToDictionary();
  if (properties && !properties->empty()) dict["properties"] = *properties;
  return dict;
}

bool TLMLogWithProperties::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMLogWithProperties*>(&other);
  return log && TLMAbstractLog::isEqual(other) && properties == log->properties;
}

void TLMLogWithProperties::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  coder.encodeStringMap("properties", properties);
}

void TLMLogWithProperties::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  properties = coder.decodeStringMap("properties");
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

#include "telemetry/schema/common_schema_log.h"

#include "telemetry/model/model_util.h"
#include "telemetry/schema/cs_fields.h"

namespace tlm {

using cs_detail::coded;
using cs_detail::compared;
using cs_detail::field;
using cs_detail::inJson;
using cs_detail::required;

namespace {

using R = TLMCommonSchemaLog;

// JSON order first; "time" is the base timestamp, which the base archives and
// compares, and popSample and cV are never written to JSON.
const std::vector<cs_detail::Field>& logFields() {
  static const std::vector<cs_detail::Field> table{
      field<R, &R::ver>("ver", inJson | coded | compared | required),
      field<R, &R::name>("name", inJson | coded | compared | required),
      field<R, &R::timestamp>("timestamp", "time", inJson),
      field<R, &R::popSample>("popSample", coded | compared),
      field<R, &R::iKey>("iKey"),
      field<R, &R::flags>("flags"),
      field<R, &R::cV>("cV", coded | compared),
      field<R, &R::ext>("ext"),
      field<R, &R::data>("data"),
  };
  return table;
}

}  // namespace

nlohmann::ordered_json TLMCommonSchemaLog::serializeToDictionary() const {
  return fields::toJson(*this, logFields());
}

bool TLMCommonSchemaLog::isValid() const {
  if (!timestamp) {
    model_detail::logInvalidField(className(), "timestamp");
    return false;
  }
  for (const auto& f : logFields()) {
    if ((f.traits & required) && !f.isSet(*this)) {
      model_detail::logInvalidField(className(), f.property);
      return false;
    }
  }
  return true;
}

bool TLMCommonSchemaLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMCommonSchemaLog*>(&other);
  return log && TLMAbstractLog::isEqual(other) && fields::areEqual(*this, other, logFields());
}

std::vector<std::string> TLMCommonSchemaLog::ticketKeys() const {
  if (!ext || !ext->protocolExt || !ext->protocolExt->ticketKeys) return {};
  return *ext->protocolExt->ticketKeys;
}

void TLMCommonSchemaLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  fields::encode(*this, logFields(), coder);
}

void TLMCommonSchemaLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  fields::decode(*this, logFields(), coder);
}

void registerCommonSchemaArchiveClasses() {
  registerArchiveClass<TLMCommonSchemaLog>("TLMCommonSchemaLog");
  registerArchiveClass<TLMCSExtensions>("TLMCSExtensions");
  registerArchiveClass<TLMMetadataExtension>("TLMMetadataExtension");
  registerArchiveClass<TLMProtocolExtension>("TLMProtocolExtension");
  registerArchiveClass<TLMUserExtension>("TLMUserExtension");
  registerArchiveClass<TLMDeviceExtension>("TLMDeviceExtension");
  registerArchiveClass<TLMOSExtension>("TLMOSExtension");
  registerArchiveClass<TLMAppExtension>("TLMAppExtension");
  registerArchiveClass<TLMNetExtension>("TLMNetExtension");
  registerArchiveClass<TLMSDKExtension>("TLMSDKExtension");
  registerArchiveClass<TLMLocExtension>("TLMLocExtension");
  registerArchiveClass<TLMCSData>("TLMCSData");
}

namespace {
// Whoever makes or stores common-schema logs links this file, so they are
// decodable before the first archive is read.
[[maybe_unused]] const bool kRegistered = (registerCommonSchemaArchiveClasses(), true);
}  // namespace

}  // namespace tlm

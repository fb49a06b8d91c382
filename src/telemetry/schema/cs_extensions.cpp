#include "telemetry/schema/cs_extensions.h"

#include "telemetry/schema/cs_fields.h"

namespace tlm {

using cs_detail::field;

namespace {
constexpr std::string_view kRootKey = "$root";
}  // namespace

const TLMCSFieldTable& TLMProtocolExtension::fieldTable() const {
  using R = TLMProtocolExtension;
  static const TLMCSFieldTable table{{
      field<R, &R::ticketKeys>("ticketKeys"),
      field<R, &R::devMake>("devMake"),
      field<R, &R::devModel>("devModel"),
  }};
  return table;
}

const TLMCSFieldTable& TLMUserExtension::fieldTable() const {
  using R = TLMUserExtension;
  static const TLMCSFieldTable table{{
      field<R, &R::localId>("localId"),
      field<R, &R::locale>("locale"),
  }};
  return table;
}

const TLMCSFieldTable& TLMDeviceExtension::fieldTable() const {
  using R = TLMDeviceExtension;
  static const TLMCSFieldTable table{{field<R, &R::localId>("localId")}};
  return table;
}

const TLMCSFieldTable& TLMOSExtension::fieldTable() const {
  using R = TLMOSExtension;
  static const TLMCSFieldTable table{{
      field<R, &R::name>("name"),
      field<R, &R::ver>("ver"),
  }};
  return table;
}

const TLMCSFieldTable& TLMAppExtension::fieldTable() const {
  using R = TLMAppExtension;
  static const TLMCSFieldTable table{{
      field<R, &R::appId>("appId", "id"),
      field<R, &R::ver>("ver"),
      field<R, &R::name>("name"),
      field<R, &R::locale>("locale"),
      field<R, &R::userId>("userId"),
  }};
  return table;
}

const TLMCSFieldTable& TLMNetExtension::fieldTable() const {
  using R = TLMNetExtension;
  static const TLMCSFieldTable table{{field<R, &R::provider>("provider")}};
  return table;
}

const TLMCSFieldTable& TLMSDKExtension::fieldTable() const {
  using R = TLMSDKExtension;
  static const TLMCSFieldTable table{{
      field<R, &R::libVer>("libVer"),
      field<R, &R::epoch>("epoch"),
      field<R, &R::seq>("seq"),
      field<R, &R::installId, cs_detail::UuidText>("installId"),
  }};
  return table;
}

const TLMCSFieldTable& TLMLocExtension::fieldTable() const {
  using R = TLMLocExtension;
  static const TLMCSFieldTable table{{field<R, &R::tz>("tz")}};
  return table;
}

const TLMCSFieldTable& TLMCSExtensions::fieldTable() const {
  using R = TLMCSExtensions;
  static const TLMCSFieldTable table{{
      field<R, &R::metadataExt>("metadataExt", "metadata"),
      field<R, &R::protocolExt>("protocolExt", "protocol"),
      field<R, &R::userExt>("userExt", "user"),
      field<R, &R::deviceExt>("deviceExt", "device"),
      field<R, &R::osExt>("osExt", "os"),
      field<R, &R::appExt>("appExt", "app"),
      field<R, &R::netExt>("netExt", "net"),
      field<R, &R::sdkExt>("sdkExt", "sdk"),
      field<R, &R::locExt>("locExt", "loc"),
  }};
  return table;
}

std::optional<nlohmann::ordered_json> TLMCSExtensions::serializeToDictionary() const {
  return fields::toJson(*this, fieldTable().fields);
}

// ---- metadata extension ----

std::optional<nlohmann::ordered_json> TLMMetadataExtension::metadata() const {
  std::lock_guard lock(mutex_);
  return metadata_;
}

void TLMMetadataExtension::setMetadata(std::optional<nlohmann::ordered_json> metadata) {
  if (metadata && !metadata->is_object()) metadata.reset();
  std::lock_guard lock(mutex_);
  metadata_ = std::move(metadata);
}

std::optional<nlohmann::ordered_json> TLMMetadataExtension::serializeToDictionary() const {
  return metadata();
}

bool TLMMetadataExtension::isEqual(const TLMCSModel& other) const {
  const auto* o = dynamic_cast<const TLMMetadataExtension*>(&other);
  return o && cs_detail::sameContent(metadata(), o->metadata());
}

void TLMMetadataExtension::encodeWithCoder(TLMKeyedArchiver& coder) const {
  cs_detail::encodeJsonObject(coder, kRootKey, metadata());
}

void TLMMetadataExtension::initWithCoder(const TLMKeyedUnarchiver& coder) {
  setMetadata(cs_detail::decodeJsonObject(coder, kRootKey));
}

// ---- data ----

std::optional<nlohmann::ordered_json> TLMCSData::properties() const {
  std::lock_guard lock(mutex_);
  return properties_;
}

void TLMCSData::setProperties(std::optional<nlohmann::ordered_json> properties) {
  if (properties && !properties->is_object()) properties.reset();
  std::lock_guard lock(mutex_);
  properties_ = std::move(properties);
}

std::optional<nlohmann::ordered_json> TLMCSData::serializeToDictionary() const {
  auto properties = this->properties();
  if (!properties) return std::nullopt;
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  for (const char* first : {"baseType", "baseData"}) {
    if (auto it = properties->find(first); it != properties->end()) dict[first] = *it;
  }
  for (auto& [key, value] : properties->items()) {
    if (!dict.contains(key)) dict[key] = value;
  }
  return dict;
}

bool TLMCSData::isEqual(const TLMCSModel& other) const {
  const auto* o = dynamic_cast<const TLMCSData*>(&other);
  return o && cs_detail::sameContent(properties(), o->properties());
}

void TLMCSData::encodeWithCoder(TLMKeyedArchiver& coder) const {
  cs_detail::encodeJsonObject(coder, kRootKey, properties());
}

void TLMCSData::initWithCoder(const TLMKeyedUnarchiver& coder) {
  setProperties(cs_detail::decodeJsonObject(coder, kRootKey));
}

}  // namespace tlm

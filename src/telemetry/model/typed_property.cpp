#include "telemetry/model/typed_property.h"

#include "telemetry/model/model_util.h"

namespace tlm {

using model_detail::putIfSet;

namespace {

// The other property as the same class as `self`, when it is one and the
// base equality holds.
template <class T>
const T* sameKind(const T& self, const TLMTypedProperty& other) {
  const auto* typed = dynamic_cast<const T*>(&other);
  return typed && self.TLMTypedProperty::isEqual(other) ? typed : nullptr;
}

}  // namespace

nlohmann::ordered_json TLMTypedProperty::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  putIfSet(dict, "type", type);
  putIfSet(dict, "name", name);
  return dict;
}

bool TLMTypedProperty::isEqual(const TLMTypedProperty& other) const {
  return type == other.type;
}

void TLMTypedProperty::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeString("type", type);
  coder.encodeString("name", name);
}

void TLMTypedProperty::initWithCoder(const TLMKeyedUnarchiver& coder) {
  type = coder.decodeString("type");
  name = coder.decodeString("name");
}

// ---- string ----

nlohmann::ordered_json TLMStringTypedProperty::serializeToDictionary() const {
  auto dict = TLMTypedProperty::serializeToDictionary();
  putIfSet(dict, "value", value);
  return dict;
}

bool TLMStringTypedProperty::isEqual(const TLMTypedProperty& other) const {
  const auto* o = sameKind(*this, other);
  return o && value == o->value;
}

void TLMStringTypedProperty::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMTypedProperty::encodeWithCoder(coder);
  coder.encodeString("value", value);
}

void TLMStringTypedProperty::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMTypedProperty::initWithCoder(coder);
  value = coder.decodeString("value");
}

// ---- long ----

nlohmann::ordered_json TLMLongTypedProperty::serializeToDictionary() const {
  auto dict = TLMTypedProperty::serializeToDictionary();
  dict["value"] = value;
  return dict;
}

bool TLMLongTypedProperty::isEqual(const TLMTypedProperty& other) const {
  const auto* o = sameKind(*this, other);
  return o && value == o->value;
}

void TLMLongTypedProperty::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMTypedProperty::encodeWithCoder(coder);
  coder.encodeInt64("value", value);
}

void TLMLongTypedProperty::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMTypedProperty::initWithCoder(coder);
  value = coder.decodeInt64("value").value_or(0);
}

// ---- double ----

nlohmann::ordered_json TLMDoubleTypedProperty::serializeToDictionary() const {
  auto dict = TLMTypedProperty::serializeToDictionary();
  dict["value"] = value;
  return dict;
}

bool TLMDoubleTypedProperty::isEqual(const TLMTypedProperty& other) const {
  const auto* o = sameKind(*this, other);
  return o && value == o->value;
}

void TLMDoubleTypedProperty::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMTypedProperty::encodeWithCoder(coder);
  coder.encodeDouble("value", value);
}

void TLMDoubleTypedProperty::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMTypedProperty::initWithCoder(coder);
  value = coder.decodeDouble("value").value_or(0);
}

// ---- boolean ----

nlohmann::ordered_json TLMBooleanTypedProperty::serializeToDictionary() const {
  auto dict = TLMTypedProperty::serializeToDictionary();
  dict["value"] = value;
  return dict;
}

bool TLMBooleanTypedProperty::isEqual(const TLMTypedProperty& other) const {
  const auto* o = sameKind(*this, other);
  return o && value == o->value;
}

void TLMBooleanTypedProperty::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMTypedProperty::encodeWithCoder(coder);
  coder.encodeBool("value", value);
}

void TLMBooleanTypedProperty::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMTypedProperty::initWithCoder(coder);
  value = coder.decodeBool("value").value_or(false);
}

// ---- date-time ----

nlohmann::ordered_json TLMDateTimeTypedProperty::serializeToDictionary() const {
  auto dict = TLMTypedProperty::serializeToDictionary();
  putIfSet(dict, "value", value);
  return dict;
}

bool TLMDateTimeTypedProperty::isEqual(const TLMTypedProperty& other) const {
  const auto* o = sameKind(*this, other);
  return o && value == o->value;
}

void TLMDateTimeTypedProperty::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMTypedProperty::encodeWithCoder(coder);
  coder.encodeDate("value", value);
}

void TLMDateTimeTypedProperty::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMTypedProperty::initWithCoder(coder);
  value = coder.decodeDate("value");
}

namespace {
[[maybe_unused]] const bool kTypedPropertiesRegistered = [] {
  registerArchiveClass<TLMStringTypedProperty>("TLMStringTypedProperty");
  registerArchiveClass<TLMLongTypedProperty>("TLMLongTypedProperty");
  registerArchiveClass<TLMDoubleTypedProperty>("TLMDoubleTypedProperty");
  registerArchiveClass<TLMBooleanTypedProperty>("TLMBooleanTypedProperty");
  registerArchiveClass<TLMDateTimeTypedProperty>("TLMDateTimeTypedProperty");
  return true;
}();
}  // namespace

}  // namespace tlm

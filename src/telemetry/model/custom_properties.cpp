#include "telemetry/model/custom_properties.h"

#include <cmath>

#include "base/utf8.h"
#include "telemetry/core/logger.h"
#include "telemetry/model/model_util.h"

namespace tlm {
namespace {

bool matchesKeyPattern(std::string_view key) {
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (key.empty() || !isLetter(key.front())) return false;
  for (char c : key.substr(1)) {
    if (!isLetter(c) && !isDigit(c)) return false;
  }
  return true;
}

TLMArchiveValue toArchiveValue(const TLMCustomPropertyValue& value) {
  return std::visit(
      [](const auto& v) -> TLMArchiveValue {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, TLMCustomPropertyClear>) {
          return TLMArchiveNull{};
        } else {
          return v;
        }
      },
      value);
}

std::optional<TLMCustomPropertyValue> fromArchiveValue(const TLMArchiveValue& value) {
  return std::visit(
      [](const auto& v) -> std::optional<TLMCustomPropertyValue> {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, TLMArchiveNull>) {
          return TLMCustomPropertyClear{};
        } else if constexpr (std::is_same_v<V, base::Bytes>) {
          return std::nullopt;
        } else {
          return v;
        }
      },
      value);
}

}  // namespace

// ---- log ----

std::optional<nlohmann::ordered_json> TLMCustomPropertiesLog::serializeProperty(
    const TLMCustomPropertyValue& value) {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  std::visit(
      [&](const auto& v) {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, TLMCustomPropertyClear>) {
          dict["type"] = "clear";
        } else if constexpr (std::is_same_v<V, bool>) {
          dict["type"] = "boolean";
          dict["value"] = v;
        } else if constexpr (std::is_same_v<V, std::int64_t> || std::is_same_v<V, double>) {
          dict["type"] = "number";
          dict["value"] = v;
        } else if constexpr (std::is_same_v<V, Date>) {
          dict["type"] = "dateTime";
          dict["value"] = dateToISO8601(v);
        } else {
          dict["type"] = "string";
          dict["value"] = v;
        }
      },
      value);
  return dict;
}

nlohmann::ordered_json TLMCustomPropertiesLog::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMAbstractLog::serializeToDictionary();
  if (properties) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto& [key, value] : *properties) {
      if (auto property = serializeProperty(value)) {
        (*property)["name"] = key;
        array.push_back(std::move(*property));
      }
    }
    dict["properties"] = std::move(array);
  }
  return dict;
}

bool TLMCustomPropertiesLog::isValid() const {
  if (!TLMAbstractLog::isValid()) return false;
  if (!properties || properties->empty()) {
    model_detail::logInvalidField(className(), "properties");
    return false;
  }
  return true;
}

bool TLMCustomPropertiesLog::isEqual(const TLMAbstractLog& other) const {
  const auto* log = dynamic_cast<const TLMCustomPropertiesLog*>(&other);
  return log && TLMAbstractLog::isEqual(other) && properties == log->properties;
}

void TLMCustomPropertiesLog::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMAbstractLog::encodeWithCoder(coder);
  // The type goes a second time under its own key; readers take it from there.
  coder.encodeString("customProperties", type);
  std::optional<std::map<std::string, TLMArchiveValue>> archived;
  if (properties) {
    archived.emplace();
    for (const auto& [key, value] : *properties)
      archived->emplace(key, toArchiveValue(value));
  }
  coder.encodeValueMap("properties", archived);
}

void TLMCustomPropertiesLog::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMAbstractLog::initWithCoder(coder);
  type = coder.decodeString("customProperties");
  properties.reset();
  if (auto archived = coder.decodeValueMap("properties")) {
    properties.emplace();
    for (const auto& [key, value] : *archived) {
      if (auto v = fromArchiveValue(value)) properties->emplace(key, std::move(*v));
    }
  }
}

// ---- builder ----

TLMCustomProperties& TLMCustomProperties::setString(std::string value, std::string_view key) {
  return set(std::move(value), key);
}

TLMCustomProperties& TLMCustomProperties::setNumber(std::int64_t value, std::string_view key) {
  return set(value, key);
}

TLMCustomProperties& TLMCustomProperties::setNumber(double value, std::string_view key) {
  return set(value, key);
}

TLMCustomProperties& TLMCustomProperties::setBool(bool value, std::string_view key) {
  return set(value, key);
}

TLMCustomProperties& TLMCustomProperties::setDate(Date value, std::string_view key) {
  return set(value, key);
}

TLMCustomProperties& TLMCustomProperties::clearPropertyForKey(std::string_view key) {
  std::lock_guard lock(mutex_);
  if (isValidKeyLocked(key)) properties_[std::string(key)] = TLMCustomPropertyClear{};
  return *this;
}

TLMCustomProperties& TLMCustomProperties::set(TLMCustomPropertyValue value, std::string_view key) {
  std::lock_guard lock(mutex_);
  if (isValidKeyLocked(key) && isValidValue(value)) {
    properties_[std::string(key)] = std::move(value);
  }
  return *this;
}

TLMCustomPropertyMap TLMCustomProperties::propertiesImmutableCopy() const {
  std::lock_guard lock(mutex_);
  return properties_;
}

bool TLMCustomProperties::isValidKey(std::optional<std::string_view> key) const {
  std::lock_guard lock(mutex_);
  return isValidKeyLocked(key);
}

bool TLMCustomProperties::isValidKeyLocked(std::optional<std::string_view> key) const {
  if (!key || !matchesKeyPattern(*key)) {
    TLM_LOG_ERROR(kTLMLogTag, "Custom property \"", key.value_or(""), "\" must match \"",
                  kKeyPattern, "\"");
    return false;
  }
  if (base::utf16Length(*key) > kMaxKeyLength) {
    TLM_LOG_ERROR(kTLMLogTag, "Custom property \"", *key, "\" length cannot be longer than \"",
                  kMaxKeyLength, "\" characters.");
    return false;
  }
  if (properties_.find(std::string(*key)) != properties_.end()) {
    TLM_LOG_WARNING(kTLMLogTag, "Custom property \"", *key,
                    "\" is already set or cleared and will be overridden.");
    return true;
  }
  if (properties_.size() >= kMaxProperties) {
    TLM_LOG_ERROR(kTLMLogTag, "Custom properties cannot contain more than \"", kMaxProperties,
                  "\" items.");
    return false;
  }
  return true;
}

bool TLMCustomProperties::isValidValue(const std::optional<TLMCustomPropertyValue>& value) const {
  if (!value) {
    TLM_LOG_ERROR(kTLMLogTag, "Custom property value cannot be null, did you mean to call clear?");
    return false;
  }
  if (const auto* text = std::get_if<std::string>(&*value)) {
    if (base::utf16Length(*text) > kMaxStringValueLength) {
      TLM_LOG_ERROR(kTLMLogTag, "Custom property value length cannot be longer than \"",
                    kMaxStringValueLength, "\" characters.");
      return false;
    }
  }
  if (const auto* number = std::get_if<double>(&*value)) {
    if (!std::isfinite(*number)) {
      TLM_LOG_ERROR(kTLMLogTag, "Custom property value cannot be NaN or infinite.");
      return false;
    }
  }
  return true;
}

}  // namespace tlm

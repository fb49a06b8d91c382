#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "telemetry/core/date_text.h"
#include "telemetry/model/abstract_log.h"

namespace tlm {

// The marker of a cleared custom property.
struct TLMCustomPropertyClear {
  friend bool operator==(TLMCustomPropertyClear, TLMCustomPropertyClear) = default;
};

// A custom property value. Booleans are their own kind, apart from numbers
// (int64 and double), so they serialize as "boolean".
using TLMCustomPropertyValue =
    std::variant<TLMCustomPropertyClear, bool, std::int64_t, double, std::string, Date>;

using TLMCustomPropertyMap = std::map<std::string, TLMCustomPropertyValue>;

// Carries installation properties that the application set or cleared.
class TLMCustomPropertiesLog : public TLMAbstractLog {
 public:
  static constexpr std::string_view kType = "customProperties";

  TLMCustomPropertiesLog() { type = std::string(kType); }

  std::optional<TLMCustomPropertyMap> properties;

  // The base members, then "properties": one object per entry with "type",
  // "value" (not for a clear) and "name".
  nlohmann::ordered_json serializeToDictionary() const override;
  // Also needs at least one property.
  bool isValid() const override;
  bool isEqual(const TLMAbstractLog& other) const override;

  // {"type": "clear" | "boolean" | "number" | "dateTime" | "string", "value": ...}
  static std::optional<nlohmann::ordered_json> serializeProperty(
      const TLMCustomPropertyValue& value);

  std::string_view className() const override { return "TLMCustomPropertiesLog"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// The builder the application fills; every key and value is checked as it is
// set, so it only ever holds accepted entries. Safe to fill from several
// threads.
class TLMCustomProperties {
 public:
  static constexpr std::string_view kKeyPattern = "^[a-zA-Z][a-zA-Z0-9]*$";
  static constexpr std::size_t kMaxKeyLength = 128;
  static constexpr std::size_t kMaxProperties = 60;
  static constexpr std::size_t kMaxStringValueLength = 128;

  // Each setter stores the value only when key and value pass the checks.
  TLMCustomProperties& setString(std::string value, std::string_view key);
  TLMCustomProperties& setNumber(std::int64_t value, std::string_view key);
  TLMCustomProperties& setNumber(double value, std::string_view key);
  TLMCustomProperties& setBool(bool value, std::string_view key);
  TLMCustomProperties& setDate(Date value, std::string_view key);
  // Marks the key as cleared (sent as a clear).
  TLMCustomProperties& clearPropertyForKey(std::string_view key);

  TLMCustomPropertyMap propertiesImmutableCopy() const;

  // Key and value checks; each refusal is logged. A key already held passes
  // with a warning even when the builder is full.
  bool isValidKey(std::optional<std::string_view> key) const;
  bool isValidValue(const std::optional<TLMCustomPropertyValue>& value) const;

 private:
  TLMCustomProperties& set(TLMCustomPropertyValue value, std::string_view key);
  bool isValidKeyLocked(std::optional<std::string_view> key) const;

  mutable std::mutex mutex_;
  TLMCustomPropertyMap properties_;
};

}  // namespace tlm

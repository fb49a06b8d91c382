#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "telemetry/core/archive.h"
#include "telemetry/core/date_text.h"

namespace tlm {

// One named event property that keeps its kind. Equality compares kind and
// value, never the name.
class TLMTypedProperty : public TLMArchivable {
 public:
  std::optional<std::string> type;
  std::optional<std::string> name;

  // {"type", "name", "value"}, each only when set.
  virtual nlohmann::ordered_json serializeToDictionary() const;
  virtual bool isEqual(const TLMTypedProperty& other) const;

  std::string_view className() const override { return "TLMTypedProperty"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

inline bool operator==(const TLMTypedProperty& a, const TLMTypedProperty& b) {
  return a.isEqual(b);
}

class TLMStringTypedProperty : public TLMTypedProperty {
 public:
  TLMStringTypedProperty() { type = "string"; }
  std::optional<std::string> value;

  nlohmann::ordered_json serializeToDictionary() const override;
  bool isEqual(const TLMTypedProperty& other) const override;
  std::string_view className() const override { return "TLMStringTypedProperty"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMLongTypedProperty : public TLMTypedProperty {
 public:
  TLMLongTypedProperty() { type = "long"; }
  std::int64_t value = 0;

  nlohmann::ordered_json serializeToDictionary() const override;
  bool isEqual(const TLMTypedProperty& other) const override;
  std::string_view className() const override { return "TLMLongTypedProperty"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMDoubleTypedProperty : public TLMTypedProperty {
 public:
  TLMDoubleTypedProperty() { type = "double"; }
  double value = 0;

  nlohmann::ordered_json serializeToDictionary() const override;
  // A NaN equals nothing.
  bool isEqual(const TLMTypedProperty& other) const override;
  std::string_view className() const override { return "TLMDoubleTypedProperty"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMBooleanTypedProperty : public TLMTypedProperty {
 public:
  TLMBooleanTypedProperty() { type = "boolean"; }
  bool value = false;

  nlohmann::ordered_json serializeToDictionary() const override;
  bool isEqual(const TLMTypedProperty& other) const override;
  std::string_view className() const override { return "TLMBooleanTypedProperty"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMDateTimeTypedProperty : public TLMTypedProperty {
 public:
  TLMDateTimeTypedProperty() { type = "dateTime"; }
  // JSON keeps milliseconds; the archive keeps the full precision.
  std::optional<Date> value;

  nlohmann::ordered_json serializeToDictionary() const override;
  bool isEqual(const TLMTypedProperty& other) const override;
  std::string_view className() const override { return "TLMDateTimeTypedProperty"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

}  // namespace tlm

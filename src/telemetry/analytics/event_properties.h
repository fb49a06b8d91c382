#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tlm {

using TLMDate = std::chrono::system_clock::time_point;

// The value of a typed event property: text, date and time, signed 64-bit
// integer, floating point or boolean.
using TLMTypedValue = std::variant<std::string, TLMDate, std::int64_t, double, bool>;

// The SDK's name of a value's kind: "string", "dateTime", "long", "double", "boolean".
std::string_view typeName(const TLMTypedValue& value);

struct TLMEventProperty {
  std::string name;
  TLMTypedValue value;

  friend bool operator==(const TLMEventProperty&, const TLMEventProperty&) = default;
};

// Prints "name: type = value".
void PrintTo(const TLMEventProperty& property, std::ostream* os);

// A map from property name to typed value, in insertion order. A value set
// under a name that is already present replaces the earlier value (whatever
// its kind) and keeps its place. Setters return the receiver so that calls
// chain. Setters do not limit lengths or counts; the analytics service does
// when it tracks the event. Thread-safe: every operation holds the map's lock.
class TLMEventProperties {
 public:
  TLMEventProperties() = default;
  TLMEventProperties(const TLMEventProperties& other);
  TLMEventProperties(TLMEventProperties&& other) noexcept;
  TLMEventProperties& operator=(const TLMEventProperties& other);
  TLMEventProperties& operator=(TLMEventProperties&& other) noexcept;

  // One string property per entry, in the given order.
  static TLMEventProperties makeWithStringDictionary(
      const std::vector<std::pair<std::string, std::string>>& dictionary);

  TLMEventProperties& setString(std::string_view key, std::string_view value);
  TLMEventProperties& setDate(std::string_view key, TLMDate value);
  TLMEventProperties& setInt64(std::string_view key, std::int64_t value);
  // NaN and infinite values are logged and ignored: they have no JSON form.
  TLMEventProperties& setDouble(std::string_view key, double value);
  TLMEventProperties& setBool(std::string_view key, bool value);
  // A string literal would silently become `true`.
  TLMEventProperties& setBool(std::string_view key, const char* value) = delete;

  // Stores the property as it is: the setters' checks are the caller's.
  TLMEventProperties& setProperty(TLMEventProperty property);
  // Removes the property of that name; false when there was none.
  bool removeProperty(std::string_view key);

  // Copies every entry of `other` into this map; `other` wins on a shared name.
  void mergeEventProperties(const TLMEventProperties& other);

  // A snapshot of the properties in insertion order.
  std::vector<TLMEventProperty> properties() const;
  bool isEmpty() const;
  std::size_t size() const;

  // Equal as dictionaries: the same names with equal values, in any order.
  friend bool operator==(const TLMEventProperties& a, const TLMEventProperties& b);

 private:
  void set(std::string_view key, TLMTypedValue value);
  void setLocked(std::string_view key, TLMTypedValue value);

  mutable std::mutex mutex_;
  std::vector<TLMEventProperty> properties_;
};

}  // namespace tlm

#include "telemetry/analytics/event_properties.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "telemetry/analytics/analytics.h"
#include "telemetry/core/logger.h"

namespace tlm {

std::string_view typeName(const TLMTypedValue& value) {
  return std::visit(
      [](const auto& v) -> std::string_view {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) return "string";
        if constexpr (std::is_same_v<T, TLMDate>) return "dateTime";
        if constexpr (std::is_same_v<T, std::int64_t>) return "long";
        if constexpr (std::is_same_v<T, double>) return "double";
        if constexpr (std::is_same_v<T, bool>) return "boolean";
      },
      value);
}

void PrintTo(const TLMEventProperty& property, std::ostream* os) {
  *os << property.name << ": " << typeName(property.value) << " = ";
  std::visit(
      [os](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          *os << '"' << v << '"';
        } else if constexpr (std::is_same_v<T, TLMDate>) {
          *os << std::chrono::duration_cast<std::chrono::milliseconds>(v.time_since_epoch()).count()
              << " ms";
        } else if constexpr (std::is_same_v<T, bool>) {
          *os << (v ? "true" : "false");
        } else {
          *os << v;
        }
      },
      property.value);
}

TLMEventProperties::TLMEventProperties(const TLMEventProperties& other) {
  std::lock_guard lock(other.mutex_);
  properties_ = other.properties_;
}

TLMEventProperties::TLMEventProperties(TLMEventProperties&& other) noexcept {
  std::lock_guard lock(other.mutex_);
  properties_ = std::move(other.properties_);
  other.properties_.clear();
}

TLMEventProperties& TLMEventProperties::operator=(const TLMEventProperties& other) {
  if (this == &other) return *this;
  std::scoped_lock lock(mutex_, other.mutex_);
  properties_ = other.properties_;
  return *this;
}

TLMEventProperties& TLMEventProperties::operator=(TLMEventProperties&& other) noexcept {
  if (this == &other) return *this;
  std::scoped_lock lock(mutex_, other.mutex_);
  properties_ = std::move(other.properties_);
  other.properties_.clear();
  return *this;
}

TLMEventProperties TLMEventProperties::makeWithStringDictionary(
    const std::vector<std::pair<std::string, std::string>>& dictionary) {
  TLMEventProperties result;
  for (const auto& [key, value] : dictionary)
    result.setLocked(key, value);
  return result;
}

TLMEventProperties& TLMEventProperties::setString(std::string_view key, std::string_view value) {
  set(key, std::string(value));
  return *this;
}

TLMEventProperties& TLMEventProperties::setDate(std::string_view key, TLMDate value) {
  set(key, value);
  return *this;
}

TLMEventProperties& TLMEventProperties::setInt64(std::string_view key, std::int64_t value) {
  set(key, value);
  return *this;
}

TLMEventProperties& TLMEventProperties::setDouble(std::string_view key, double value) {
  if (!std::isfinite(value)) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "Double value for property '" + std::string(key) +
                                             "' must be finite (cannot be INFINITY or NAN).");
    return *this;
  }
  set(key, value);
  return *this;
}

TLMEventProperties& TLMEventProperties::setBool(std::string_view key, bool value) {
  set(key, value);
  return *this;
}

TLMEventProperties& TLMEventProperties::setProperty(TLMEventProperty property) {
  set(property.name, std::move(property.value));
  return *this;
}

bool TLMEventProperties::removeProperty(std::string_view key) {
  std::lock_guard lock(mutex_);
  const auto match = std::find_if(properties_.begin(), properties_.end(),
                                  [&](const TLMEventProperty& p) { return p.name == key; });
  if (match == properties_.end()) return false;
  properties_.erase(match);
  return true;
}

void TLMEventProperties::mergeEventProperties(const TLMEventProperties& other) {
  if (this == &other) return;
  const auto incoming = other.properties();
  std::lock_guard lock(mutex_);
  for (const auto& property : incoming)
    setLocked(property.name, property.value);
}

std::vector<TLMEventProperty> TLMEventProperties::properties() const {
  std::lock_guard lock(mutex_);
  return properties_;
}

bool TLMEventProperties::isEmpty() const {
  std::lock_guard lock(mutex_);
  return properties_.empty();
}

std::size_t TLMEventProperties::size() const {
  std::lock_guard lock(mutex_);
  return properties_.size();
}

bool operator==(const TLMEventProperties& a, const TLMEventProperties& b) {
  if (&a == &b) return true;
  std::scoped_lock lock(a.mutex_, b.mutex_);
  // Equal as dictionaries: the same names with equal values, in any order.
  if (a.properties_.size() != b.properties_.size()) return false;
  for (const auto& property : a.properties_) {
    const auto match =
        std::find_if(b.properties_.begin(), b.properties_.end(),
                     [&](const TLMEventProperty& p) { return p.name == property.name; });
    if (match == b.properties_.end() || match->value != property.value) return false;
  }
  return true;
}

void TLMEventProperties::set(std::string_view key, TLMTypedValue value) {
  std::lock_guard lock(mutex_);
  setLocked(key, std::move(value));
}

void TLMEventProperties::setLocked(std::string_view key, TLMTypedValue value) {
  for (auto& property : properties_) {
    if (property.name == key) {
      property.value = std::move(value);
      return;
    }
  }
  properties_.push_back(TLMEventProperty{std::string(key), std::move(value)});
}

}  // namespace tlm

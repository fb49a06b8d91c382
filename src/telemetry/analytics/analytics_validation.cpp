#include "telemetry/analytics/analytics_validation.h"

#include <memory>
#include <utility>

#include "base/utf8.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/core/logger.h"
#include "telemetry/model/property_validation.h"

namespace tlm {

bool TLMAnalyticsValidation::shouldFilterLog(const TLMLogPtr& log) {
  if (!std::dynamic_pointer_cast<TLMEventLog>(log) && !std::dynamic_pointer_cast<TLMPageLog>(log))
    return false;
  return !validateLog(static_cast<TLMLogWithNameAndProperties&>(*log));
}

bool TLMAnalyticsValidation::validateLog(TLMLogWithNameAndProperties& log) {
  const std::string type = log.type.value_or("");
  auto validName = validateEventName(log.name, type);
  if (!validName) return false;
  log.name = std::move(validName);
  if (log.properties) log.properties = validateProperties(*log.properties, *log.name, type);
  return true;
}

std::optional<std::string> TLMAnalyticsValidation::validateEventName(
    const std::optional<std::string>& name, std::string_view logType) {
  if (!name || name->empty()) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, logType, " name cannot be null or empty");
    return std::nullopt;
  }
  if (base::utf16Length(*name) > kMaxNameLength) {
    TLM_LOG_WARNING(TLMAnalytics::kLogTag, logType, " '", *name,
                    "' : name length cannot be longer than ", kMaxNameLength,
                    " characters. Name will be truncated.");
    return base::truncateUtf16(*name, kMaxNameLength);
  }
  return name;
}

std::map<std::string, std::string> TLMAnalyticsValidation::validateProperties(
    const std::map<std::string, std::string>& properties, std::string_view logName,
    std::string_view type) {
  return tlm::validateProperties(properties, logName, type);
}

TLMEventProperties TLMAnalyticsValidation::validateDarAvevedEventProperties(
    const TLMEventProperties& properties) {
  TLMEventProperties valid;
  for (const auto& property : properties.properties()) {
    if (valid.size() >= kMaxTypedProperties) {
      TLM_LOG_WARNING(TLMAnalytics::kLogTag, "Typed properties cannot contain more than ",
                      kMaxTypedProperties, " items. Skipping other properties.");
      break;
    }
    valid.setProperty(validateDarAvevedTypedProperty(property));
  }
  return valid;
}

TLMEventProperty TLMAnalyticsValidation::validateDarAvevedTypedProperty(
    const TLMEventProperty& property) {
  TLMEventProperty valid{validateDarAvevedPropertyName(property.name), property.value};
  if (const auto* text = std::get_if<std::string>(&property.value))
    valid.value = validateDarAvevedStringTypedPropertyValue(*text);
  return valid;
}

std::string TLMAnalyticsValidation::validateDarAvevedPropertyName(const std::string& key) {
  if (base::utf16Length(key) <= kMaxPropertyKeyLength) return key;
  TLM_LOG_WARNING(TLMAnalytics::kLogTag, "Typed property '", key, "': key length cannot exceed ",
                  kMaxPropertyKeyLength, " characters. Property value will be truncated.");
  return base::truncateUtf16(key, kMaxPropertyKeyLength);
}

std::string TLMAnalyticsValidation::validateDarAvevedStringTypedPropertyValue(
    const std::string& value) {
  if (base::utf16Length(value) <= kMaxStringValueLength) return value;
  TLM_LOG_WARNING(TLMAnalytics::kLogTag, "Typed property value length cannot exceed ",
                  kMaxStringValueLength, " characters. Property value will be truncated.");
  return base::truncateUtf16(value, kMaxStringValueLength);
}

}  // namespace tlm

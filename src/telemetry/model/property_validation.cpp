#include "telemetry/model/property_validation.h"

#include "base/utf8.h"
#include "telemetry/core/logger.h"

namespace tlm {

std::map<std::string, std::string> validateProperties(
    const std::map<std::string, std::string>& properties, std::string_view logName,
    std::string_view type) {
  std::map<std::string, std::string> result;
  // Named references, not a structured binding: the log macros capture them in
  // lambdas, which clang 14 does not allow for bindings.
  for (const auto& property : properties) {
    const std::string& fullKey = property.first;
    const std::string& fullValue = property.second;
    if (result.size() >= kTLMMaxPropertiesPerLog) {
      TLM_LOG_WARNING(kTLMLogTag, type, " '", logName, "' : properties cannot contain more than ",
                      kTLMMaxPropertiesPerLog, " items. Skipping other properties.");
      break;
    }
    if (fullKey.empty()) {
      TLM_LOG_WARNING(kTLMLogTag, type, " '", logName,
                      "' : a property key cannot be null or empty. Property will be skipped.");
      continue;
    }
    std::string key = fullKey;
    if (base::utf16Length(fullKey) > kTLMMaxPropertyKeyLength) {
      TLM_LOG_WARNING(kTLMLogTag, type, " '", logName, "' : property ", fullKey,
                      " : property key length cannot be longer than ", kTLMMaxPropertyKeyLength,
                      " characters. Property key will be truncated.");
      key = base::truncateUtf16(fullKey, kTLMMaxPropertyKeyLength);
    }
    std::string value = fullValue;
    if (base::utf16Length(fullValue) > kTLMMaxPropertyValueLength) {
      TLM_LOG_WARNING(kTLMLogTag, type, " '", logName, "' : property '", key,
                      "' : property value cannot be longer than ", kTLMMaxPropertyValueLength,
                      " characters. Property value will be truncated.");
      value = base::truncateUtf16(fullValue, kTLMMaxPropertyValueLength);
    }
    result[std::move(key)] = std::move(value);
  }
  return result;
}

}  // namespace tlm

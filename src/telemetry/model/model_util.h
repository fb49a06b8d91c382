#pragma once

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "telemetry/core/date_text.h"
#include "telemetry/core/logger.h"

namespace tlm::model_detail {

// Logs "<class>: "<field>" is not valid." at VERBOSE, the one message of a
// failed validity check.
inline void logInvalidField(std::string_view className, std::string_view field) {
  TLM_LOG_VERBOSE(kTLMLogTag, className, ": \"", field, "\" is not valid.");
}

template <class T>
void putIfSet(nlohmann::ordered_json& dict, const char* key, const std::optional<T>& value) {
  if (value) dict[key] = *value;
}

inline void putIfSet(nlohmann::ordered_json& dict, const char* key,
                     const std::optional<Date>& value) {
  if (value) dict[key] = dateToISO8601(*value);
}

}  // namespace tlm::model_detail

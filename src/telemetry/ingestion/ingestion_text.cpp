#include "telemetry/ingestion/ingestion_text.h"

#include <nlohmann/json.hpp>
#include <regex>

#include "telemetry/core/logger.h"

namespace tlm {

std::string TLMPrettyPrintJson(const std::string& json) {
  try {
    auto parsed = nlohmann::ordered_json::parse(json);
    return parsed.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const std::exception&) {
    return json;
  }
}

std::optional<std::string> TLMObfuscateString(const std::string& text, const std::string& pattern,
                                              const std::string& replacement) {
  try {
    std::regex regex(pattern, std::regex::ECMAScript | std::regex::icase);
    return std::regex_replace(text, regex, replacement);
  } catch (const std::regex_error& error) {
    TLM_LOG(TLMLogLevel::Error, kTLMLogTag,
            "Couldn't create regular expression with pattern\"" + pattern + "\": " + error.what());
    return std::nullopt;
  }
}

}  // namespace tlm

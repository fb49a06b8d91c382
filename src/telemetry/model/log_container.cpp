#include "telemetry/model/log_container.h"

#include "telemetry/core/json_text.h"
#include "telemetry/core/logger.h"

namespace tlm {

std::optional<std::string> TLMLogContainer::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const auto& log : logs) {
    if (log) array.push_back(log->serializeToDictionary());
  }
  nlohmann::ordered_json container = {{"logs", std::move(array)}};
  auto text = jsonText(container, prettyPrint);
  if (!text) {
    TLM_LOG_ERROR(kTLMLogTag,
                  "Couldn't serialize log container to json: ", "the JSON writer failed");
  }
  return text;
}

bool TLMLogContainer::isValid() const {
  if (logs.empty()) {
    TLM_LOG_VERBOSE(kTLMLogTag, "TLMLogContainer: there are no logs in container.");
    return false;
  }
  for (const auto& log : logs) {
    if (!log || !log->isValid()) return false;
  }
  return true;
}

}  // namespace tlm

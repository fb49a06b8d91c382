#include "telemetry/core/json_text.h"

namespace tlm {

std::optional<std::string> jsonText(const nlohmann::ordered_json& value, bool prettyPrint) {
  try {
    return value.dump(prettyPrint ? 2 : -1, ' ', false,
                      nlohmann::ordered_json::error_handler_t::replace);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace tlm

#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace tlm {

// JSON text of `value`, compact or indented by two spaces. Invalid UTF-8 in
// strings is replaced by U+FFFD, so this never throws; slashes are never
// escaped. None only when the writer fails for another reason.
std::optional<std::string> jsonText(const nlohmann::ordered_json& value, bool prettyPrint);

}  // namespace tlm

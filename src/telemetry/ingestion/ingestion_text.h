#pragma once

#include <optional>
#include <string>

namespace tlm {

// Text helpers of the request and response logging.

// `json` pretty-printed; the text itself when it is not JSON.
std::string TLMPrettyPrintJson(const std::string& json);

// Every case-insensitive match of `pattern` in `text` replaced by `replacement`;
// nothing (logged) when the pattern does not compile.
std::optional<std::string> TLMObfuscateString(const std::string& text, const std::string& pattern,
                                              const std::string& replacement);

}  // namespace tlm

#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tlm {

inline constexpr std::size_t kTLMMaxPropertiesPerLog = 20;
inline constexpr std::size_t kTLMMaxPropertyKeyLength = 125;
inline constexpr std::size_t kTLMMaxPropertyValueLength = 125;

// The properties a log may carry: at most 20, no empty keys, keys and values
// cut to 125 UTF-16 units (never inside a surrogate pair). Each correction
// is logged at WARNING naming the log's `type` word and `logName`. When two
// keys cut to the same text, the later one (in key order) wins.
std::map<std::string, std::string> validateProperties(
    const std::map<std::string, std::string>& properties, std::string_view logName,
    std::string_view type);

}  // namespace tlm

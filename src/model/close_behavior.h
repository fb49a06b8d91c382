#pragma once

#include <optional>
#include <string_view>

#include "base/result.h"
#include "coding/codable.h"

namespace wendrix {

// What closing an application does; codes as its string.
enum class CloseBehavior { close, quit, hide, minimize };

// "close", "quit", "hide", "minimize".
std::string_view toString(CloseBehavior behavior);
// The case whose string is exactly `text`.
std::optional<CloseBehavior> closeBehaviorFromString(std::string_view text);

}  // namespace wendrix

namespace coding {

template <>
struct Codec<wendrix::CloseBehavior> {
  static Value encode(wendrix::CloseBehavior behavior) { return Value(toString(behavior)); }
  static base::Result<wendrix::CloseBehavior> decode(const Reader& reader);
};

}  // namespace coding

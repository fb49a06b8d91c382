#include "model/close_behavior.h"

#include <string>

namespace wendrix {

std::string_view toString(CloseBehavior behavior) {
  switch (behavior) {
    case CloseBehavior::close:
      return "close";
    case CloseBehavior::quit:
      return "quit";
    case CloseBehavior::hide:
      return "hide";
    case CloseBehavior::minimize:
      return "minimize";
  }
  return "hide";
}

std::optional<CloseBehavior> closeBehaviorFromString(std::string_view text) {
  for (CloseBehavior b :
       {CloseBehavior::close, CloseBehavior::quit, CloseBehavior::hide, CloseBehavior::minimize}) {
    if (toString(b) == text) return b;
  }
  return std::nullopt;
}

}  // namespace wendrix

namespace coding {

base::Result<wendrix::CloseBehavior> Codec<wendrix::CloseBehavior>::decode(const Reader& reader) {
  auto text = reader.string();
  if (!text) return text.error();
  if (auto behavior = wendrix::closeBehaviorFromString(*text)) return *behavior;
  return reader.error(ErrorCode::dataCorrupted, "unknown CloseBehavior \"" + *text + "\"");
}

}  // namespace coding

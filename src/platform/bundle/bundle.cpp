#include "platform/bundle/bundle.h"

namespace platform {

std::optional<std::string> Bundle::infoString(std::string_view key) const {
  const coding::Value* value = info.find(key);
  if (!value) return std::nullopt;
  if (const auto* s = value->getIf<std::string>()) return *s;
  return std::nullopt;
}

std::optional<bool> Bundle::infoBool(std::string_view key) const {
  const coding::Value* value = info.find(key);
  if (!value) return std::nullopt;
  if (const auto* b = value->getIf<bool>()) return *b;
  return std::nullopt;
}

}  // namespace platform

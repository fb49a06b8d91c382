#include "storage/close_behavior_storage.h"

#include <utility>

namespace wendrix {

CloseBehaviorStorage::CloseBehaviorStorage(std::shared_ptr<platform::UserDefaults> defaults,
                                           std::string key)
    : RawSettingStorage(std::move(defaults), std::move(key), &CloseBehaviorStorage::loadValue) {}

CloseBehavior CloseBehaviorStorage::loadValue(std::string_view key,
                                              const platform::UserDefaults& defaults) {
  const std::optional<coding::Value> stored = defaults.get(key);
  const std::string* text = stored ? stored->getIf<std::string>() : nullptr;
  if (!text) return CloseBehavior::hide;
  return closeBehaviorFromString(*text).value_or(CloseBehavior::hide);
}

base::Result<std::optional<coding::Value>> CloseBehaviorStorage::encode(
    const CloseBehavior& value) const {
  return std::optional<coding::Value>(coding::Value(toString(value)));
}

}  // namespace wendrix

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/close_behavior.h"
#include "storage/setting_storage.h"

namespace wendrix {

// The close behaviour, stored as its string ("close", "quit", "hide",
// "minimize").
class CloseBehaviorStorage : public RawSettingStorage<CloseBehavior> {
 public:
  CloseBehaviorStorage(std::shared_ptr<platform::UserDefaults> defaults, std::string key);

  // The string under `key` matched exactly against the four cases; anything
  // else (another case spelling, another type, nothing) gives `hide`.
  static CloseBehavior loadValue(std::string_view key, const platform::UserDefaults& defaults);

  base::Result<std::optional<coding::Value>> encode(const CloseBehavior& value) const override;
};

}  // namespace wendrix

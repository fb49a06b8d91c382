#pragma once

#include <memory>

#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/security/key_value_settings.h"

namespace tlm {

// The encrypter's settings in the SDK's prefixed settings store.
class TLMUserDefaultsKeyValueSettings final : public TLMKeyValueSettings {
 public:
  explicit TLMUserDefaultsKeyValueSettings(std::shared_ptr<TLMDarAvevedUserDefaults> defaults)
      : defaults_(std::move(defaults)) {}

  std::optional<std::string> stringForKey(std::string_view key) override {
    const auto value = defaults_->objectForKey(key);
    if (!value) return std::nullopt;
    const auto* text = value->getIf<std::string>();
    return text ? *text : std::string();
  }
  void setString(std::string_view key, std::string value) override {
    defaults_->setObject(coding::Value(std::move(value)), key);
  }

 private:
  std::shared_ptr<TLMDarAvevedUserDefaults> defaults_;
};

}  // namespace tlm

#include "telemetry/core/sdk_user_defaults.h"

#include "base/shared_slot.h"
#include "telemetry/core/logger.h"

namespace tlm {
namespace {

base::SharedSlot<TLMDarAvevedUserDefaults>& sharedSlot() {
  static base::SharedSlot<TLMDarAvevedUserDefaults> slot;
  return slot;
}

}  // namespace

TLMDarAvevedUserDefaults::TLMDarAvevedUserDefaults(std::shared_ptr<platform::UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

std::shared_ptr<TLMDarAvevedUserDefaults> TLMDarAvevedUserDefaults::shared() {
  return sharedSlot().getOrMake([] {
    return std::make_shared<TLMDarAvevedUserDefaults>(platform::UserDefaults::standard());
  });
}

void TLMDarAvevedUserDefaults::setSharedForTesting(
    std::shared_ptr<TLMDarAvevedUserDefaults> instance) {
  sharedSlot().exchange(std::move(instance));
}

std::string TLMDarAvevedUserDefaults::getDarAvevedKeyFrom(std::string_view key) {
  return std::string(kTLMUserDefaultsPrefix) + std::string(key);
}

std::optional<coding::Value> TLMDarAvevedUserDefaults::objectForKey(std::string_view key) const {
  return defaults_->get(getDarAvevedKeyFrom(key));
}

void TLMDarAvevedUserDefaults::setObject(coding::Value value, std::string_view key) {
  const std::string fullKey = getDarAvevedKeyFrom(key);
  if (auto status = defaults_->set(fullKey, std::move(value)); !status) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't store the setting ", fullKey, ": ",
                  status.error().description);
  }
}

void TLMDarAvevedUserDefaults::removeObjectForKey(std::string_view key) {
  const std::string fullKey = getDarAvevedKeyFrom(key);
  if (auto status = defaults_->remove(fullKey); !status) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't remove the setting ", fullKey, ": ",
                  status.error().description);
  }
}

void TLMDarAvevedUserDefaults::migrateKeys(
    const std::map<std::string, TLMMigrationOldKey>& migratedKeys, std::string_view service) {
  const std::string doneKey = "310" + std::string(service) + "UserDefaultsMigratedKey";
  if (objectForKey(doneKey)) return;
  // Log text kept word for word as specified, class names included.
  TLM_LOG_VERBOSE(kTLMLogTag, "Migrating the old NSDefaults keys to new ones.");
  for (const auto& [newKey, oldKey] : migratedKeys) {
    if (const auto* key = std::get_if<std::string>(&oldKey)) {
      swapKeys(*key, newKey, defaults_->get(*key));
      continue;
    }
    const std::string& prefix = std::get<TLMUserDefaultsPrefixKey>(oldKey).keyPrefix;
    for (const auto& key : defaults_->keys()) {
      if (key.size() < prefix.size() || key.compare(0, prefix.size(), prefix) != 0) continue;
      swapKeys(key, newKey + key.substr(prefix.size()), defaults_->get(key));
    }
  }
  setObject(true, doneKey);
}

void TLMDarAvevedUserDefaults::swapKeys(std::string_view oldKey, std::string_view newKey,
                                        const std::optional<coding::Value>& value) {
  if (!value) return;
  if (auto status = defaults_->set(newKey, *value); !status) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't migrate key ", oldKey, " -> ", newKey, ": ",
                  status.error().description);
    return;
  }
  if (auto status = defaults_->remove(oldKey); !status) {
    TLM_LOG_ERROR(kTLMLogTag, "Couldn't remove the migrated key ", oldKey, ": ",
                  status.error().description);
  }
  TLM_LOG_VERBOSE(kTLMLogTag, "Migrating key ", oldKey, " -> ", newKey);
}

}  // namespace tlm

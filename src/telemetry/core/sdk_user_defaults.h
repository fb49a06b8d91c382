#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "coding/value.h"
#include "platform/defaults/user_defaults.h"

namespace tlm {

// Every SDK setting lives in the user's defaults under this prefix.
inline constexpr std::string_view kTLMUserDefaultsPrefix = "TLDarAveved";

// In a migration map: an old key prefix rather than one old key.
struct TLMUserDefaultsPrefixKey {
  std::string keyPrefix;
};

using TLMMigrationOldKey = std::variant<std::string, TLMUserDefaultsPrefixKey>;

// The SDK's settings store: the platform's user defaults with every key
// prefixed by "TLDarAveved". Holds no state of its own.
class TLMDarAvevedUserDefaults {
 public:
  explicit TLMDarAvevedUserDefaults(std::shared_ptr<platform::UserDefaults> defaults);

  // The process-wide instance over platform::UserDefaults::standard(),
  // made on first use.
  static std::shared_ptr<TLMDarAvevedUserDefaults> shared();
  // Makes `instance` the shared one; none: the next shared() makes a new one.
  static void setSharedForTesting(std::shared_ptr<TLMDarAvevedUserDefaults> instance = nullptr);

  static std::string getDarAvevedKeyFrom(std::string_view key);

  std::optional<coding::Value> objectForKey(std::string_view key) const;
  // A write the store refuses is logged at ERROR.
  void setObject(coding::Value value, std::string_view key);
  void removeObjectForKey(std::string_view key);

  // Moves settings stored under old keys to their new keys, once per
  // service. `migratedKeys` maps each new full key (already prefixed) to its
  // old key, or to an old prefix whose keys all move under the new key.
  void migrateKeys(const std::map<std::string, TLMMigrationOldKey>& migratedKeys,
                   std::string_view service);
  // Stores `value` under `newKey` and removes `oldKey`, both unprefixed;
  // nothing for none. The old key stays when the new one cannot be stored.
  void swapKeys(std::string_view oldKey, std::string_view newKey,
                const std::optional<coding::Value>& value);

  platform::UserDefaults& standardDefaults() const { return *defaults_; }

 private:
  std::shared_ptr<platform::UserDefaults> defaults_;
};

}  // namespace tlm

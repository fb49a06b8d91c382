#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/secrets/secret_store.h"

namespace platform {

// Secrets in memory, for tests. Each kind of call can be told to fail with a
// given status, so callers' failure paths can be driven.
class MemorySecretStore final : public SecretStore {
 public:
  enum class Call { add, copy, remove, removeAll };

  SecretStatus add(std::string_view service, std::string_view account,
                   const base::Bytes& value) override;
  SecretStatus copy(std::string_view service, std::string_view account,
                    base::Bytes& value) override;
  SecretStatus remove(std::string_view service, std::string_view account) override;
  SecretStatus removeAll(std::string_view service) override;

  // Every later call of that kind answers `status` without touching the items
  // (kSecretSuccess restores normal behaviour).
  void failCalls(Call call, SecretStatus status);

  // Direct access for tests.
  std::optional<base::Bytes> item(const std::string& service, const std::string& account) const;
  void setItem(const std::string& service, const std::string& account, base::Bytes value);
  std::size_t size() const;
  int callCount(Call call) const;

 private:
  using Key = std::pair<std::string, std::string>;

  std::optional<SecretStatus> injected(Call call);

  mutable std::mutex mutex_;
  std::map<Key, base::Bytes> items_;
  std::map<Call, SecretStatus> failures_;
  std::map<Call, int> calls_;
};

}  // namespace platform

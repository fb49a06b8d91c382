#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/bytes.h"

namespace platform {

// Status codes of secret-store calls, the keychain's own numbers.
using SecretStatus = std::int32_t;
inline constexpr SecretStatus kSecretSuccess = 0;
inline constexpr SecretStatus kSecretParam = -50;  // invalid service or account
inline constexpr SecretStatus kSecretIO = -36;     // the store could not be read or written
inline constexpr SecretStatus kSecretDuplicateItem = -25299;
inline constexpr SecretStatus kSecretItemNotFound = -25300;

// Small secrets (generic passwords) kept per service and account. Every call
// answers a status; nothing throws. Implementations are safe to call from any
// thread.
class SecretStore {
 public:
  virtual ~SecretStore() = default;

  // Adds an item; kSecretDuplicateItem when the account already has one.
  virtual SecretStatus add(std::string_view service, std::string_view account,
                           const base::Bytes& value) = 0;
  // Copies an item's value into `value`; kSecretItemNotFound when absent.
  virtual SecretStatus copy(std::string_view service, std::string_view account,
                            base::Bytes& value) = 0;
  // Removes one item; kSecretItemNotFound when absent.
  virtual SecretStatus remove(std::string_view service, std::string_view account) = 0;
  // Removes every item of the service; kSecretItemNotFound when it had none.
  virtual SecretStatus removeAll(std::string_view service) = 0;
};

}  // namespace platform

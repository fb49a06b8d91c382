#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "platform/secrets/secret_store.h"

namespace tlm {

// Small secret strings in the secret store, under the SDK's own service name
// ("<bundle id>.DarAveved", the installed platform::AppIdentity's bundle id)
// unless another is given. Every outcome is logged
// with the tag "DarAveved"; nothing throws.
class TLMKeychainUtil {
 public:
  explicit TLMKeychainUtil(std::shared_ptr<platform::SecretStore> store,
                           std::string serviceName = defaultServiceName());

  // "<bundle id>.DarAveved".
  static std::string defaultServiceName();
  // The folder of the on-disk store: "$XDG_DATA_HOME/<bundle id>/keychain".
  static std::filesystem::path defaultStoreDirectory();
  // The process's keychain over the on-disk store, made on first use.
  static std::shared_ptr<TLMKeychainUtil> shared();
  // Replaces the shared keychain (none: made again on next use).
  static void setSharedForTesting(std::shared_ptr<TLMKeychainUtil> keychain = nullptr);

  // Adds the item, replacing one that exists. Answers success.
  bool storeString(std::string_view string, std::string_view key);
  bool storeString(std::string_view string, std::string_view key, std::string_view serviceName);

  // The item's text; none when it is absent, unreadable or not UTF-8. The
  // store's status goes to `statusCode` when given.
  std::optional<std::string> stringForKey(std::string_view key,
                                          platform::SecretStatus* statusCode = nullptr);
  std::optional<std::string> stringForKey(std::string_view key, std::string_view serviceName,
                                          platform::SecretStatus* statusCode);

  // Deletes the item and answers the text it held; none when there was none
  // or the deletion failed.
  std::optional<std::string> deleteStringForKey(std::string_view key);
  std::optional<std::string> deleteStringForKey(std::string_view key, std::string_view serviceName);

  // Deletes every item of the default service; answers whether that worked.
  bool clear();

  // Thin calls of the store, answering its status.
  platform::SecretStatus addSecItem(std::string_view service, std::string_view account,
                                    const base::Bytes& value);
  platform::SecretStatus deleteSecItem(std::string_view service, std::string_view account);
  platform::SecretStatus secItemCopyMatchingQuery(std::string_view service,
                                                  std::string_view account, base::Bytes& result);

  const std::string& serviceName() const { return serviceName_; }

 private:
  std::shared_ptr<platform::SecretStore> store_;
  std::string serviceName_;
};

}  // namespace tlm

#include "telemetry/security/keychain_util.h"

#include "base/shared_slot.h"
#include "base/utf8.h"
#include "platform/bundle/app_identity.h"
#include "platform/paths/paths.h"
#include "platform/secrets/file_secret_store.h"
#include "telemetry/core/logger.h"

namespace tlm {
namespace {

base::SharedSlot<TLMKeychainUtil>& sharedSlot() {
  static base::SharedSlot<TLMKeychainUtil> slot;
  return slot;
}

}  // namespace

TLMKeychainUtil::TLMKeychainUtil(std::shared_ptr<platform::SecretStore> store,
                                 std::string serviceName)
    : store_(std::move(store)), serviceName_(std::move(serviceName)) {}

std::string TLMKeychainUtil::defaultServiceName() {
  return platform::AppIdentity::current().bundleIdentifier + ".DarAveved";
}

std::filesystem::path TLMKeychainUtil::defaultStoreDirectory() {
  return platform::paths::dataHome() / platform::AppIdentity::current().bundleIdentifier /
         "keychain";
}

std::shared_ptr<TLMKeychainUtil> TLMKeychainUtil::shared() {
  return sharedSlot().getOrMake([] {
    return std::make_shared<TLMKeychainUtil>(
        std::make_shared<platform::FileSecretStore>(defaultStoreDirectory()));
  });
}

void TLMKeychainUtil::setSharedForTesting(std::shared_ptr<TLMKeychainUtil> keychain) {
  sharedSlot().exchange(std::move(keychain));
}

bool TLMKeychainUtil::storeString(std::string_view string, std::string_view key) {
  return storeString(string, key, serviceName_);
}

bool TLMKeychainUtil::storeString(std::string_view string, std::string_view key,
                                  std::string_view serviceName) {
  const base::Bytes value(string.begin(), string.end());
  auto status = addSecItem(serviceName, key, value);
  if (status == platform::kSecretDuplicateItem) {
    deleteSecItem(serviceName, key);
    status = addSecItem(serviceName, key, value);
  }
  if (status == platform::kSecretSuccess) {
    TLM_LOG_VERBOSE(kTLMLogTag, "Stored a string with key='", key, "', service='", serviceName,
                    "' to keychain.");
    return true;
  }
  TLM_LOG_WARNING(kTLMLogTag, "Failed to store item with key='", key, "', service='", serviceName,
                  "' to keychain. OS Status code ", status);
  return false;
}

std::optional<std::string> TLMKeychainUtil::stringForKey(std::string_view key,
                                                         platform::SecretStatus* statusCode) {
  return stringForKey(key, serviceName_, statusCode);
}

std::optional<std::string> TLMKeychainUtil::stringForKey(std::string_view key,
                                                         std::string_view serviceName,
                                                         platform::SecretStatus* statusCode) {
  base::Bytes data;
  const auto status = secItemCopyMatchingQuery(serviceName, key, data);
  if (statusCode) *statusCode = status;
  const std::string text(data.begin(), data.end());
  if (status == platform::kSecretSuccess && base::isValidUtf8(text)) {
    TLM_LOG_VERBOSE(kTLMLogTag, "Retrieved a string with key='", key, "', service='", serviceName,
                    "' from keychain.");
    return text;
  }
  TLM_LOG_WARNING(kTLMLogTag, "Failed to retrieve item with key='", key, "', service='",
                  serviceName, "' from keychain. OS Status code ", status);
  return std::nullopt;
}

std::optional<std::string> TLMKeychainUtil::deleteStringForKey(std::string_view key) {
  return deleteStringForKey(key, serviceName_);
}

std::optional<std::string> TLMKeychainUtil::deleteStringForKey(std::string_view key,
                                                               std::string_view serviceName) {
  auto string = stringForKey(key, serviceName, nullptr);
  if (!string) return std::nullopt;
  const auto status = deleteSecItem(serviceName, key);
  if (status == platform::kSecretSuccess) {
    TLM_LOG_VERBOSE(kTLMLogTag, "Deleted a string with key='", key, "', service='", serviceName,
                    "' from keychain.");
    return string;
  }
  TLM_LOG_WARNING(kTLMLogTag, "Failed to delete item with key='", key, "', service='", serviceName,
                  "' from keychain. OS Status code ", status);
  return std::nullopt;
}

bool TLMKeychainUtil::clear() {
  return store_->removeAll(serviceName_) == platform::kSecretSuccess;
}

platform::SecretStatus TLMKeychainUtil::addSecItem(std::string_view service,
                                                   std::string_view account,
                                                   const base::Bytes& value) {
  return store_->add(service, account, value);
}

platform::SecretStatus TLMKeychainUtil::deleteSecItem(std::string_view service,
                                                      std::string_view account) {
  return store_->remove(service, account);
}

platform::SecretStatus TLMKeychainUtil::secItemCopyMatchingQuery(std::string_view service,
                                                                 std::string_view account,
                                                                 base::Bytes& result) {
  return store_->copy(service, account, result);
}

}  // namespace tlm

#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "dispatch/clock.h"
#include "platform/crypto/aes.h"
#include "platform/crypto/random.h"
#include "telemetry/security/key_value_settings.h"
#include "telemetry/security/keychain_util.h"

namespace tlm {

// The two key tags: names of the keychain items that hold the keys.
inline constexpr std::string_view kTLEncryptionKeyTag = "kTLEncryptionKeyTag";
inline constexpr std::string_view kTLEncryptionKeyTagAlternate = "kTLEncryptionKeyTagAlternate";
// Settings key of "<current tag>/<ISO 8601 expiry>".
inline constexpr std::string_view kTLMEncryptionKeyMetadataKey = "EncryptionKeyMetadata";

// Encrypts and decrypts strings and data with AES-256-CBC (PKCS#7 padding).
// Keys are 32 random bytes kept Base64-encoded in the keychain under one of
// two tags; the tag in use switches yearly, and each piece of encrypted data
// names its tag, so older data stays readable:
//
//   "<tag>/AES/CBC/PKCS7/32" ":" <16-byte initialization vector> <cipher text>
//
// Data without that header (no ":", or a header that is not UTF-8) is the
// older layout: all cipher text, under kTLEncryptionKeyTag, with a zero vector.
//
// Failures answer none and are logged with the tag "DarAveved". Decryption
// never creates or stores a key. The collaborators must outlive the object.
class TLMEncrypter {
 public:
  static constexpr std::chrono::seconds kKeyLifetime{31536000};  // 365 days

  TLMEncrypter(TLMKeychainUtil& keychain, TLMKeyValueSettings& settings,
               const dispatch::Clock& clock, platform::RandomSource& random);

  // An encrypter over the process's own keychain and settings store, the
  // system clock and the system's random source.
  static std::unique_ptr<TLMEncrypter> makeDefault();

  // Base64 (no line breaks) of the encrypted UTF-8 bytes.
  std::optional<std::string> encryptString(std::string_view string);
  std::optional<base::Bytes> encryptData(std::span<const std::uint8_t> data);
  std::optional<std::string> decryptString(std::string_view base64);
  std::optional<base::Bytes> decryptData(std::span<const std::uint8_t> data);

  // The tag new data is encrypted with, rotating when the metadata is absent,
  // expired or cannot be read.
  std::string getCurrentKeyTag();
  // Makes `tag` current for the next 365 days. Makes no key.
  void rotateToNewKeyTag(std::string_view tag);

  // The key of a tag: cached, else from the keychain, else newly made and
  // saved when the keychain says there is none. None for a tag other than the
  // two, or when the key cannot be read, made or saved.
  std::optional<base::Bytes> getKeyWithKeyTag(std::string_view tag);
  // 32 random bytes saved under the tag; none when either step fails.
  std::optional<base::Bytes> generateAndSaveKeyWithTag(std::string_view tag);
  std::optional<base::Bytes> generateInitializationVector();

  // "<tag>/AES/CBC/PKCS7/32" as UTF-8 bytes.
  static base::Bytes getMetadataStringWithKeyTag(std::string_view tag);
  // One AES run; an empty vector means all zeros.
  static std::optional<base::Bytes> performCryptoOperation(platform::CryptOperation operation,
                                                           std::span<const std::uint8_t> input,
                                                           std::span<const std::uint8_t> iv,
                                                           std::span<const std::uint8_t> key);

 private:
  enum class Lookup { mayCreate, existingOnly };

  std::optional<base::Bytes> keyForTag(std::string_view tag, Lookup lookup);
  std::optional<base::Bytes>* cacheSlot(std::string_view tag);
  std::optional<base::Bytes> decodeKey(std::string_view tag, const std::string& text);

  // Keep the shared collaborators of `makeDefault` alive.
  std::shared_ptr<TLMKeychainUtil> ownedKeychain_;
  std::shared_ptr<TLMKeyValueSettings> ownedSettings_;

  TLMKeychainUtil& keychain_;
  TLMKeyValueSettings& settings_;
  const dispatch::Clock& clock_;
  platform::RandomSource& random_;

  std::mutex cacheMutex_;
  std::optional<base::Bytes> originalKeyData_;
  std::optional<base::Bytes> alternateKeyData_;
};

}  // namespace tlm

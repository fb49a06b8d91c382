#include "telemetry/security/encrypter.h"

#include <algorithm>

#include "base/base64.h"
#include "base/utf8.h"
#include "telemetry/core/date_text.h"
#include "telemetry/core/logger.h"
#include "telemetry/security/user_defaults_settings.h"

namespace tlm {
namespace {

constexpr std::uint8_t kSeparator = ':';

// Serialises tag rotation and key creation across every encrypter of the
// process, so two threads never make two different keys for one tag.
std::mutex& processLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

TLMEncrypter::TLMEncrypter(TLMKeychainUtil& keychain, TLMKeyValueSettings& settings,
                           const dispatch::Clock& clock, platform::RandomSource& random)
    : keychain_(keychain), settings_(settings), clock_(clock), random_(random) {}

std::unique_ptr<TLMEncrypter> TLMEncrypter::makeDefault() {
  auto keychain = TLMKeychainUtil::shared();
  auto settings =
      std::make_shared<TLMUserDefaultsKeyValueSettings>(TLMDarAvevedUserDefaults::shared());
  auto encrypter = std::make_unique<TLMEncrypter>(
      *keychain, *settings, dispatch::SystemClock::instance(), platform::SystemRandom::instance());
  encrypter->ownedKeychain_ = std::move(keychain);
  encrypter->ownedSettings_ = std::move(settings);
  return encrypter;
}

std::optional<std::string> TLMEncrypter::encryptString(std::string_view string) {
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(string.data()), string.size());
  auto encrypted = encryptData(bytes);
  if (!encrypted) return std::nullopt;
  return base::base64Encode(*encrypted);
}

std::optional<base::Bytes> TLMEncrypter::encryptData(std::span<const std::uint8_t> data) {
  const std::string tag = getCurrentKeyTag();
  const auto key = keyForTag(tag, Lookup::mayCreate);
  if (!key) return std::nullopt;
  const auto iv = generateInitializationVector();
  if (!iv) return std::nullopt;
  const auto cipher = performCryptoOperation(platform::CryptOperation::encrypt, data, *iv, *key);
  if (!cipher) return std::nullopt;

  base::Bytes out = getMetadataStringWithKeyTag(tag);
  out.push_back(kSeparator);
  out.insert(out.end(), iv->begin(), iv->end());
  out.insert(out.end(), cipher->begin(), cipher->end());
  return out;
}

std::optional<std::string> TLMEncrypter::decryptString(std::string_view base64) {
  const auto data = base::base64Decode(base64);
  if (!data) {
    // Log text kept word for word as specified, class names included.
    TLM_LOG_WARNING(kTLMLogTag, "Conversion of encrypted string to NSData failed.");
    return std::nullopt;
  }
  const auto decrypted = decryptData(*data);
  if (!decrypted) return std::nullopt;
  std::string text(decrypted->begin(), decrypted->end());
  if (!base::isValidUtf8(text)) {
    // Log text kept word for word as specified, class names included.
    TLM_LOG_WARNING(kTLMLogTag, "Converting decrypted NSData to NSString failed.");
    return std::nullopt;
  }
  return text;
}

std::optional<base::Bytes> TLMEncrypter::decryptData(std::span<const std::uint8_t> data) {
  const auto colon = std::find(data.begin(), data.end(), kSeparator);
  const std::string_view header(reinterpret_cast<const char*>(data.data()),
                                static_cast<std::size_t>(colon - data.begin()));
  if (colon == data.end() || !base::isValidUtf8(header)) {
    // The older layout: all cipher text, first key, zero vector.
    const auto key = keyForTag(kTLEncryptionKeyTag, Lookup::existingOnly);
    if (!key) return std::nullopt;
    return performCryptoOperation(platform::CryptOperation::decrypt, data, {}, *key);
  }

  const std::string_view tag = header.substr(0, header.find('/'));
  const auto rest = data.subspan(header.size() + 1);
  if (rest.size() < platform::kAesBlockSize) {
    TLM_LOG_WARNING(kTLMLogTag, "Encrypted data is too short to hold an initialization vector.");
    return std::nullopt;
  }
  const auto key = keyForTag(tag, Lookup::existingOnly);
  if (!key) return std::nullopt;
  return performCryptoOperation(platform::CryptOperation::decrypt,
                                rest.subspan(platform::kAesBlockSize),
                                rest.first(platform::kAesBlockSize), *key);
}

std::string TLMEncrypter::getCurrentKeyTag() {
  std::lock_guard lock(processLock());
  const auto metadata = settings_.stringForKey(kTLMEncryptionKeyMetadataKey);
  if (!metadata) {
    // The first key in use is the alternate one.
    rotateToNewKeyTag(kTLEncryptionKeyTagAlternate);
    return std::string(kTLEncryptionKeyTagAlternate);
  }
  const auto slash = metadata->find('/');
  const std::string tag = metadata->substr(0, slash);
  const bool knownTag = tag == kTLEncryptionKeyTag || tag == kTLEncryptionKeyTagAlternate;
  const auto expiry = slash == std::string::npos
                          ? std::nullopt
                          : dateFromISO8601(std::string_view(*metadata).substr(slash + 1));
  // Metadata that cannot be read counts as expired.
  if (knownTag && expiry && *expiry >= clock_.now()) return tag;

  const std::string_view next =
      tag == kTLEncryptionKeyTag ? kTLEncryptionKeyTagAlternate : kTLEncryptionKeyTag;
  rotateToNewKeyTag(next);
  return std::string(next);
}

void TLMEncrypter::rotateToNewKeyTag(std::string_view tag) {
  const auto expiry = clock_.now() + kKeyLifetime;
  settings_.setString(kTLMEncryptionKeyMetadataKey, std::string(tag) + "/" + dateToISO8601(expiry));
}

std::optional<base::Bytes> TLMEncrypter::getKeyWithKeyTag(std::string_view tag) {
  return keyForTag(tag, Lookup::mayCreate);
}

std::optional<base::Bytes>* TLMEncrypter::cacheSlot(std::string_view tag) {
  if (tag == kTLEncryptionKeyTag) return &originalKeyData_;
  if (tag == kTLEncryptionKeyTagAlternate) return &alternateKeyData_;
  return nullptr;
}

std::optional<base::Bytes> TLMEncrypter::keyForTag(std::string_view tag, Lookup lookup) {
  auto* slot = cacheSlot(tag);
  if (!slot) {
    TLM_LOG_WARNING(kTLMLogTag, "Unknown encryption key tag '", tag, "'.");
    return std::nullopt;
  }
  {
    std::lock_guard lock(cacheMutex_);
    if (*slot) return **slot;
  }

  platform::SecretStatus status = platform::kSecretSuccess;
  auto text = keychain_.stringForKey(tag, &status);
  std::optional<base::Bytes> key;
  if (text) {
    key = decodeKey(tag, *text);
  } else if (lookup == Lookup::mayCreate && status == platform::kSecretItemNotFound) {
    // Only a key the keychain says is missing is made: a failed read must not
    // lead to replacing a key that older data needs.
    std::lock_guard lock(processLock());
    text = keychain_.stringForKey(tag, &status);
    if (text) {
      key = decodeKey(tag, *text);
    } else if (status == platform::kSecretItemNotFound) {
      key = generateAndSaveKeyWithTag(tag);
    }
  }
  if (!key) return std::nullopt;

  std::lock_guard lock(cacheMutex_);
  *slot = key;
  return key;
}

std::optional<base::Bytes> TLMEncrypter::decodeKey(std::string_view tag, const std::string& text) {
  auto key = base::base64Decode(text);
  if (!key || key->size() != platform::kAes256KeySize) {
    TLM_LOG_ERROR(kTLMLogTag, "The stored encryption key with tag '", tag,
                  "' is not a 32-byte key.");
    return std::nullopt;
  }
  return key;
}

std::optional<base::Bytes> TLMEncrypter::generateAndSaveKeyWithTag(std::string_view tag) {
  auto key = random_.bytes(platform::kAes256KeySize);
  if (!key.ok()) {
    TLM_LOG_ERROR(kTLMLogTag, "Error generating encryption key. Error code: ", key.error().code);
    return std::nullopt;
  }
  // A key that could not be saved would leave its data unreadable after a
  // restart, so it is not used.
  if (!keychain_.storeString(base::base64Encode(*key), tag)) return std::nullopt;
  return std::move(key).value();
}

std::optional<base::Bytes> TLMEncrypter::generateInitializationVector() {
  auto iv = random_.bytes(platform::kAesBlockSize);
  if (!iv.ok()) {
    TLM_LOG_ERROR(kTLMLogTag,
                  "Error generating initialization vector. Error code: ", iv.error().code);
    return std::nullopt;
  }
  return std::move(iv).value();
}

base::Bytes TLMEncrypter::getMetadataStringWithKeyTag(std::string_view tag) {
  const std::string text = std::string(tag) + "/AES/CBC/PKCS7/32";
  return base::Bytes(text.begin(), text.end());
}

std::optional<base::Bytes> TLMEncrypter::performCryptoOperation(platform::CryptOperation operation,
                                                                std::span<const std::uint8_t> input,
                                                                std::span<const std::uint8_t> iv,
                                                                std::span<const std::uint8_t> key) {
  auto result = platform::aes256Cbc(operation, key, iv, input);
  if (!result.ok()) {
    TLM_LOG_ERROR(kTLMLogTag, "Error performing encryption or decryption.");
    return std::nullopt;
  }
  return std::move(result).value();
}

}  // namespace tlm

#include "telemetry/security/encrypter.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/base64.h"
#include "platform/crypto/fake/fake_random.h"
#include "platform/secrets/fake/memory_secret_store.h"
#include "support/scoped_app_identity.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using platform::MemorySecretStore;
using testing::LogCapture;
using Call = MemorySecretStore::Call;
using namespace std::chrono_literals;

constexpr const char* kService = "test.Wendrix.DarAveved";
constexpr std::string_view kHeaderAlternate = "kTLEncryptionKeyTagAlternate/AES/CBC/PKCS7/32:";
constexpr auto kDay = std::chrono::hours(24);

// Fixtures made with the command-line tool, key 00 01 .. 1f:
//   K=000102...1f
//   ( printf 'kTLEncryptionKeyTagAlternate/AES/CBC/PKCS7/32:'; echo 000102...0f | xxd -r -p;
//     printf '%s' "token from openssl" | openssl enc -aes-256-cbc -K $K -iv 000102...0f )
//     | base64 -w0
//   printf '%s' "legacy token" | openssl enc -aes-256-cbc -K $K -iv 000...0 | base64 -w0
constexpr const char* kKeyBase64 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
constexpr const char* kOpensslToken =
    "a1RMRW5jcnlwdGlvbktleVRhZ0FsdGVybmF0ZS9BRVMvQ0JDL1BLQ1M3LzMyOgABAgMEBQYHCAkKCwwNDg+bRzC/"
    "Y4i59SQO+tQdOKFbwjr4xfwU6t/i+N0ovdOC4A==";
constexpr const char* kOpensslLegacyToken = "9TlnR/sEKgb7tC40LbijvA==";

base::Bytes bytesOf(std::string_view text) {
  return base::Bytes(text.begin(), text.end());
}

class EncrypterTest : public ::testing::Test {
 protected:
  TLMEncrypter makeEncrypter() { return TLMEncrypter(keychain_, settings_, clock_, random_); }
  std::optional<std::string> metadata() {
    return settings_.stringForKey(kTLMEncryptionKeyMetadataKey);
  }
  std::optional<base::Bytes> storedKey(std::string_view tag) {
    return store_->item(kService, std::string(tag));
  }
  void storeKey(std::string_view tag, std::string_view base64) {
    store_->setItem(kService, std::string(tag), bytesOf(base64));
  }

  support::ScopedAppIdentity identity_;
  std::shared_ptr<MemorySecretStore> store_ = std::make_shared<MemorySecretStore>();
  TLMKeychainUtil keychain_{store_};
  TLMMemoryKeyValueSettings settings_;
  dispatch::VirtualClock clock_;
  platform::FakeRandom random_;
  LogCapture log_;
};

TEST_F(EncrypterTest, FirstEncryptionUsesTheAlternateTagAndRoundTrips) {
  auto encrypter = makeEncrypter();
  const auto encrypted = encrypter.encryptString("secret token ✓");
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(metadata(), "kTLEncryptionKeyTagAlternate/2025-05-01T10:00:00.000Z");
  EXPECT_EQ(store_->size(), 1u);
  const auto key = storedKey(kTLEncryptionKeyTagAlternate);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->size(), 44u);  // Base64 of 32 bytes

  // Header, ":", 16-byte vector, whole cipher blocks.
  const auto raw = base::base64Decode(*encrypted);
  ASSERT_TRUE(raw);
  ASSERT_GT(raw->size(), kHeaderAlternate.size() + 16);
  EXPECT_EQ(std::string(raw->begin(), raw->begin() + kHeaderAlternate.size()), kHeaderAlternate);
  EXPECT_EQ((raw->size() - kHeaderAlternate.size() - 16) % 16, 0u);

  EXPECT_EQ(encrypter.decryptString(*encrypted), "secret token ✓");
  // A second encrypter (a new process) reads the stored key.
  EXPECT_EQ(makeEncrypter().decryptString(*encrypted), "secret token ✓");
  EXPECT_EQ(makeEncrypter().decryptString(*encrypter.encryptString("")), "");
  const base::Bytes binary{0, 1, ':', 0xFF};
  EXPECT_EQ(encrypter.decryptData(*encrypter.encryptData(binary)), binary);
}

TEST_F(EncrypterTest, MatchesTheCommandLineToolsKnownAnswers) {
  storeKey(kTLEncryptionKeyTagAlternate, kKeyBase64);
  storeKey(kTLEncryptionKeyTag, kKeyBase64);
  auto encrypter = makeEncrypter();
  EXPECT_EQ(encrypter.decryptString(kOpensslToken), "token from openssl");
  // The older layout: no header, zero vector, the first tag's key.
  EXPECT_EQ(encrypter.decryptString(kOpensslLegacyToken), "legacy token");
  // With the fake source the vector is 00 01 .. 0f, as in the fixture.
  EXPECT_EQ(encrypter.encryptString("token from openssl"), kOpensslToken);
}

TEST_F(EncrypterTest, RotatesYearlyAndOlderDataStillDecrypts) {
  auto encrypter = makeEncrypter();
  const auto first = encrypter.encryptString("first year");
  ASSERT_TRUE(first);

  // On the expiry instant itself the tag still holds.
  clock_.advance(365 * kDay);
  EXPECT_EQ(encrypter.getCurrentKeyTag(), kTLEncryptionKeyTagAlternate);

  clock_.advance(1 * kDay);
  const auto second = encrypter.encryptString("second year");
  ASSERT_TRUE(second);
  EXPECT_EQ(metadata(), "kTLEncryptionKeyTag/2026-05-02T10:00:00.000Z");
  EXPECT_EQ(store_->size(), 2u);
  const auto raw = base::base64Decode(*second);
  EXPECT_EQ(std::string(raw->begin(), raw->begin() + 20), "kTLEncryptionKeyTag/");

  // A new process after the rotation reads both years.
  auto later = makeEncrypter();
  EXPECT_EQ(later.decryptString(*first), "first year");
  EXPECT_EQ(later.decryptString(*second), "second year");

  // The next rotation goes back to the alternate tag and keeps its key.
  const auto alternateKey = storedKey(kTLEncryptionKeyTagAlternate);
  clock_.advance(366 * kDay);
  const auto third = later.encryptString("third year");
  EXPECT_TRUE(metadata()->starts_with("kTLEncryptionKeyTagAlternate/"));
  EXPECT_EQ(store_->size(), 2u);
  EXPECT_EQ(storedKey(kTLEncryptionKeyTagAlternate), alternateKey);
  EXPECT_EQ(makeEncrypter().decryptString(*third), "third year");
  EXPECT_EQ(makeEncrypter().decryptString(*first), "first year");
}

TEST_F(EncrypterTest, UnreadableMetadataCountsAsExpired) {
  struct Case {
    const char* metadata;
    std::string_view expectedTag;
  };
  const Case cases[] = {
      {"", kTLEncryptionKeyTag},
      {"kTLEncryptionKeyTag", kTLEncryptionKeyTagAlternate},
      {"kTLEncryptionKeyTag/not a date", kTLEncryptionKeyTagAlternate},
      {"kTLEncryptionKeyTagAlternate/2099-13-01T00:00:00.000Z", kTLEncryptionKeyTag},
      {"someOtherTag/2099-01-01T00:00:00.000Z", kTLEncryptionKeyTag},
  };
  auto encrypter = makeEncrypter();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.metadata);
    settings_.setString(kTLMEncryptionKeyMetadataKey, c.metadata);
    EXPECT_EQ(encrypter.getCurrentKeyTag(), c.expectedTag);
    EXPECT_EQ(metadata(), std::string(c.expectedTag) + "/2025-05-01T10:00:00.000Z");
  }
}

TEST_F(EncrypterTest, FailingRandomSourceFailsTheOperation) {
  random_.setFailure(-42);
  auto encrypter = makeEncrypter();
  EXPECT_FALSE(encrypter.encryptString("x"));
  EXPECT_TRUE(log_.has(TLMLogLevel::Error, "Error generating encryption key. Error code: -42"));
  EXPECT_EQ(store_->size(), 0u);  // no key made of unset bytes

  random_.setFailure(0);
  ASSERT_TRUE(encrypter.encryptString("x"));  // makes the key
  random_.failNext(1, -7);
  EXPECT_FALSE(encrypter.encryptString("x"));
  EXPECT_TRUE(
      log_.has(TLMLogLevel::Error, "Error generating initialization vector. Error code: -7"));
}

TEST_F(EncrypterTest, DecryptionNeverMakesOrStoresAKey) {
  auto encrypter = makeEncrypter();
  base::Bytes valid = bytesOf(kHeaderAlternate);
  valid.resize(valid.size() + 32, 0x11);
  base::Bytes unknownTag = bytesOf("someOtherTag/AES/CBC/PKCS7/32:");
  unknownTag.resize(unknownTag.size() + 32, 0x11);
  const base::Bytes legacy(32, 0x22);

  for (const auto& data : {valid, unknownTag, legacy})
    EXPECT_FALSE(encrypter.decryptData(data));
  EXPECT_TRUE(log_.has(TLMLogLevel::Warning, "Unknown encryption key tag 'someOtherTag'."));
  EXPECT_EQ(store_->callCount(Call::add), 0);
  EXPECT_FALSE(metadata());

  // With keys in place an unknown tag is still refused, not read with one of them.
  ASSERT_TRUE(encrypter.encryptString("x"));
  const auto adds = store_->callCount(Call::add);
  EXPECT_FALSE(encrypter.decryptData(unknownTag));
  EXPECT_EQ(store_->callCount(Call::add), adds);
}

TEST_F(EncrypterTest, ShortOrDamagedDataAnswersNone) {
  storeKey(kTLEncryptionKeyTagAlternate, kKeyBase64);
  auto encrypter = makeEncrypter();
  struct Case {
    const char* name;
    std::size_t bytesAfterColon;
  };
  for (const Case c : {Case{"no vector", 0}, Case{"part of a vector", 5}, Case{"vector only", 16},
                       Case{"vector and a partial block", 20}}) {
    SCOPED_TRACE(c.name);
    base::Bytes data = bytesOf(kHeaderAlternate);
    data.resize(data.size() + c.bytesAfterColon, 0x33);
    EXPECT_FALSE(encrypter.decryptData(data));
  }
  EXPECT_TRUE(log_.has(TLMLogLevel::Warning,
                       "Encrypted data is too short to hold an initialization vector."));
  EXPECT_TRUE(log_.has(TLMLogLevel::Error, "Error performing encryption or decryption."));

  EXPECT_FALSE(encrypter.decryptString("not base64!"));
  EXPECT_TRUE(log_.has(TLMLogLevel::Warning, "Conversion of encrypted string to NSData failed."));
  const auto notText = encrypter.encryptData(base::Bytes{0xC3, 0x28});
  ASSERT_TRUE(notText);
  EXPECT_FALSE(encrypter.decryptString(base::base64Encode(*notText)));
  EXPECT_TRUE(log_.has(TLMLogLevel::Warning, "Converting decrypted NSData to NSString failed."));
}

TEST_F(EncrypterTest, StoredKeyOfTheWrongSizeIsRefusedAndKept) {
  for (const char* stored :
       {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==" /* 31 bytes */, "not a key"}) {
    SCOPED_TRACE(stored);
    storeKey(kTLEncryptionKeyTagAlternate, stored);
    auto encrypter = makeEncrypter();
    EXPECT_FALSE(encrypter.encryptString("x"));
    EXPECT_FALSE(encrypter.decryptString(kOpensslToken));
    EXPECT_TRUE(log_.has(TLMLogLevel::Error,
                         "The stored encryption key with tag "
                         "'kTLEncryptionKeyTagAlternate' is not a 32-byte key."));
    EXPECT_EQ(storedKey(kTLEncryptionKeyTagAlternate), bytesOf(stored));
  }
}

TEST_F(EncrypterTest, KeychainFailuresNeverReplaceOrLoseAKey) {
  storeKey(kTLEncryptionKeyTagAlternate, kKeyBase64);
  // A failed read must not lead to a new key over the stored one.
  store_->failCalls(Call::copy, platform::kSecretIO);
  EXPECT_FALSE(makeEncrypter().encryptString("x"));
  EXPECT_EQ(store_->callCount(Call::add), 0);
  store_->failCalls(Call::copy, platform::kSecretSuccess);
  EXPECT_EQ(storedKey(kTLEncryptionKeyTagAlternate), bytesOf(kKeyBase64));

  // A key that cannot be saved is not used: its data would be lost on restart.
  settings_.setString(kTLMEncryptionKeyMetadataKey,
                      "kTLEncryptionKeyTagAlternate/2000-01-01T00:00:00.000Z");
  store_->failCalls(Call::add, platform::kSecretIO);
  EXPECT_FALSE(makeEncrypter().encryptString("x"));
  EXPECT_FALSE(storedKey(kTLEncryptionKeyTag));
  store_->failCalls(Call::add, platform::kSecretSuccess);
  const auto encrypted = makeEncrypter().encryptString("x");
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(makeEncrypter().decryptString(*encrypted), "x");
}

TEST_F(EncrypterTest, ConcurrentFirstUseMakesOneKey) {
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      auto encrypter = makeEncrypter();  // each thread has its own, like separate owners
      results[i] = encrypter.encryptString("v" + std::to_string(i)).value_or("");
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(store_->size(), 1u);
  auto reader = makeEncrypter();
  for (std::size_t i = 0; i < results.size(); ++i)
    EXPECT_EQ(reader.decryptString(results[i]), "v" + std::to_string(i));
}

}  // namespace
}  // namespace tlm

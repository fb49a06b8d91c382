#include <gtest/gtest.h>

#include "platform/defaults/memory_user_defaults.h"
#include "platform/secrets/fake/memory_secret_store.h"
#include "support/scoped_app_identity.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/security/encrypter.h"

namespace tlm {
namespace {

// The default encrypter keeps its metadata in the SDK's prefixed settings and
// its keys in the shared keychain.
class DefaultEncrypterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::UserDefaults::setSharedForTesting(defaults_);
    TLMDarAvevedUserDefaults::setSharedForTesting();
    TLMKeychainUtil::setSharedForTesting(std::make_shared<TLMKeychainUtil>(store_));
  }
  void TearDown() override {
    TLMKeychainUtil::setSharedForTesting(nullptr);
    TLMDarAvevedUserDefaults::setSharedForTesting();
    platform::UserDefaults::setSharedForTesting(nullptr);
  }

  support::ScopedAppIdentity identity_;
  std::shared_ptr<platform::MemoryUserDefaults> defaults_ =
      std::make_shared<platform::MemoryUserDefaults>();
  std::shared_ptr<platform::MemorySecretStore> store_ =
      std::make_shared<platform::MemorySecretStore>();
  testing::LogCapture log_;
};

TEST_F(DefaultEncrypterTest, UsesThePrefixedSettingsKeyAndSurvivesARestart) {
  const auto encrypted = TLMEncrypter::makeDefault()->encryptString("token");
  ASSERT_TRUE(encrypted);
  const auto metadata = defaults_->getString("TLDarAvevedEncryptionKeyMetadata");
  ASSERT_TRUE(metadata);
  EXPECT_TRUE(metadata->starts_with("kTLEncryptionKeyTagAlternate/"));
  EXPECT_TRUE(store_->item("test.Wendrix.DarAveved", "kTLEncryptionKeyTagAlternate"));

  TLMDarAvevedUserDefaults::setSharedForTesting();
  EXPECT_EQ(TLMEncrypter::makeDefault()->decryptString(*encrypted), "token");
}

TEST_F(DefaultEncrypterTest, MetadataOfAnotherKindIsRotated) {
  ASSERT_TRUE(defaults_->set("TLDarAvevedEncryptionKeyMetadata", coding::Value(42)).ok());
  EXPECT_EQ(TLMEncrypter::makeDefault()->getCurrentKeyTag(), kTLEncryptionKeyTag);
  EXPECT_TRUE(defaults_->getString("TLDarAvevedEncryptionKeyMetadata")
                  ->starts_with("kTLEncryptionKeyTag/"));
}

}  // namespace
}  // namespace tlm

#include "telemetry/security/keychain_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/secrets/fake/memory_secret_store.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/telemetry_log_capture.h"
#include "support/temp_dir.h"

namespace tlm {
namespace {

using platform::MemorySecretStore;
using testing::LogCapture;
using Call = MemorySecretStore::Call;

base::Bytes secretOf(std::string_view text) {
  return base::Bytes(text.begin(), text.end());
}

class KeychainUtilTest : public ::testing::Test {
 protected:
  support::ScopedAppIdentity identity_;
  std::shared_ptr<MemorySecretStore> store_ = std::make_shared<MemorySecretStore>();
  TLMKeychainUtil keychain_{store_};
  LogCapture log_;
};

TEST_F(KeychainUtilTest, StoresReadsAndDeletesUnderTheSdkService) {
  EXPECT_EQ(TLMKeychainUtil::defaultServiceName(), "test.Wendrix.DarAveved");
  ASSERT_TRUE(keychain_.storeString("v1", "k"));
  EXPECT_TRUE(
      log_.has(TLMLogLevel::Verbose,
               "Stored a string with key='k', service='test.Wendrix.DarAveved' to keychain."));
  // Storing again replaces the item.
  ASSERT_TRUE(keychain_.storeString("v2", "k"));
  EXPECT_EQ(store_->item("test.Wendrix.DarAveved", "k"), secretOf("v2"));

  platform::SecretStatus status = -1;
  EXPECT_EQ(keychain_.stringForKey("k", &status), "v2");
  EXPECT_EQ(status, platform::kSecretSuccess);
  EXPECT_TRUE(log_.has(TLMLogLevel::Verbose,
                       "Retrieved a string with key='k', "
                       "service='test.Wendrix.DarAveved' from keychain."));

  EXPECT_EQ(keychain_.deleteStringForKey("k"), "v2");
  EXPECT_TRUE(log_.has(TLMLogLevel::Verbose,
                       "Deleted a string with key='k', "
                       "service='test.Wendrix.DarAveved' from keychain."));
  EXPECT_EQ(store_->size(), 0u);

  ASSERT_TRUE(keychain_.storeString("x", "k", "other.service"));
  EXPECT_EQ(keychain_.stringForKey("k", "other.service", nullptr), "x");
  EXPECT_FALSE(keychain_.stringForKey("k"));
}

TEST_F(KeychainUtilTest, FailuresAnswerNoneWithTheStatusInTheMessage) {
  platform::SecretStatus status = 0;
  EXPECT_FALSE(keychain_.stringForKey("missing", &status));
  EXPECT_EQ(status, platform::kSecretItemNotFound);
  EXPECT_TRUE(
      log_.has(TLMLogLevel::Warning,
               "Failed to retrieve item with key='missing', service='test.Wendrix.DarAveved' "
               "from keychain. OS Status code -25300"));

  // Deleting an absent item deletes nothing.
  EXPECT_FALSE(keychain_.deleteStringForKey("missing"));
  EXPECT_EQ(store_->callCount(Call::remove), 0);

  store_->failCalls(Call::add, platform::kSecretIO);
  EXPECT_FALSE(keychain_.storeString("v", "k"));
  EXPECT_TRUE(log_.has(TLMLogLevel::Warning,
                       "Failed to store item with key='k', service='test.Wendrix.DarAveved' to "
                       "keychain. OS Status code -36"));
  store_->failCalls(Call::add, platform::kSecretSuccess);

  ASSERT_TRUE(keychain_.storeString("v", "k"));
  store_->failCalls(Call::remove, platform::kSecretIO);
  EXPECT_FALSE(keychain_.deleteStringForKey("k"));
  EXPECT_TRUE(log_.has(TLMLogLevel::Warning,
                       "Failed to delete item with key='k', service='test.Wendrix.DarAveved' from "
                       "keychain. OS Status code -36"));

  // A value that is not UTF-8 is no string.
  store_->setItem("test.Wendrix.DarAveved", "bin", {0xFF, 0xFE});
  EXPECT_FALSE(keychain_.stringForKey("bin"));
}

TEST_F(KeychainUtilTest, ClearRemovesOnlyTheDefaultService) {
  ASSERT_TRUE(keychain_.storeString("a", "k1"));
  ASSERT_TRUE(keychain_.storeString("b", "k2"));
  ASSERT_TRUE(keychain_.storeString("c", "k1", "other.service"));
  EXPECT_TRUE(keychain_.clear());
  EXPECT_FALSE(keychain_.stringForKey("k2"));
  EXPECT_EQ(keychain_.stringForKey("k1", "other.service", nullptr), "c");
  EXPECT_FALSE(keychain_.clear());  // nothing left to delete
}

}  // namespace
}  // namespace tlm

namespace tlm {
namespace {

TEST(KeychainUtilSharedTest, SharedKeychainPersistsInAPrivateFolderUnderXdgDataHome) {
  namespace fs = std::filesystem;
  const support::TempDir temp("tlm-keychain");
  const fs::path root = temp.path();
  support::ScopedEnvironment environment({{"XDG_DATA_HOME", root.string()}});
  const support::ScopedAppIdentity identity;
  TLMKeychainUtil::setSharedForTesting(nullptr);

  ASSERT_TRUE(TLMKeychainUtil::shared()->storeString("kept", "k"));
  const fs::path folder = root / "test.Wendrix" / "keychain";
  EXPECT_EQ(TLMKeychainUtil::defaultStoreDirectory(), folder);
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
  // A new process reads what the last one stored.
  TLMKeychainUtil::setSharedForTesting(nullptr);
  EXPECT_EQ(TLMKeychainUtil::shared()->stringForKey("k"), "kept");

  TLMKeychainUtil::setSharedForTesting(nullptr);
}

}  // namespace
}  // namespace tlm

#include "telemetry/core/sdk_user_defaults.h"

#include <gtest/gtest.h>

#include "platform/defaults/memory_user_defaults.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::LogCapture;

// A store that refuses writes to one key, as a full disk would.
class RefusingDefaults final : public platform::UserDefaults {
 public:
  explicit RefusingDefaults(std::string refused) : refused_(std::move(refused)) {}
  std::optional<coding::Value> get(std::string_view key) const override { return inner.get(key); }
  base::Status set(std::string_view key, coding::Value value) override {
    if (key == refused_) return base::Error("test", 28, "No space left on device");
    return inner.set(key, std::move(value));
  }
  base::Status remove(std::string_view key) override { return inner.remove(key); }
  std::vector<std::string> keys() const override { return inner.keys(); }

  platform::MemoryUserDefaults inner;

 private:
  std::string refused_;
};

TEST(TLMDarAvevedUserDefaultsTest, PrefixesEveryKey) {
  auto store = std::make_shared<platform::MemoryUserDefaults>();
  TLMDarAvevedUserDefaults defaults(store);
  defaults.setObject("id", "InstallId");
  EXPECT_EQ(store->getString("TLDarAveved"
                             "InstallId"),
            "id");
  EXPECT_EQ(defaults.objectForKey("InstallId"), coding::Value("id"));
  ASSERT_TRUE(store->set("PastDevices", 1));
  EXPECT_FALSE(defaults.objectForKey("PastDevices"));
  defaults.removeObjectForKey("InstallId");
  EXPECT_FALSE(store->contains("TLDarAvevedInstallId"));
}

TEST(TLMDarAvevedUserDefaultsTest, MigratesOncePerService) {
  auto store = std::make_shared<platform::MemoryUserDefaults>();
  ASSERT_TRUE(store->set("TLInstallId", "abc"));
  ASSERT_TRUE(store->set("TLChannelStartTimer:Analytics", 5));
  ASSERT_TRUE(store->set("TLChannelStartTimer:Crashes", 6));
  ASSERT_TRUE(store->set("unrelated", 7));
  TLMDarAvevedUserDefaults defaults(store);
  const std::map<std::string, TLMMigrationOldKey> map = {
      {"TLDarAvevedInstallId", std::string("TLInstallId")},
      {"TLDarAvevedEncryptionKeyMetadata", std::string("TLEncryptionKeyMetadata")},  // absent
      {"TLDarAvevedChannelStartTimer", TLMUserDefaultsPrefixKey{"TLChannelStartTimer"}},
  };

  LogCapture logs;
  defaults.migrateKeys(map, "DarAveved");
  EXPECT_EQ(store->snapshot(), (coding::Dictionary{
                                   {"TLDarAvevedInstallId", "abc"},
                                   {"TLDarAvevedChannelStartTimer:Analytics", 5},
                                   {"TLDarAvevedChannelStartTimer:Crashes", 6},
                                   {"unrelated", 7},
                                   {"TLDarAveved310DarAvevedUserDefaultsMigratedKey", true},
                               }));
  EXPECT_EQ(logs.messages(),
            (std::vector<std::string>{
                "Migrating the old NSDefaults keys to new ones.",
                "Migrating key TLChannelStartTimer:Analytics -> "
                "TLDarAvevedChannelStartTimer:Analytics",
                "Migrating key TLChannelStartTimer:Crashes -> TLDarAvevedChannelStartTimer:Crashes",
                "Migrating key TLInstallId -> TLDarAvevedInstallId",
            }));
  for (const auto& line : logs.lines())
    EXPECT_EQ(line.level, TLMLogLevel::Verbose);

  // Done for this service: a second run writes and logs nothing.
  logs.clear();
  ASSERT_TRUE(store->set("TLInstallId", "again"));
  defaults.migrateKeys(map, "DarAveved");
  EXPECT_TRUE(logs.lines().empty());
  EXPECT_EQ(store->getString("TLInstallId"), "again");

  // Another service has its own flag.
  defaults.migrateKeys({}, "Analytics");
  EXPECT_EQ(store->getBool("TLDarAveved310AnalyticsUserDefaultsMigratedKey"), true);
}

TEST(TLMDarAvevedUserDefaultsTest, OldValueStaysWhenNewKeyCannotBeStored) {
  auto store = std::make_shared<RefusingDefaults>("TLDarAvevedInstallId");
  ASSERT_TRUE(store->set("TLInstallId", "abc"));
  TLMDarAvevedUserDefaults defaults(store);
  LogCapture logs;
  defaults.swapKeys("TLInstallId", "TLDarAvevedInstallId", coding::Value("abc"));
  EXPECT_EQ(store->getString("TLInstallId"), "abc");
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Error);
}

TEST(TLMDarAvevedUserDefaultsTest, SharedInstanceUsesStandardDefaultsUntilReset) {
  auto first = std::make_shared<platform::MemoryUserDefaults>();
  platform::UserDefaults::setSharedForTesting(first);
  TLMDarAvevedUserDefaults::setSharedForTesting();
  auto shared = TLMDarAvevedUserDefaults::shared();
  EXPECT_EQ(shared, TLMDarAvevedUserDefaults::shared());
  shared->setObject(true, "DarAvevedIsEnabled");
  EXPECT_EQ(first->getBool("TLDarAvevedDarAvevedIsEnabled"), true);

  auto second = std::make_shared<platform::MemoryUserDefaults>();
  platform::UserDefaults::setSharedForTesting(second);
  TLMDarAvevedUserDefaults::setSharedForTesting();
  EXPECT_FALSE(TLMDarAvevedUserDefaults::shared()->objectForKey("DarAvevedIsEnabled"));
  TLMDarAvevedUserDefaults::setSharedForTesting();
  platform::UserDefaults::setSharedForTesting(nullptr);
}

}  // namespace
}  // namespace tlm

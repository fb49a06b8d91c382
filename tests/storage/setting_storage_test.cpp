#include "storage/setting_storage.h"

#include <gtest/gtest.h>

#include <vector>

#include "coding/plist.h"
#include "storage/close_behavior_storage.h"
#include "storage/defaults_storage.h"
#include "storage_test_support.h"

namespace wendrix {
namespace {

using testing::RefusingUserDefaults;
using testing::SentError;
using testing::sentErrors;

constexpr std::string_view kKey = "app.wendrix.test";

class SettingStorageTest : public ::testing::Test {
 protected:
  std::shared_ptr<RefusingUserDefaults> defaults_ = std::make_shared<RefusingUserDefaults>();
  tlm::ScopedRecordingAnalytics analytics_;
};

// A Bool setting whose loader counts its calls.
struct CountingFlag {
  explicit CountingFlag(std::shared_ptr<platform::UserDefaults> defaults)
      : storage(std::move(defaults), std::string(kKey),
                [this](std::string_view key, const platform::UserDefaults& d) {
                  ++loads;
                  return storedBool(d.get(key));
                }) {}
  int loads = 0;
  RawSettingStorage<bool> storage;
};

TEST_F(SettingStorageTest, ReadsTheStoreUnlessObservedThenTheSubject) {
  CountingFlag flag(defaults_);
  EXPECT_FALSE(flag.storage.value());
  EXPECT_EQ(flag.loads, 2);  // the subject's initial value, then the answer

  ASSERT_TRUE(defaults_->set(kKey, true).ok());  // behind the storage's back
  EXPECT_TRUE(flag.storage.value());
  EXPECT_EQ(flag.loads, 3);

  std::vector<bool> seen;
  auto sub = flag.storage.valueStream().subscribe([&](bool v) { seen.push_back(v); });
  EXPECT_EQ(seen, std::vector<bool>{false});  // the subject was made before the write
  EXPECT_FALSE(flag.storage.value());         // observed: the subject's value, no read
  EXPECT_EQ(flag.loads, 3);
  sub.dispose();
  EXPECT_TRUE(flag.storage.value());  // unobserved again: read afresh
}

TEST_F(SettingStorageTest, WriteStoresThenEmitsTheValueReadBack) {
  CountingFlag flag(defaults_);
  std::vector<bool> first, second;
  auto a = flag.storage.valueStream().subscribe([&](bool v) { first.push_back(v); });
  auto b = flag.storage.valueStream().subscribe([&](bool v) { second.push_back(v); });
  const int loadsBefore = flag.loads;

  EXPECT_FALSE(flag.storage.hasStoredValue());
  flag.storage.setValue(false);
  EXPECT_TRUE(flag.storage.hasStoredValue());  // a stored false counts
  EXPECT_EQ(defaults_->get(kKey), coding::Value(false));
  flag.storage.setValue(true);

  EXPECT_EQ(flag.loads, loadsBefore + 2);  // each write is read back once
  EXPECT_EQ(first, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(second, (std::vector<bool>{false, false, true}));
  EXPECT_TRUE(sentErrors(analytics_).empty());
  a.dispose();
  b.dispose();
}

TEST_F(SettingStorageTest, OptionalWithoutValueRemovesTheKey) {
  RawSettingStorage<std::optional<std::int64_t>> storage(
      defaults_, std::string(kKey),
      [](std::string_view key, const platform::UserDefaults& d) { return d.getInt64(key); });
  storage.setValue(1207);
  EXPECT_EQ(defaults_->get(kKey), coding::Value(1207));
  storage.setValue(std::nullopt);
  EXPECT_FALSE(storage.hasStoredValue());
  EXPECT_EQ(storage.value(), std::nullopt);
}

TEST_F(SettingStorageTest, RefusedWriteIsReportedAndTheStreamShowsWhatIsStored) {
  CountingFlag flag(defaults_);
  flag.storage.setValue(true);
  std::vector<bool> seen;
  auto sub = flag.storage.valueStream().subscribe([&](bool v) { seen.push_back(v); });

  defaults_->refuseWritesTo(std::string(kKey));
  flag.storage.setValue(false);

  EXPECT_EQ(seen, (std::vector<bool>{true, true}));
  EXPECT_EQ(sentErrors(analytics_),
            (std::vector<SentError>{{"No space left writing app.wendrix.test", std::nullopt}}));
  sub.dispose();
}

// A setting whose encoding always fails.
class UnencodableStorage : public RawSettingStorage<std::string> {
 public:
  using RawSettingStorage::RawSettingStorage;
  base::Result<std::optional<coding::Value>> encode(const std::string& value) const override {
    return base::Error("test", 1, "cannot encode \"" + value + "\" here");
  }
};

TEST_F(SettingStorageTest, EncodingFailureIsReportedAndChangesNothing) {
  ASSERT_TRUE(defaults_->set(kKey, "old").ok());
  UnencodableStorage storage(defaults_, std::string(kKey),
                             [](std::string_view key, const platform::UserDefaults& d) {
                               return d.getString(key).value_or("");
                             });
  int emissions = 0;
  auto sub = storage.valueStream().subscribe([&](const std::string&) { ++emissions; });

  storage.setValue("secret");

  EXPECT_EQ(defaults_->get(kKey), coding::Value("old"));
  EXPECT_EQ(emissions, 1);  // only the value at subscription
  EXPECT_EQ(
      sentErrors(analytics_),
      (std::vector<SentError>{{"cannot encode ENCODED_VALUE here", "storage.encodeValue_000"}}));
  sub.dispose();
}

TEST_F(SettingStorageTest, PropertyListStorageKeepsStoredValueWhenEncodingFails) {
  EncoderValueStorage<std::vector<std::string>> storage(
      defaults_, std::string(kKey), decodedValueLoader<std::vector<std::string>>({}));
  storage.setValue({"a", "b"});
  const auto stored = defaults_->get(kKey);
  ASSERT_TRUE(stored && stored->getIf<base::Bytes>());
  EXPECT_EQ(storage.value(), (std::vector<std::string>{"a", "b"}));

  std::vector<std::vector<std::string>> seen;
  auto sub = storage.valueStream().subscribe([&](const auto& v) { seen.push_back(v); });
  // A property list cannot hold a NUL character.
  storage.setValue({std::string("bad\0name", 8)});

  EXPECT_EQ(defaults_->get(kKey), stored);
  EXPECT_EQ(seen.size(), 1u);
  const auto errors = sentErrors(analytics_);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].location, "storage.encodeValue_000");
  sub.dispose();
}

TEST_F(SettingStorageTest, CloseBehaviorStoresItsStringAndReadsOnlyExactCases) {
  CloseBehaviorStorage storage(defaults_, std::string(kKey));
  const std::pair<CloseBehavior, const char*> cases[] = {{CloseBehavior::close, "close"},
                                                         {CloseBehavior::quit, "quit"},
                                                         {CloseBehavior::hide, "hide"},
                                                         {CloseBehavior::minimize, "minimize"}};
  for (const auto& [behavior, text] : cases) {
    storage.setValue(behavior);
    EXPECT_EQ(defaults_->get(kKey), coding::Value(text));
    EXPECT_EQ(storage.value(), behavior);
  }

  const std::pair<coding::Value, CloseBehavior> stored[] = {
      {coding::Value("Quit"), CloseBehavior::hide},
      {coding::Value("quit "), CloseBehavior::hide},
      {coding::Value(1), CloseBehavior::hide},
      {coding::Value("close"), CloseBehavior::close}};
  for (const auto& [value, expected] : stored) {
    ASSERT_TRUE(defaults_->set(kKey, value).ok());
    EXPECT_EQ(storage.value(), expected);
  }
  ASSERT_TRUE(defaults_->remove(kKey).ok());
  EXPECT_EQ(storage.value(), CloseBehavior::hide);
}

TEST_F(SettingStorageTest, DecodedValueLoaderGivesDefaultForAbsentForeignOrBadBytes) {
  using Strings = std::vector<std::string>;
  const Strings fallback{"default"};
  const auto loader = decodedValueLoader<Strings>(fallback);
  const auto good = coding::toPropertyList(Strings{"x", "y"});
  ASSERT_TRUE(good.ok());

  EXPECT_EQ(loader(kKey, *defaults_), fallback);
  ASSERT_TRUE(defaults_->set(kKey, "not bytes").ok());
  EXPECT_EQ(loader(kKey, *defaults_), fallback);
  EXPECT_TRUE(sentErrors(analytics_).empty());

  ASSERT_TRUE(defaults_->set(kKey, *good).ok());
  EXPECT_EQ(loader(kKey, *defaults_), (Strings{"x", "y"}));

  ASSERT_TRUE(defaults_->set(kKey, base::Bytes{'j', 'u', 'n', 'k'}).ok());
  EXPECT_EQ(loader(kKey, *defaults_), fallback);
  EXPECT_EQ(loader(kKey, *defaults_), fallback);
  const auto errors = sentErrors(analytics_);
  ASSERT_EQ(errors.size(), 2u);  // one per read
  EXPECT_EQ(errors[0].location, "storage.decodeValue_000");

  const auto custom = decodedValueLoader<Strings>(
      fallback, [](std::string_view, const platform::UserDefaults&) { return Strings{"custom"}; });
  EXPECT_EQ(custom(kKey, *defaults_), Strings{"custom"});
  EXPECT_EQ(sentErrors(analytics_).size(), 2u);
}

}  // namespace
}  // namespace wendrix

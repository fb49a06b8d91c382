#include "storage/defaults_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "coding/plist.h"
#include "storage_test_support.h"

namespace wendrix {
namespace {

using testing::app;
using testing::layout;
using testing::names;
using testing::RefusingUserDefaults;
using testing::SentError;
using testing::sentErrors;
using testing::window;
namespace keys = defaults_keys;
using Names = std::vector<std::string>;

base::Bytes plistOf(const std::vector<Layout>& layouts) {
  auto bytes = coding::toPropertyList(layouts);
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? *bytes : base::Bytes{};
}

void store(platform::UserDefaults& defaults, std::string_view key, coding::Value value) {
  ASSERT_TRUE(defaults.set(key, std::move(value)).ok());
}

const base::Bytes kJunk{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xff};

class DefaultsStorageTest : public ::testing::Test {
 protected:
  std::vector<Layout> storedLayouts(std::string_view key) {
    const auto bytes = defaults_->getBytes(key);
    if (!bytes) return {};
    auto decoded = coding::fromPropertyList<std::vector<Layout>>(*bytes);
    EXPECT_TRUE(decoded.ok());
    return decoded.ok() ? *decoded : std::vector<Layout>{};
  }
  void put(std::string_view key, coding::Value value) {
    ASSERT_TRUE(defaults_->set(key, std::move(value)).ok());
  }

  std::shared_ptr<RefusingUserDefaults> defaults_ = std::make_shared<RefusingUserDefaults>();
  DefaultsStorage storage_{defaults_, "1207"};
  tlm::ScopedRecordingAnalytics analytics_;
};

TEST_F(DefaultsStorageTest, AbsentOrForeignValuesReadAsDefaults) {
  EXPECT_EQ(storage_.userSince().value(), std::nullopt);
  EXPECT_FALSE(storage_.featureEditWindow().value());
  EXPECT_EQ(storage_.closeBehavior().value(), CloseBehavior::hide);
  EXPECT_TRUE(storage_.loadLayouts().empty());
  EXPECT_TRUE(storage_.loadAppSettings().empty());

  struct Case {
    coding::Value stored;
    std::optional<std::int64_t> userSince;
    bool flag;
  };
  const Case cases[] = {
      {coding::Value(12), 12, true},
      {coding::Value(std::uint64_t{7}), 7, true},
      {coding::Value(0), 0, false},
      {coding::Value("12"), std::nullopt, true},
      {coding::Value("YES"), std::nullopt, true},
      {coding::Value("no"), std::nullopt, false},
      {coding::Value(3.5), std::nullopt, true},
      {coding::Value(true), std::nullopt, true},
  };
  for (const auto& c : cases) {
    put(keys::kUserSince, c.stored);
    put(keys::kFeatureHideLayoutMenuItem, c.stored);
    EXPECT_EQ(storage_.userSince().value(), c.userSince);
    EXPECT_EQ(storage_.featureHideLayoutMenuItem().value(), c.flag);
  }

  for (const coding::Value& foreign : {coding::Value("text"), coding::Value(kJunk)}) {
    put(keys::kSaved, foreign);
    put(keys::kAppSettings, foreign);
    EXPECT_TRUE(storage_.loadLayouts().empty());
    EXPECT_TRUE(storage_.loadAppSettings().empty());
  }
  EXPECT_TRUE(sentErrors(analytics_).empty());
}

TEST_F(DefaultsStorageTest, LegacyLayoutsMoveToTheCurrentKey) {
  const std::vector<Layout> two{layout("Work"), layout("Home")};
  const base::Bytes legacy = plistOf(two);

  struct Case {
    const char* label;
    std::optional<coding::Value> current;
    std::optional<coding::Value> legacy;
    bool refuseCurrentKey;
    Names loaded;
    Names storedCurrent;
    bool legacyKept;
    std::size_t errors;
  };
  const Case cases[] = {
      {"valid legacy",
       std::nullopt,
       coding::Value(legacy),
       false,
       {"Work", "Home"},
       {"Work", "Home"},
       false,
       0},
      // The foreign value is kept under a backup key (and reported).
      {"legacy beside a foreign current value",
       coding::Value("x"),
       coding::Value(legacy),
       false,
       {"Work", "Home"},
       {"Work", "Home"},
       false,
       1},
      {"undecodable legacy", std::nullopt, coding::Value(kJunk), false, {}, {}, false, 0},
      {"legacy that is not bytes", std::nullopt, coding::Value("Work"), false, {}, {}, true, 0},
      {"undecodable current", coding::Value(kJunk), coding::Value(legacy), false, {}, {}, true, 0},
      // The legacy key goes only after the layouts were written under the new one.
      {"current key refuses the write",
       std::nullopt,
       coding::Value(legacy),
       true,
       {"Work", "Home"},
       {},
       true,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto defaults = std::make_shared<RefusingUserDefaults>();
    if (c.current) store(*defaults, keys::kSaved, *c.current);
    if (c.legacy) store(*defaults, keys::kLegacySaved, *c.legacy);
    if (c.refuseCurrentKey) defaults->refuseWritesTo(std::string(keys::kSaved));
    analytics_.backend().clear();
    DefaultsStorage storage(defaults, "1");

    EXPECT_EQ(names(storage.loadLayouts()), c.loaded);
    const auto current = defaults->getBytes(keys::kSaved);
    Names storedCurrent;
    if (current) {
      if (auto decoded = coding::fromPropertyList<std::vector<Layout>>(*current))
        storedCurrent = names(*decoded);
    }
    EXPECT_EQ(storedCurrent, c.storedCurrent);
    EXPECT_EQ(defaults->contains(keys::kLegacySaved), c.legacyKept);
    if (c.current && c.storedCurrent.empty()) {
      EXPECT_EQ(defaults->get(keys::kSaved), c.current);  // left as it was
    }
    EXPECT_EQ(sentErrors(analytics_).size(), c.errors);
    // A second read finds the layouts where the first one left them.
    EXPECT_EQ(names(storage.loadLayouts()), c.loaded);
  }
}

TEST_F(DefaultsStorageTest, ListOperationsWriteAndEmitTheListReadBack) {
  std::vector<Names> saved, listed;
  auto a = storage_.savedStream().subscribe([&](const auto& l) { saved.push_back(names(l)); });
  auto b =
      storage_.layoutListStream().subscribe([&](const auto& l) { listed.push_back(names(l)); });

  storage_.saveLayout(layout("A"));
  storage_.saveLayout(layout("B"));
  storage_.saveLayout(layout("A", {app("org.example.other")}));  // same name: moves to the end
  EXPECT_EQ(names(storedLayouts(keys::kSaved)), (Names{"B", "A"}));
  EXPECT_EQ(storedLayouts(keys::kSaved)[1].apps[0].bundleId, "org.example.other");

  storage_.replaceLayout("B", layout("C"));        // keeps the position
  storage_.replaceLayout("missing", layout("D"));  // writes the list unchanged
  storage_.deleteLayout("A");

  EXPECT_EQ(saved,
            (std::vector<Names>{{}, {"A"}, {"A", "B"}, {"B", "A"}, {"C", "A"}, {"C", "A"}, {"C"}}));
  EXPECT_EQ(listed, (std::vector<Names>{{}, {"A"}, {"A", "B"}, {"B", "A"}, {"C", "A"}, {"C"}}));
  // A fresh storage over the same store reads what the stream showed.
  EXPECT_EQ(names(DefaultsStorage(defaults_, "1").loadLayouts()), Names{"C"});
  a.dispose();
  b.dispose();
}

// The list emitted after a write is the list a fresh read gives, also for a
// layout that does not read back as written (text that is not UTF-8 comes
// back repaired) and after another writer changed the stored list.
TEST_F(DefaultsStorageTest, EveryWriteEmitsWhatAFreshReadGives) {
  std::vector<std::vector<Layout>> emitted;
  auto sub = storage_.savedStream().subscribe([&](const auto& l) { emitted.push_back(l); });
  const auto freshRead = [&] { return DefaultsStorage(defaults_, "1").loadLayouts(); };
  const std::string bad = "Bad \xff title";
  struct Step {
    const char* what;
    std::function<void()> run;
    bool emits = true;
  };
  const Step steps[] = {
      {"save", [&] { storage_.saveLayout(layout("A")); }},
      {"save unrepaired text",
       [&] { storage_.saveLayout(layout("B", {app("x", {window(bad)})})); }},
      {"another writer",
       [&] {
         put(keys::kSaved, plistOf({layout("P"), layout("B"), layout("Q")}));
       },
       false},
      {"save after it", [&] { storage_.saveLayout(layout("C")); }},
      {"replace with unrepaired text",
       [&] { storage_.replaceLayout("P", layout(bad, {app("y", {window(bad)})})); }},
      {"delete", [&] { storage_.deleteLayout("B"); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const std::size_t before = emitted.size();
    step.run();
    EXPECT_EQ(emitted.size(), before + (step.emits ? 1 : 0));
    if (step.emits) {
      EXPECT_EQ(coding::encode(emitted.back()), coding::encode(freshRead()));
    }
    EXPECT_EQ(coding::encode(storage_.loadLayouts()), coding::encode(freshRead()));
  }
  const std::string repaired = "Bad \xef\xbf\xbd title";
  EXPECT_EQ(names(freshRead()), (Names{repaired, "Q", "C"}));
  EXPECT_EQ(freshRead()[0].apps[0].windows[0].title, repaired);
  sub.dispose();
}

// A change of one layout edits the stored bytes (the earlier bytes stay as
// they are at the start) rather than encoding every layout, and what the
// edits leave unreferenced never grows past the list written whole.
TEST_F(DefaultsStorageTest, ListChangesEditTheStoredBytesWithinBounds) {
  std::vector<Layout> many;
  for (int i = 0; i < 50; ++i)
    many.push_back(layout("L" + std::to_string(i), {app("org.example.a"), app("org.example.b")}));
  storage_.layouts().setValue(many);
  (void)storage_.loadLayouts();
  const base::Bytes before = *defaults_->getBytes(keys::kSaved);

  storage_.saveLayout(layout("New", {app("org.example.c")}));
  const base::Bytes after = *defaults_->getBytes(keys::kSaved);
  ASSERT_GT(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 64, after.begin()));
  EXPECT_EQ(names(storedLayouts(keys::kSaved)).back(), "New");

  std::size_t largest = 0;
  for (int round = 0; round < 400; ++round) {
    storage_.saveLayout(layout("L" + std::to_string(round % 50), {app("org.example.d")}));
    if (round % 7 == 0) storage_.deleteLayout("L" + std::to_string((round * 3) % 50));
    largest = std::max(largest, defaults_->getBytes(keys::kSaved)->size());
  }
  const auto stored = storedLayouts(keys::kSaved);
  EXPECT_EQ(coding::encode(stored), coding::encode(storage_.loadLayouts()));
  EXPECT_EQ(coding::encode(DefaultsStorage(defaults_, "1").loadLayouts()), coding::encode(stored));
  const std::size_t whole = plistOf(stored).size();
  EXPECT_LE(largest, 2 * std::max(whole, before.size()) + 64 * 1024 + 4096);
}

TEST_F(DefaultsStorageTest, ReplaceAndDeleteFollowTheirNameRules) {
  storage_.layouts().setValue({layout("X"), layout("Y"), layout("X")});
  storage_.replaceLayout("X", layout("Z"));  // the first match only
  EXPECT_EQ(names(storage_.loadLayouts()), (Names{"Z", "Y", "X"}));
  storage_.layouts().setValue({layout("X"), layout("x"), layout("X")});
  storage_.deleteLayout("X");  // every exact match
  EXPECT_EQ(names(storage_.loadLayouts()), Names{"x"});
  EXPECT_EQ(layoutNamed(storage_.loadLayouts(), "X"), std::nullopt);
  EXPECT_EQ(layoutNamed(storage_.loadLayouts(), "x")->name, "x");
}

TEST_F(DefaultsStorageTest, IndexedLayoutsAreOneSharedListPerWrite) {
  storage_.layouts().setValue({layout("X", {app("first")}), layout("x"), layout("X")});
  std::vector<std::shared_ptr<const SavedLayouts>> first, second;
  auto a = storage_.savedLayoutsStream().subscribe([&](const auto& s) { first.push_back(s); });
  auto b = storage_.savedLayoutsStream().subscribe([&](const auto& s) { second.push_back(s); });
  storage_.deleteLayout("x");

  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first, second);  // the same objects, not copies
  EXPECT_EQ(names(first[0]->layouts()), (Names{"X", "x", "X"}));
  EXPECT_EQ(names(first[1]->layouts()), (Names{"X", "X"}));
  // By exact name, the first of a name.
  EXPECT_EQ(first[0]->find("X"), &first[0]->layouts()[0]);
  EXPECT_EQ(first[0]->find("x"), &first[0]->layouts()[1]);
  EXPECT_EQ(first[1]->find("x"), nullptr);
  EXPECT_EQ(first[1]->find(""), nullptr);
  a.dispose();
  b.dispose();
}

TEST_F(DefaultsStorageTest, LayoutListPassesOnlyChangesOfTheNameSequence) {
  storage_.layouts().setValue({layout("A"), layout("B")});
  std::vector<Names> listed;
  auto sub =
      storage_.layoutListStream().subscribe([&](const auto& l) { listed.push_back(names(l)); });

  storage_.layouts().setValue(
      {layout("A", {app("org.example.one"), app("org.example.two")}), layout("B", {})});
  storage_.layouts().setValue({layout("B"), layout("A")});

  EXPECT_EQ(listed, (std::vector<Names>{{"A", "B"}, {"B", "A"}}));
  sub.dispose();
}

TEST_F(DefaultsStorageTest, UnencodableLayoutKeepsEverySavedLayout) {
  storage_.saveLayout(layout("Work"));
  const auto before = defaults_->get(keys::kSaved);
  int emissions = 0;
  auto sub = storage_.savedStream().subscribe([&](const auto&) { ++emissions; });

  // A property list cannot hold a NUL character.
  storage_.saveLayout(layout("Home", {app("org.example.edit", {window(std::string("a\0b", 3))})}));

  EXPECT_EQ(defaults_->get(keys::kSaved), before);
  EXPECT_EQ(names(storage_.loadLayouts()), Names{"Work"});
  EXPECT_EQ(emissions, 1);
  const auto errors = sentErrors(analytics_);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].location, "storage.encodeValue_000");
  sub.dispose();
}

// `layouts` as stored, with the name of the last record an integer: the
// whole list then fails to decode.
base::Bytes plistWithABadRecord(const std::vector<Layout>& layouts) {
  auto tree = coding::decodePropertyList(plistOf(layouts));
  EXPECT_TRUE(tree.ok());
  if (!tree.ok()) return {};
  tree->getIf<coding::Array>()->back().getIf<coding::Dictionary>()->set("name", 5);
  auto bytes = coding::encodePropertyList(*tree);
  EXPECT_TRUE(bytes.ok());
  EXPECT_FALSE(coding::fromPropertyList<std::vector<Layout>>(*bytes).ok());
  return bytes.ok() ? *bytes : base::Bytes{};
}

TEST_F(DefaultsStorageTest, UndecodableLayoutsAreKeptBeforeAWriteReplacesThem) {
  const std::string backup = std::string(keys::kSaved) + ".undecodable-backup";
  const struct {
    const char* label;
    std::function<void(DefaultsStorage&)> write;
    Names written;
  } cases[] = {
      // The good records stay.
      {"save", [](DefaultsStorage& s) { s.saveLayout(layout("New")); }, {"Work", "New"}},
      {"replace", [](DefaultsStorage& s) { s.replaceLayout("Work", layout("New")); }, {"New"}},
      {"delete", [](DefaultsStorage& s) { s.deleteLayout("Work"); }, {}},
      {"set", [](DefaultsStorage& s) { s.layouts().setValue({layout("New")}); }, {"New"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto defaults = std::make_shared<RefusingUserDefaults>();
    DefaultsStorage storage(defaults, "1");
    analytics_.backend().clear();
    const base::Bytes first = plistWithABadRecord({layout("Work"), layout("Home")});
    store(*defaults, keys::kSaved, first);

    c.write(storage);
    EXPECT_EQ(names(storage.loadLayouts()), c.written);
    EXPECT_EQ(defaults->getBytes(backup), first);

    // A later undecodable list goes to a free key; the first backup stays.
    const base::Bytes second = plistWithABadRecord({layout("Other")});
    store(*defaults, keys::kSaved, second);
    c.write(storage);
    EXPECT_EQ(defaults->getBytes(backup), first);
    EXPECT_EQ(defaults->getBytes(backup + "-2"), second);

    const auto errors = sentErrors(analytics_);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].location, "storage.backupValue_000");
    EXPECT_NE(errors[0].description.find("\"" + backup + "\""), std::string::npos)
        << errors[0].description;
    EXPECT_NE(errors[1].description.find("\"" + backup + "-2\""), std::string::npos)
        << errors[1].description;
  }
}

TEST_F(DefaultsStorageTest, LayoutsDecodeRecordByRecordAndTheLossIsSaidOnce) {
  put(keys::kSaved, plistWithABadRecord({layout("Work"), layout("Play"), layout("Odd")}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(names(storage_.loadLayouts()), (Names{"Work", "Play"}));
  EXPECT_EQ(names(storage_.layouts().value()), (Names{"Work", "Play"}));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("app.wendrix.saved.undecodable-backup"), std::string::npos) << said;
  // Reading sends no usage event.
  EXPECT_TRUE(sentErrors(analytics_).empty());

  // Bytes that are no list at all read as no layouts.
  put(keys::kSaved, base::Bytes{'x', 'y'});
  EXPECT_TRUE(storage_.loadLayouts().empty());
}

// Writes fail while `failing` is set; edits in place also while
// `refusingEdits` is (as when another process changed the value).
class FailingUserDefaults final : public platform::UserDefaults {
 public:
  std::optional<coding::Value> get(std::string_view key) const override { return inner.get(key); }
  bool readWithRevision(
      std::string_view key,
      const std::function<void(const coding::Value&, Revision)>& visit) const override {
    return inner.readWithRevision(key, visit);
  }
  base::Status set(std::string_view key, coding::Value value) override {
    if (failing) return kNoSpace;
    return inner.set(key, std::move(value));
  }
  base::Result<Revision> replaceDataTail(std::string_view key, Revision expected, std::size_t keep,
                                         std::span<const std::uint8_t> tail) override {
    ++edits;
    if (failing) return kNoSpace;
    if (refusingEdits) return base::Error("test", 3, "changed meanwhile");
    return inner.replaceDataTail(key, expected, keep, tail);
  }
  base::Status remove(std::string_view key) override { return inner.remove(key); }
  std::vector<std::string> keys() const override { return inner.keys(); }
  bool failing = false;
  bool refusingEdits = false;
  int edits = 0;
  platform::MemoryUserDefaults inner;

 private:
  const base::Error kNoSpace{"test", 28, "No space left on device"};
};

TEST_F(DefaultsStorageTest, AnEditTheStoreRefusesWritesTheWholeList) {
  auto defaults = std::make_shared<FailingUserDefaults>();
  DefaultsStorage storage(defaults, "1");
  ASSERT_TRUE(storage.storeLayout(layout("Work")).ok());
  ASSERT_TRUE(storage.storeLayout(layout("Play")).ok());
  EXPECT_EQ(defaults->edits, 1);

  defaults->refusingEdits = true;
  ASSERT_TRUE(storage.storeLayout(layout("Rest")).ok());
  EXPECT_EQ(defaults->edits, 2);
  const Names expected{"Work", "Play", "Rest"};
  EXPECT_EQ(names(storage.loadLayouts()), expected);
  EXPECT_EQ(names(DefaultsStorage(defaults, "1").loadLayouts()), expected);
  EXPECT_TRUE(sentErrors(analytics_).empty());

  // What was written whole is edited again.
  defaults->refusingEdits = false;
  storage.deleteLayout("Play");
  EXPECT_EQ(defaults->edits, 3);
  EXPECT_EQ(names(DefaultsStorage(defaults, "1").loadLayouts()), (Names{"Work", "Rest"}));
}

TEST_F(DefaultsStorageTest, AWriteTheStoreRefusesFailsAndIsPassedOn) {
  auto defaults = std::make_shared<FailingUserDefaults>();
  DefaultsStorage storage(defaults, "1");
  std::vector<std::string> told;
  storage.setWriteFailureHandler([&](const base::Error& e) { told.push_back(e.description); });
  ASSERT_TRUE(storage.storeLayout(layout("Work")).ok());

  defaults->failing = true;
  const base::Status stored = storage.storeLayout(layout("Play"));
  ASSERT_FALSE(stored.ok());
  EXPECT_EQ(stored.error().description, "No space left on device");
  storage.saveAppSettings({{"org.example.edit", IAppSettings{}}});
  EXPECT_EQ(told, (std::vector<std::string>(2, "No space left on device")));
  EXPECT_EQ(names(storage.loadLayouts()), Names{"Work"});
  // A value that cannot be encoded fails too, but is no store failure.
  defaults->failing = false;
  EXPECT_FALSE(storage.storeLayout(layout(std::string("a\0b", 3))).ok());
  EXPECT_EQ(told.size(), 2u);
}

TEST_F(DefaultsStorageTest, UndecodableValueThatCannotBeKeptIsNotOverwritten) {
  const base::Bytes bad = plistWithABadRecord({layout("Work")});
  put(keys::kSaved, bad);
  put(keys::kAppSettings, "foreign");
  defaults_->refuseWritesTo(std::string(keys::kSaved) + ".undecodable-backup");
  defaults_->refuseWritesTo(std::string(keys::kAppSettings) + ".undecodable-backup");

  storage_.saveLayout(layout("New"));
  storage_.saveAppSettings({{"org.example.edit", IAppSettings{}}});

  EXPECT_EQ(defaults_->getBytes(keys::kSaved), bad);
  EXPECT_EQ(defaults_->getString(keys::kAppSettings), "foreign");
  const auto errors = sentErrors(analytics_);
  ASSERT_EQ(errors.size(), 2u);
  for (const auto& e : errors) {
    EXPECT_EQ(e.location, "storage.backupValue_000");
    EXPECT_NE(e.description.find("not overwritten"), std::string::npos) << e.description;
  }
}

TEST_F(DefaultsStorageTest, UndecodableAppSettingsAreKeptBeforeAWriteReplacesThem) {
  const AppSettingsMap settings{{"org.example.edit", IAppSettings{}}};
  // A shortcut whose key is text.
  const coding::Value stored(coding::Dictionary{
      {"org.example.edit",
       coding::Dictionary{
           {"newWindowShortcut", coding::Dictionary{{"key", "N"}, {"flagsValue", 0}}}}}});
  const base::Bytes bad = *coding::encodePropertyList(stored);
  put(keys::kAppSettings, bad);
  ASSERT_TRUE(storage_.loadAppSettings().empty());

  storage_.saveAppSettings(settings);

  EXPECT_EQ(storage_.loadAppSettings(), settings);
  EXPECT_EQ(defaults_->getBytes(std::string(keys::kAppSettings) + ".undecodable-backup"), bad);
  const auto errors = sentErrors(analytics_);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].location, "storage.backupValue_000");
}

TEST_F(DefaultsStorageTest, AppSettingsAreStoredAndEmittedAsReadBack) {
  const AppSettingsMap settings{
      {"org.example.edit", IAppSettings{IShortcut{45, kMaskCommand | kMaskShift}}},
      {"org.example.term", IAppSettings{}}};
  std::vector<AppSettingsMap> seen;
  auto sub = storage_.appSettingsStream().subscribe([&](const auto& m) { seen.push_back(m); });

  storage_.saveAppSettings(settings);
  ASSERT_TRUE(defaults_->getBytes(keys::kAppSettings));
  EXPECT_EQ(DefaultsStorage(defaults_, "1").loadAppSettings(), settings);

  // An unencodable map is reported and the stored settings stay.
  storage_.saveAppSettings({{std::string("bad\0id", 6), IAppSettings{}}});
  EXPECT_EQ(storage_.loadAppSettings(), settings);

  EXPECT_EQ(seen, (std::vector<AppSettingsMap>{{}, settings}));
  const auto errors = sentErrors(analytics_);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].location, "storage.encodeValue_000");
  sub.dispose();
}

TEST_F(DefaultsStorageTest, FirstRunDefaultsFromPreparedStores) {
  const std::string buildError(kFailedToGetBuildVersion);
  struct Case {
    const char* label;
    std::vector<Layout> layouts;
    std::optional<coding::Value> userSince;
    std::optional<coding::Value> closeBehavior;
    std::optional<std::string> bundleVersion;
    bool featureEditWindow;
    std::optional<std::int64_t> userSinceAfter;
    std::optional<std::string> closeBehaviorAfter;
    std::vector<SentError> errors;
  };
  const Case cases[] = {
      {"first run without layouts or build number",
       {},
       {},
       {},
       std::nullopt,
       true,
       std::nullopt,
       std::nullopt,
       {{buildError, std::nullopt}}},
      {"build number that is not an integer",
       {},
       {},
       {},
       "12a",
       true,
       std::nullopt,
       std::nullopt,
       {{buildError, std::nullopt}}},
      {"known user without layouts",
       {},
       coding::Value(900),
       {},
       "1207",
       true,
       900,
       std::nullopt,
       {}},
      {"known user with layouts",
       {layout("A", {}, true)},
       coding::Value(900),
       {},
       "1207",
       false,
       900,
       std::nullopt,
       {}},
      {"upgrade from a version without the build number",
       {layout("A", {}, false), layout("B", {}, true)},
       {},
       {},
       "+1207",
       false,
       1207,
       "quit",
       {}},
      {"stored close behaviour is kept",
       {layout("B", {}, true)},
       {},
       coding::Value("close"),
       "1207",
       false,
       1207,
       "close",
       {}},
      {"no layout closes other apps",
       {layout("A", {}, false), layout("B")},
       {},
       {},
       "1207",
       false,
       1207,
       std::nullopt,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto defaults = std::make_shared<RefusingUserDefaults>();
    if (!c.layouts.empty()) store(*defaults, keys::kSaved, plistOf(c.layouts));
    if (c.userSince) store(*defaults, keys::kUserSince, *c.userSince);
    if (c.closeBehavior) store(*defaults, keys::kCloseBehavior, *c.closeBehavior);
    analytics_.backend().clear();

    DefaultsStorage(defaults, c.bundleVersion).applyFirstRunDefaults();

    EXPECT_EQ(defaults->getBool(keys::kFeatureEditLayout).value_or(false), c.featureEditWindow);
    EXPECT_EQ(defaults->getInt64(keys::kUserSince), c.userSinceAfter);
    EXPECT_EQ(defaults->getString(keys::kCloseBehavior), c.closeBehaviorAfter);
    EXPECT_EQ(sentErrors(analytics_), c.errors);

    // The next start does the same again, or nothing more once the build is known.
    analytics_.backend().clear();
    DefaultsStorage(defaults, c.bundleVersion).applyFirstRunDefaults();
    EXPECT_EQ(defaults->getInt64(keys::kUserSince), c.userSinceAfter);
    EXPECT_EQ(sentErrors(analytics_), c.errors);
  }
}

TEST(BuildNumberTest, ParsesOnlySignedDecimalIntegers) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"1207", 1207},
      {"+5", 5},
      {"-3", -3},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"+-3", std::nullopt},
      {" 12", std::nullopt},
      {"12 ", std::nullopt},
      {"1.0", std::nullopt},
      {"0x10", std::nullopt},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", std::nullopt},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(parseBuildNumber(text), expected) << text;
}

TEST(SharedDefaultsStorageTest, MadeOnFirstUseFromItsConfiguration) {
  auto defaults = std::make_shared<RefusingUserDefaults>();
  DefaultsStorage::configureShared(defaults, "3");
  auto first = DefaultsStorage::shared();
  EXPECT_EQ(first, DefaultsStorage::shared());
  first->saveLayout(layout("A"));
  EXPECT_TRUE(defaults->contains(keys::kSaved));

  DefaultsStorage::configureShared(std::make_shared<RefusingUserDefaults>(), "3");
  EXPECT_NE(DefaultsStorage::shared(), first);
  EXPECT_TRUE(DefaultsStorage::shared()->loadLayouts().empty());
  // Without a store of its own it uses the process-wide standard store.
  auto standard = std::make_shared<RefusingUserDefaults>();
  platform::UserDefaults::setSharedForTesting(standard);
  DefaultsStorage::configureShared(nullptr, "3");
  DefaultsStorage::shared()->saveLayout(layout("B"));
  EXPECT_TRUE(standard->contains(keys::kSaved));
  platform::UserDefaults::setSharedForTesting(nullptr);

  DefaultsStorage::setSharedForTesting();
  EXPECT_DEATH(DefaultsStorage::shared(), "before configureShared");
}

}  // namespace
}  // namespace wendrix

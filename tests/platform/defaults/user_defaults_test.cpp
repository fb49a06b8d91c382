#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/defaults/file_user_defaults.h"
#include "platform/defaults/memory_user_defaults.h"
#include "support/binary_plist.h"
#include "support/dead_pid.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using support::ScopedEnvironment;
using support::TempDir;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<fs::path> filesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir))
    out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

std::shared_ptr<FileUserDefaults> openStore(const fs::path& path) {
  auto store = FileUserDefaults::open(path);
  EXPECT_TRUE(store) << (store ? "" : store.error().description);
  return store ? *store : nullptr;
}

const base::Time kDate = base::Time(std::chrono::seconds(1714557600) + 250ms);

void fillEveryKind(UserDefaults& d) {
  ASSERT_TRUE(d.set("bool", false));
  ASSERT_TRUE(d.set("int", std::int64_t{-7}));
  ASSERT_TRUE(d.set("double", 2.5));
  ASSERT_TRUE(d.set("string", "TLDarAveved/é"));
  ASSERT_TRUE(d.set("bytes", base::Bytes{0, 1, 2}));
  ASSERT_TRUE(d.set("date", kDate));
  ASSERT_TRUE(d.set("array", coding::Array{1, "x"}));
  ASSERT_TRUE(d.set("dict", coding::Dictionary{{"k", true}}));
}

void expectEveryKind(const UserDefaults& d) {
  EXPECT_EQ(d.getBool("bool"), false);
  EXPECT_EQ(d.getInt64("int"), -7);
  EXPECT_EQ(d.getDouble("double"), 2.5);
  EXPECT_EQ(d.getDouble("int"), -7.0);
  EXPECT_EQ(d.getString("string"), "TLDarAveved/é");
  EXPECT_EQ(d.getBytes("bytes"), (base::Bytes{0, 1, 2}));
  EXPECT_EQ(d.getDate("date"), kDate);
  EXPECT_EQ(d.get("array"), coding::Value(coding::Array{1, "x"}));
  EXPECT_EQ(d.get("dict"), coding::Value(coding::Dictionary{{"k", true}}));
  // Absent and mistyped keys read as none, never as false or zero.
  EXPECT_EQ(d.getBool("missing"), std::nullopt);
  EXPECT_EQ(d.getBool("int"), std::nullopt);
  EXPECT_EQ(d.getString("int"), std::nullopt);
}

TEST(MemoryUserDefaultsTest, StoresEveryKindAndRemoves) {
  MemoryUserDefaults d;
  fillEveryKind(d);
  expectEveryKind(d);
  ASSERT_TRUE(d.remove("bool"));
  ASSERT_TRUE(d.set("int", nullptr));  // null removes
  EXPECT_FALSE(d.contains("bool"));
  EXPECT_FALSE(d.contains("int"));
  EXPECT_EQ(d.keys().size(), 6u);
}

TEST(FileUserDefaultsTest, SecondInstanceReadsWhatFirstWrote) {
  TempDir dir;
  const fs::path path = dir.path() / "app.Wendrix" / "defaults.plist";
  {
    auto first = openStore(path);
    EXPECT_TRUE(first->keys().empty());
    fillEveryKind(*first);
    ASSERT_TRUE(first->set("gone", 1));
    ASSERT_TRUE(first->remove("gone"));
  }
  auto second = openStore(path);
  expectEveryKind(*second);
  EXPECT_FALSE(second->contains("gone"));
  // Only the store file, its lock and the spare the next write fills
  // remain: no temporary files.
  EXPECT_EQ(
      filesIn(path.parent_path()),
      (std::vector<fs::path>{".defaults.plist.spare", "defaults.plist", "defaults.plist.lock"}));
}

TEST(FileUserDefaultsTest, LiveInstancesOnOneFileKeepEachOthersKeys) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  auto a = openStore(path);
  auto b = openStore(path);
  ASSERT_TRUE(a->set("a", 1));
  ASSERT_TRUE(b->set("b", 2));
  EXPECT_EQ(a->getInt64("b"), 2);
  ASSERT_TRUE(a->set("a", 3));
  EXPECT_EQ(b->getInt64("a"), 3);
  EXPECT_EQ(openStore(path)->keys(), (std::vector<std::string>{"a", "b"}));
}

TEST(FileUserDefaultsTest, ConcurrentWritersLoseNothing) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  auto shared = openStore(path);
  auto other = openStore(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      UserDefaults& store = t % 2 ? *other : *shared;
      for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(store.set("t" + std::to_string(t) + "." + std::to_string(i), i));
      }
    });
  }
  for (auto& t : threads)
    t.join();
  auto fresh = openStore(path);
  EXPECT_EQ(fresh->keys().size(), 80u);
  EXPECT_EQ(fresh->getInt64("t3.19"), 19);
}

TEST(FileUserDefaultsTest, UnreadableFileIsMovedAsideNotOverwritten) {
  const std::pair<const char*, std::string> cases[] = {
      {"garbage", "this is not a property list"},
      {"truncated", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>"},
      {"array at top", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>"},
      // The parser asserted on this key and the program could not start.
      {"key with U+0000", support::kNulKeyPlist},
      // 2^41 objects once shared ones are copied: hours and gigabytes to open.
      {"shared objects", support::sharedChainPlist(40)},
  };
  for (const auto& [name, contents] : cases) {
    TempDir dir;
    const fs::path path = dir.path() / "defaults.plist";
    std::ofstream(path) << contents;

    ::testing::internal::CaptureStderr();
    auto store = openStore(path);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(store) << name;
    EXPECT_TRUE(store->keys().empty()) << name;
    EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
    EXPECT_NE(err.find(path.string() + ".corrupt-"), std::string::npos) << err;

    fs::path aside;
    for (const auto& file : filesIn(dir.path())) {
      if (file.string().rfind("defaults.plist.corrupt-", 0) == 0) aside = dir.path() / file;
    }
    ASSERT_FALSE(aside.empty()) << name;
    EXPECT_EQ(readFile(aside), contents);

    ASSERT_TRUE(store->set("k", "v"));
    EXPECT_EQ(openStore(path)->getString("k"), "v");
    EXPECT_EQ(readFile(aside), contents);
  }
}

// A writer killed between creating its temporary and the rename left it.
TEST(FileUserDefaultsTest, OpeningRemovesTemporariesOfDeadWriters) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  const std::string dead = std::to_string(support::deadPid());
  const std::string live = std::to_string(::getpid());
  for (const std::string& name :
       {".defaults.plist.tmp-" + dead + "-3", ".defaults.plist.tmp-" + live + "-0",
        ".other.tmp-" + dead + "-0"})
    std::ofstream(dir.path() / name) << "partial";

  ASSERT_TRUE(openStore(path));
  EXPECT_EQ(filesIn(dir.path()),
            (std::vector<fs::path>{".defaults.plist.tmp-" + live + "-0",
                                   ".other.tmp-" + dead + "-0", "defaults.plist.lock"}));
}

TEST(FileUserDefaultsTest, FailedWriteLeavesStoreUnchanged) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  auto store = openStore(path);
  ASSERT_TRUE(store->set("kept", "v"));
  const std::string before = readFile(path);

  // A value the file format cannot hold.
  EXPECT_FALSE(store->set("bad", coding::Array{coding::Value()}));
  EXPECT_FALSE(store->contains("bad"));
  EXPECT_EQ(readFile(path), before);
  // Nor over a key that holds a value: the old one stays.
  EXPECT_FALSE(store->set("kept", coding::Array{coding::Value()}));
  EXPECT_EQ(store->getString("kept"), "v");
  EXPECT_EQ(readFile(path), before);

  // A folder that cannot be made (its parent is a file).
  std::ofstream(dir.path() / "file") << "x";
  auto blocked = openStore(dir.path() / "file" / "defaults.plist");
  auto status = blocked->set("k", 1);
  EXPECT_FALSE(status);
  EXPECT_FALSE(blocked->contains("k"));
}

TEST(FileUserDefaultsTest, StoringTheValueAlreadyThereLeavesTheFileAlone) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  auto store = openStore(path);
  ASSERT_TRUE(store->set("k", coding::Array{1, "x"}));
  struct ::stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  EXPECT_TRUE(store->set("k", coding::Array{1, "x"}));
  struct ::stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not replaced

  // Another instance changed the file meanwhile: the write goes on.
  auto other = openStore(path);
  ASSERT_TRUE(other->set("k", 2));
  EXPECT_TRUE(store->set("k", coding::Array{1, "x"}));
  EXPECT_EQ(openStore(path)->get("k"), coding::Value(coding::Array{1, "x"}));
}

TEST(FileUserDefaultsTest, LargeDataIsWrittenWholeBesideOtherKeys) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  base::Bytes big(300000);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<std::uint8_t>(i * 7);
  auto store = openStore(path);
  ASSERT_TRUE(store->set("before", "a"));
  ASSERT_TRUE(store->set("big", big));
  ASSERT_TRUE(store->set("after", coding::Array{1, base::Bytes(100000, 3)}));
  ASSERT_TRUE(store->set("before", "b"));  // rewritten with the data in place
  auto reopened = openStore(path);
  EXPECT_EQ(reopened->getBytes("big"), big);
  EXPECT_EQ(reopened->get("after"), coding::Value(coding::Array{1, base::Bytes(100000, 3)}));
  EXPECT_EQ(reopened->getString("before"), "b");
  EXPECT_EQ(store->getBytes("big"), big);
}

TEST(FileUserDefaultsTest, ReadVisitsTheValueInPlace) {
  TempDir dir;
  auto store = openStore(dir.path() / "defaults.plist");
  ASSERT_TRUE(store->set("bytes", base::Bytes{1, 2, 3}));
  std::size_t seen = 0;
  EXPECT_TRUE(
      store->read("bytes", [&](const coding::Value& v) { seen = v.getIf<base::Bytes>()->size(); }));
  EXPECT_EQ(seen, 3u);
  EXPECT_FALSE(store->read("missing", [&](const coding::Value&) { seen = 0; }));
  EXPECT_EQ(seen, 3u);
}

UserDefaults::Revision revisionOf(const UserDefaults& store, std::string_view key) {
  UserDefaults::Revision out = 0;
  store.readWithRevision(key, [&](const coding::Value&, UserDefaults::Revision r) { out = r; });
  return out;
}

void expectRevisionsAndTailEdits(UserDefaults& store) {
  ASSERT_TRUE(store.set("data", base::Bytes{1, 2, 3, 4}));
  ASSERT_TRUE(store.set("other", "x"));
  const UserDefaults::Revision first = revisionOf(store, "data");
  EXPECT_NE(first, 0u);
  EXPECT_EQ(revisionOf(store, "data"), first);

  const base::Bytes tail{9, 8};
  auto edited = store.replaceDataTail("data", first, 2, tail);
  ASSERT_TRUE(edited) << edited.error().description;
  EXPECT_NE(*edited, first);
  EXPECT_EQ(revisionOf(store, "data"), *edited);
  EXPECT_EQ(store.getBytes("data"), (base::Bytes{1, 2, 9, 8}));

  // Refused, with the value unchanged: an earlier revision, fewer bytes than
  // kept, a value that is no data, an absent key.
  EXPECT_FALSE(store.replaceDataTail("data", first, 2, tail));
  EXPECT_FALSE(store.replaceDataTail("data", *edited, 5, tail));
  EXPECT_FALSE(store.replaceDataTail("other", revisionOf(store, "other"), 0, tail));
  EXPECT_FALSE(store.replaceDataTail("missing", *edited, 0, tail));
  EXPECT_EQ(store.getBytes("data"), (base::Bytes{1, 2, 9, 8}));
  EXPECT_EQ(revisionOf(store, "data"), *edited);

  ASSERT_TRUE(store.set("data", base::Bytes{5}));
  EXPECT_NE(revisionOf(store, "data"), *edited);
  EXPECT_NE(revisionOf(store, "data"), first);
}

TEST(UserDefaultsTest, RevisionsTellChangesAndGuardTailEdits) {
  MemoryUserDefaults memory;
  expectRevisionsAndTailEdits(memory);
  TempDir dir;
  expectRevisionsAndTailEdits(*openStore(dir.path() / "defaults.plist"));
}

TEST(FileUserDefaultsTest, TailEditsReachTheFileAndYieldToOtherWriters) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  auto store = openStore(path);
  ASSERT_TRUE(store->set("data", base::Bytes(200000, 1)));
  ASSERT_TRUE(store->set("other", "x"));
  auto edited =
      store->replaceDataTail("data", revisionOf(*store, "data"), 100000, base::Bytes(50, 2));
  ASSERT_TRUE(edited);
  base::Bytes expected(100000, 1);
  expected.resize(100050, 2);
  EXPECT_EQ(openStore(path)->getBytes("data"), expected);
  EXPECT_EQ(openStore(path)->getString("other"), "x");

  // Another instance rewrote the file: what this one holds is read again, so
  // an edit of what it held before is refused.
  ASSERT_TRUE(openStore(path)->set("other", "y"));
  EXPECT_FALSE(store->replaceDataTail("data", *edited, 0, base::Bytes{}));
  EXPECT_EQ(openStore(path)->getBytes("data"), expected);
}

TEST(FileUserDefaultsTest, ATailEditThatCannotBeWrittenLeavesTheStoreUnchanged) {
  TempDir dir;
  const fs::path path = dir.path() / "defaults.plist";
  auto store = openStore(path);
  ASSERT_TRUE(store->set("data", base::Bytes(100000, 1)));
  const std::string before = readFile(path);
  const UserDefaults::Revision revision = revisionOf(*store, "data");

  // Files may not grow past 64 KiB while the edit is written (even as root).
  struct ::rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct ::rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto edited = store->replaceDataTail("data", revision, 99990, base::Bytes{7});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(edited);
  EXPECT_EQ(store->getBytes("data"), base::Bytes(100000, 1));
  EXPECT_EQ(revisionOf(*store, "data"), revision);
  EXPECT_EQ(readFile(path), before);
  // The same edit goes through once it can be written.
  EXPECT_TRUE(store->replaceDataTail("data", revision, 99990, base::Bytes{7}));
  base::Bytes expected(99990, 1);
  expected.push_back(7);
  EXPECT_EQ(openStore(path)->getBytes("data"), expected);
}

TEST(FileUserDefaultsTest, DefaultPathIsTheIdentitysFolderUnderXdgConfigHome) {
  const support::ScopedAppIdentity identity;
  ScopedEnvironment config({{"XDG_CONFIG_HOME", "/tmp/cfg"}, {"HOME", "/home/probe"}});
  EXPECT_EQ(FileUserDefaults::defaultPath(), fs::path("/tmp/cfg/test.Wendrix/defaults.plist"));
  config.set("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(FileUserDefaults::defaultPath(),
            fs::path("/home/probe/.config/test.Wendrix/defaults.plist"));
}

TEST(UserDefaultsTest, StandardCanBeReplacedAndReset) {
  const support::ScopedAppIdentity identity;
  auto memory = std::make_shared<MemoryUserDefaults>();
  UserDefaults::setSharedForTesting(memory);
  EXPECT_EQ(UserDefaults::standard(), memory);

  TempDir dir;
  ScopedEnvironment config({{"XDG_CONFIG_HOME", dir.path().string()}});
  UserDefaults::setSharedForTesting(nullptr);
  ASSERT_TRUE(UserDefaults::standard()->set("x", 1));
  EXPECT_TRUE(fs::exists(dir.path() / "test.Wendrix" / "defaults.plist"));
  UserDefaults::setSharedForTesting(nullptr);
}

}  // namespace
}  // namespace platform

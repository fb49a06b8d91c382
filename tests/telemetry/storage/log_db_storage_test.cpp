#include "telemetry/storage/log_db_storage.h"

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "base/base64.h"
#include "storage_fixture.h"
#include "telemetry/schema/common_schema_log.h"

namespace tlm {
namespace {

using testing::LogCapture;
using testing::RawDatabase;
using testing::TempDir;

// Reversible "encryption" that shows whether a text went through it.
struct FakeEncrypter {
  bool failEncrypt = false;
  bool failDecrypt = false;

  std::optional<std::string> encryptString(std::string_view text) {
    if (failEncrypt) return std::nullopt;
    return "sealed:" + std::string(text.rbegin(), text.rend());
  }
  std::optional<std::string> decryptString(std::string_view text) {
    if (failDecrypt || !text.starts_with("sealed:")) return std::nullopt;
    text.remove_prefix(7);
    return std::string(text.rbegin(), text.rend());
  }
};

std::shared_ptr<TLMAbstractLog> makeLog(std::string sid, std::size_t padding = 0) {
  auto log = std::make_shared<TLMLogWithProperties>();
  log->type = "test";
  log->sid = std::move(sid);
  if (padding > 0)
    log->properties = std::map<std::string, std::string>{{"pad", std::string(padding, 'p')}};
  return log;
}

std::shared_ptr<TLMAbstractLog> makeCommonSchemaLog(std::string sid, const std::string& token) {
  auto log = std::make_shared<TLMCommonSchemaLog>();
  log->sid = std::move(sid);
  log->ver = "3.0";
  log->name = "event";
  log->addTransmissionTargetToken(token);
  return log;
}

struct Batch {
  std::vector<std::string> sids;
  std::vector<std::shared_ptr<TLMAbstractLog>> logs;
  std::optional<std::string> batchId;
  bool more = false;
};

class LogDBStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerLogModelArchiveClasses();
    registerCommonSchemaArchiveClasses();
    store = openStore();
  }

  std::unique_ptr<TLMLogDBStorage> openStore() {
    return std::make_unique<TLMLogDBStorage>(
        dir.path(), std::make_shared<TLMTargetTokenEncrypterOf<FakeEncrypter>>(encrypter));
  }
  std::filesystem::path file() const { return dir.path() / "Logs.sqlite"; }

  Batch load(const std::string& groupId, std::uint64_t limit,
             const std::vector<std::string>& excluded = {}) {
    Batch batch;
    bool called = false;
    batch.more = store->loadLogsWithGroupId(
        groupId, limit, excluded,
        [&](std::vector<std::shared_ptr<TLMAbstractLog>> loaded, std::optional<std::string> id) {
          called = true;
          batch.logs = std::move(loaded);
          batch.batchId = std::move(id);
        });
    EXPECT_TRUE(called);
    for (const auto& log : batch.logs)
      batch.sids.push_back(log->sid.value_or("?"));
    EXPECT_EQ(batch.batchId.has_value(), !batch.logs.empty());
    return batch;
  }

  void saveAll(const std::string& groupId, const std::vector<std::string>& sids,
               std::uint64_t flags = 1) {
    for (const auto& sid : sids)
      ASSERT_TRUE(store->saveLog(makeLog(sid), groupId, flags)) << sid;
  }

  std::int64_t rowsWithPriority(int priority) {
    return RawDatabase(file()).number("SELECT COUNT(*) FROM logs WHERE priority = " +
                                      std::to_string(priority));
  }

  TempDir dir;
  LogCapture logs;
  FakeEncrypter encrypter;
  std::unique_ptr<TLMLogDBStorage> store;
};

TEST_F(LogDBStorageTest, NewFileHasTheLogsTableAndPriorityIndex) {
  RawDatabase raw(file());
  EXPECT_EQ(raw.text("SELECT sql FROM sqlite_master WHERE name = 'logs'"),
            "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT "
            "NULL, \"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" "
            "INTEGER)");
  EXPECT_EQ(raw.text("SELECT sql FROM sqlite_master WHERE name = 'ix_logs_priority'"),
            "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")");
  EXPECT_EQ(raw.number("PRAGMA user_version"), 5);
  EXPECT_EQ(raw.number("PRAGMA auto_vacuum"), 1);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Info, "Created \"Logs.sqlite\" database with 5 version."));
}

TEST_F(LogDBStorageTest, OlderVersionIsRebuiltWithoutItsLogs) {
  store.reset();
  std::filesystem::remove(file());
  {
    RawDatabase old(file());
    old.exec(
        "CREATE TABLE logs (id INTEGER PRIMARY KEY, groupId TEXT, log TEXT);"
        "INSERT INTO logs (groupId, log) VALUES ('Analytics', 'old');"
        "PRAGMA user_version = 4;");
  }

  store = openStore();

  EXPECT_TRUE(
      logs.contains(TLMLogLevel::Info, "Migrating \"Logs.sqlite\" database from version 4 to 5."));
  EXPECT_EQ(store->countLogs(), 0u);
  RawDatabase raw(file());
  EXPECT_EQ(raw.number("PRAGMA user_version"), 5);
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM sqlite_master WHERE name = 'ix_logs_priority'"), 1);
  saveAll("Analytics", {"new"});
  EXPECT_EQ(load("Analytics", 10).sids, std::vector<std::string>{"new"});
}

TEST_F(LogDBStorageTest, CorruptFileIsReplacedByAWorkingStore) {
  store.reset();
  {
    std::ofstream garbage(file(), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 3000; ++i)
      garbage << "garbage ";
  }

  store = openStore();

  saveAll("Analytics", {"a", "b"});
  EXPECT_EQ(load("Analytics", 10).sids, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(RawDatabase(file()).number(
                "SELECT COUNT(*) FROM sqlite_master WHERE name = 'ix_logs_priority'"),
            1);
}

// The store keeps its connection between saves, but no transaction or lock:
// a saved log is in the file for everyone, and a file put in the place of
// its own is the one the next save writes to.
TEST_F(LogDBStorageTest, BetweenSavesTheFileIsFreeAndAReplacedOneIsFollowed) {
  saveAll("Analytics", {"a"});
  {
    RawDatabase raw(file());
    EXPECT_EQ(raw.number("SELECT COUNT(*) FROM logs"), 1);
    raw.exec(
        "BEGIN IMMEDIATE; INSERT INTO logs (groupId, log, priority) VALUES ('Other', 'x', 1);"
        "COMMIT;");
  }
  const auto copy = dir.path() / "copy.sqlite";
  std::filesystem::copy_file(file(), copy);
  std::filesystem::rename(copy, file());

  saveAll("Analytics", {"b"});
  EXPECT_EQ(RawDatabase(file()).number("SELECT COUNT(*) FROM logs WHERE groupId = 'Analytics'"), 2);
  EXPECT_EQ(load("Analytics", 10).sids, (std::vector<std::string>{"a", "b"}));
}

TEST_F(LogDBStorageTest, BatchesComeHighestPriorityFirstThenOldest) {
  ASSERT_TRUE(store->saveLog(makeLog("normal-1"), "Analytics", 1));
  ASSERT_TRUE(store->saveLog(makeLog("critical-1"), "Analytics", 0x102));  // priority byte 2
  ASSERT_TRUE(store->saveLog(makeLog("normal-2"), "Analytics", 1));
  ASSERT_TRUE(store->saveLog(makeLog("critical-2"), "Analytics", 2));
  ASSERT_TRUE(store->saveLog(makeLog("other group"), "Crashes", 2));

  const Batch first = load("Analytics", 3);
  EXPECT_EQ(first.sids, (std::vector<std::string>{"critical-1", "critical-2", "normal-1"}));
  EXPECT_TRUE(first.more);

  // Logs in flight are not handed out twice.
  const Batch second = load("Analytics", 3);
  EXPECT_EQ(second.sids, std::vector<std::string>{"normal-2"});
  EXPECT_FALSE(second.more);
  EXPECT_NE(first.batchId, second.batchId);

  const Batch empty = load("Analytics", 3);
  EXPECT_TRUE(empty.logs.empty());
  EXPECT_FALSE(empty.more);
}

TEST_F(LogDBStorageTest, MoreWaitingMeansRowsBeyondTheLimit) {
  struct Case {
    int stored;
    std::size_t loaded;
    bool more;
  };
  int group = 0;
  for (const Case& c : {Case{51, 50, true}, Case{50, 50, false}}) {
    const std::string groupId = "group" + std::to_string(group++);
    std::vector<std::string> sids;
    for (int i = 0; i < c.stored; ++i)
      sids.push_back(std::to_string(i));
    saveAll(groupId, sids);

    const Batch batch = load(groupId, 50);
    EXPECT_EQ(batch.logs.size(), c.loaded) << c.stored;
    EXPECT_EQ(batch.more, c.more) << c.stored;
    EXPECT_EQ(batch.sids.front(), "0");
  }
}

TEST_F(LogDBStorageTest, DeletingABatchRemovesExactlyItsLogs) {
  saveAll("Analytics", {"a", "b", "c"});
  const Batch first = load("Analytics", 2);
  const Batch second = load("Analytics", 2);
  ASSERT_EQ(second.sids, std::vector<std::string>{"c"});

  store->deleteLogsWithBatchId(*first.batchId, "Analytics");
  EXPECT_EQ(store->countLogs(), 1u);
  store->deleteLogsWithBatchId(*first.batchId, "Analytics");       // again: nothing
  store->deleteLogsWithBatchId(*second.batchId, "Analytics/one");  // wrong group: ignored
  EXPECT_EQ(store->countLogs(), 1u);

  // Batches live in memory only: after a restart the log in flight is
  // handed out again.
  store = openStore();
  EXPECT_EQ(load("Analytics", 10).sids, std::vector<std::string>{"c"});
}

TEST_F(LogDBStorageTest, DeletingAGroupKeepsBatchesOfGroupsSharingItsPrefix) {
  const std::vector<std::string> groups = {"Analytics", "Analytics_critical", "Analytics/one"};
  std::map<std::string, Batch> inFlight;
  for (const auto& group : groups) {
    saveAll(group, {group + " 1", group + " 2"});
    inFlight[group] = load(group, 1);
  }

  const auto deleted = store->deleteLogsWithGroupId("Analytics");

  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(deleted[0]->sid, "Analytics 1");
  for (const auto& group : {"Analytics_critical", "Analytics/one"}) {
    // The first log is still in flight, so only the second comes now.
    EXPECT_EQ(load(group, 10).sids, std::vector<std::string>{std::string(group) + " 2"});
  }
  // And the in-flight batch can still be deleted once delivered.
  store->deleteLogsWithBatchId(*inFlight["Analytics_critical"].batchId, "Analytics_critical");
  EXPECT_EQ(store->countLogs(), 3u);
  EXPECT_EQ(store->logsFromDBWithGroupId("Analytics_critical").size(), 1u);
}

TEST_F(LogDBStorageTest, FullStoreEvictsLowerPriorityOldestFirst) {
  std::optional<bool> resized;
  store->setMaxStorageSize(12 * 4096, [&](bool success) { resized = success; });
  ASSERT_EQ(resized, true);

  // Normal logs until the first one has to make room.
  int saved = 0;
  while (rowsWithPriority(1) == saved && saved < 100) {
    ASSERT_TRUE(store->saveLog(makeLog("normal-" + std::to_string(saved), 1500), "Analytics", 1));
    ++saved;
  }
  ASSERT_LT(saved, 100);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Debug, "Deleted a log with id 1 to store a new log."));
  auto remaining = store->logsFromDBWithGroupId("Analytics");
  EXPECT_EQ(remaining.front()->sid, "normal-1");
  EXPECT_EQ(remaining.back()->sid, "normal-" + std::to_string(saved - 1));

  // Critical logs, also of another group, push out every normal log ...
  int critical = 0;
  while (rowsWithPriority(1) > 0 && critical < 100) {
    ASSERT_TRUE(store->saveLog(makeLog("critical", 1500), "Crashes", 2));
    ++critical;
  }
  ASSERT_LT(critical, 100);
  EXPECT_TRUE(
      logs.contains(TLMLogLevel::Debug, "oldest log(s) with equal or lower priority deleted."));

  // ... and a normal log can push out none of them.
  const auto before = store->countLogs();
  EXPECT_FALSE(store->saveLog(makeLog("late normal", 1500), "Analytics", 1));
  EXPECT_EQ(store->countLogs(), before);
  EXPECT_EQ(rowsWithPriority(2), static_cast<std::int64_t>(before));
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error,
                            "Storage is full and no logs with equal or lower priority exist; "
                            "discarding the log."));
}

TEST_F(LogDBStorageTest, LogsSavedTogetherEachHaveTheOutcomeTheyWouldHaveAlone) {
  store->setMaxStorageSize(12 * 4096, nullptr);
  const std::vector<TLMStorage::LogToSave> first = {
      {makeLog("a"), 1}, {makeLog("huge", 60000), 1}, {nullptr, 1}, {makeLog("b"), 1}};
  EXPECT_EQ(store->saveLogs(first, "Analytics"), (std::vector<bool>{true, false, false, true}));
  auto stored = store->logsFromDBWithGroupId("Analytics");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->sid, "a");
  EXPECT_EQ(stored[1]->sid, "b");

  // Full of critical logs: a normal log amid the batch evicts nothing and is
  // refused, while a critical one after it makes its room.
  int critical = 0;
  while (rowsWithPriority(1) > 0 && critical < 100) {
    ASSERT_TRUE(
        store->saveLog(makeLog("critical-" + std::to_string(critical), 1500), "Crashes", 2));
    ++critical;
  }
  ASSERT_LT(critical, 100);
  const auto before = store->countLogs();
  const auto oldest = store->logsFromDBWithGroupId("Crashes").front()->sid;
  const std::vector<TLMStorage::LogToSave> second = {{makeLog("normal", 1500), 1},
                                                     {makeLog("last critical", 1500), 2}};
  EXPECT_EQ(store->saveLogs(second, "Crashes"), (std::vector<bool>{false, true}));
  EXPECT_EQ(store->countLogs(), before);
  const auto crashes = store->logsFromDBWithGroupId("Crashes");
  EXPECT_NE(crashes.front()->sid, oldest);
  EXPECT_EQ(crashes.back()->sid, "last critical");
}

TEST_F(LogDBStorageTest, FailureAfterAnEvictionKeepsTheEvictedLog) {
  store->setMaxStorageSize(12 * 4096, nullptr);
  int saved = 0;
  while (rowsWithPriority(1) == saved && saved < 100) {
    ASSERT_TRUE(store->saveLog(makeLog("normal-" + std::to_string(saved), 1500), "Analytics", 1));
    ++saved;
  }
  ASSERT_LT(saved, 100);
  // Full now, with one log to a page: the next log needs one eviction. The
  // trigger refuses an insert once a row is gone, that is right after it.
  const std::int64_t before = rowsWithPriority(1);
  RawDatabase(file()).exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON logs WHEN (SELECT COUNT(*) FROM logs) < " +
      std::to_string(before) + " BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
  logs.clear();

  EXPECT_FALSE(store->saveLog(makeLog("refused", 1500), "Analytics", 1));

  EXPECT_TRUE(logs.contains(TLMLogLevel::Debug, "to store a new log."));  // it did evict
  EXPECT_EQ(rowsWithPriority(1), before);
  EXPECT_EQ(store->logsFromDBWithGroupId("Analytics").front()->sid, "normal-1");

  // The same amid logs saved together: each refused log's eviction is undone.
  const std::vector<TLMStorage::LogToSave> together = {{makeLog("refused-1", 1500), 1},
                                                       {makeLog("refused-2", 1500), 1}};
  EXPECT_EQ(store->saveLogs(together, "Analytics"), (std::vector<bool>{false, false}));
  EXPECT_EQ(rowsWithPriority(1), before);
  EXPECT_EQ(store->logsFromDBWithGroupId("Analytics").front()->sid, "normal-1");
}

TEST_F(LogDBStorageTest, LogLargerThanTheWholeStoreIsRefusedWithoutEviction) {
  store->setMaxStorageSize(24576, nullptr);
  saveAll("Analytics", {"small"});

  EXPECT_FALSE(store->saveLog(makeLog("huge", 30000), "Analytics", 2));

  EXPECT_EQ(store->countLogs(), 1u);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error,
                            "to store in database. Current maximum database "
                            "size is 24576 bytes."));
}

TEST_F(LogDBStorageTest, TargetTokensAreEncryptedAtRestAndPausedKeysSkipped) {
  ASSERT_TRUE(store->saveLog(makeCommonSchemaLog("cs", "key1-secret"), "Analytics/one", 1));
  ASSERT_TRUE(store->saveLog(makeLog("plain"), "Analytics/one", 1));
  {
    RawDatabase raw(file());
    const auto rows = raw.rows("SELECT targetToken, targetKey FROM logs ORDER BY id");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (TLMStorageRow{std::string("sealed:terces-1yek"), std::string("key1")}));
    EXPECT_EQ(rows[1], (TLMStorageRow{std::monostate(), std::monostate()}));
  }

  // A paused key holds back its logs only; a log without a key is never of
  // a paused target.
  const Batch paused = load("Analytics/one", 10, {"key1", "key2"});
  EXPECT_EQ(paused.sids, std::vector<std::string>{"plain"});
  EXPECT_FALSE(paused.more);
  EXPECT_EQ(store->countLogs(), 2u);

  const Batch resumed = load("Analytics/one", 10);
  ASSERT_EQ(resumed.sids, std::vector<std::string>{"cs"});
  const auto* cs = dynamic_cast<const TLMCommonSchemaLog*>(resumed.logs[0].get());
  ASSERT_NE(cs, nullptr);
  EXPECT_EQ(cs->name, "event");
  EXPECT_EQ(resumed.logs[0]->transmissionTargetTokens(), std::set<std::string>{"key1-secret"});
}

TEST_F(LogDBStorageTest, TokenThatCannotBeDecryptedIsDroppedButTheLogKept) {
  ASSERT_TRUE(store->saveLog(makeCommonSchemaLog("cs", "key1-secret"), "Analytics/one", 1));
  encrypter.failDecrypt = true;

  const Batch batch = load("Analytics/one", 10);

  ASSERT_EQ(batch.sids, std::vector<std::string>{"cs"});
  EXPECT_TRUE(batch.logs[0]->transmissionTargetTokens().empty());
  EXPECT_TRUE(
      logs.contains(TLMLogLevel::Error, "Failed to decrypt the target token for log with Id 1."));
}

TEST_F(LogDBStorageTest, TokenThatCannotBeEncryptedIsNeverStoredInClear) {
  encrypter.failEncrypt = true;

  EXPECT_FALSE(store->saveLog(makeCommonSchemaLog("cs", "key1-secret"), "Analytics/one", 1));
  EXPECT_EQ(store->countLogs(), 0u);
}

TEST_F(LogDBStorageTest, UndecodableRowsAreDeletedWhenRead) {
  saveAll("Analytics", {"good"});
  RawDatabase(file()).exec(
      "INSERT INTO logs (groupId, log, priority) VALUES ('Analytics', '%%% not base64 %%%', 1),"
      "('Analytics', '" +
      base::base64Encode(std::string_view("bytes that are no archive")) + "', 1);");

  EXPECT_EQ(load("Analytics", 10).sids, std::vector<std::string>{"good"});

  EXPECT_EQ(store->countLogs(), 1u);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error, "Deserialization failed for log with Id 2"));
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error, "Deserialization failed for log with Id 3"));
}

TEST_F(LogDBStorageTest, GroupIdsAreBoundNotWrittenIntoStatements) {
  const std::string group = "it's a \"group\"); DROP TABLE logs; --";
  saveAll(group, {"a", "b"});
  saveAll("Analytics", {"other"});

  const Batch batch = load(group, 1);
  EXPECT_EQ(batch.sids, std::vector<std::string>{"a"});
  store->deleteLogsWithBatchId(*batch.batchId, group);
  EXPECT_EQ(store->deleteLogsWithGroupId(group).size(), 1u);

  EXPECT_EQ(store->countLogs(), 1u);
  EXPECT_TRUE(logs.at(TLMLogLevel::Error).empty()) << logs.at(TLMLogLevel::Error).front();
}

}  // namespace
}  // namespace tlm

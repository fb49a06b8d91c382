#include "telemetry/storage/db_storage.h"

#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "storage_fixture.h"

namespace tlm {
namespace {

using testing::LogCapture;
using testing::RawDatabase;
using testing::TempDir;

TLMStorageSchema itemsSchema() {
  return {{"items", {{"id", {"INTEGER", "PRIMARY KEY"}}, {"name", {"TEXT", "NOT NULL"}}}}};
}

// Records which hooks the configuration ran.
class RecordingStorage : public TLMDBStorage {
 public:
  RecordingStorage(const std::filesystem::path& directory, std::uint64_t version)
      : TLMDBStorage(itemsSchema(), version, directory, "Test.sqlite") {
    initializeResult = initialize();
  }

  int initializeResult = -1;
  int customized = 0;
  std::vector<std::uint64_t> migratedFrom;

 protected:
  void customizeDatabase(sqlite3*) override { ++customized; }
  void migrateDatabase(sqlite3*, std::uint64_t fromVersion) override {
    migratedFrom.push_back(fromVersion);
  }
};

int insertItem(TLMDBStorage& storage, std::string name) {
  TLMStorageBindableArray values;
  values.addString(std::move(name));
  return storage.executeNonSelectionQuery("INSERT INTO \"items\" (\"name\") VALUES (?)", values);
}

class DBStorageTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir.path() / "Test.sqlite"; }

  TempDir dir;
  LogCapture logs;
};

TEST_F(DBStorageTest, NewFileGetsTablesVersionAndAutoVacuum) {
  RecordingStorage storage(dir.path(), 3);

  EXPECT_EQ(storage.initializeResult, SQLITE_OK);
  EXPECT_EQ(storage.customized, 1);
  EXPECT_TRUE(storage.migratedFrom.empty());
  EXPECT_EQ(storage.pageSize(), 4096);
  EXPECT_EQ(storage.maxSizeInBytes(), 10485760);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Info, "Created \"Test.sqlite\" database with 3 version."));

  RawDatabase raw(file());
  EXPECT_EQ(raw.text("SELECT sql FROM sqlite_master WHERE name = 'items'"),
            "CREATE TABLE \"items\" (\"id\" INTEGER PRIMARY KEY, \"name\" TEXT NOT NULL)");
  EXPECT_EQ(raw.number("PRAGMA user_version"), 3);
  EXPECT_EQ(raw.number("PRAGMA auto_vacuum"), 1);

  // Every unit of work applies the page limit; SQLite's row answer to that
  // pragma is no failure.
  EXPECT_EQ(insertItem(storage, "it's"), SQLITE_OK);
  EXPECT_EQ(storage.countEntriesForTable("items", "\"name\" = ?",
                                         [] {
                                           TLMStorageBindableArray values;
                                           values.addString("it's");
                                           return values;
                                         }()),
            1u);
  EXPECT_TRUE(logs.at(TLMLogLevel::Error).empty()) << logs.at(TLMLogLevel::Error).front();
}

// The store holds user ids and event properties: its folder is 0700 and its
// file 0600 whatever the umask, and a pair left too open is narrowed.
TEST_F(DBStorageTest, FolderAndFileArePrivateToTheUser) {
  const mode_t oldMask = ::umask(022);
  const std::filesystem::path folder = dir.path() / "data";
  const std::filesystem::path file = folder / "Test.sqlite";
  auto modeOf = [](const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  {
    RecordingStorage storage(folder, 1);
    ASSERT_EQ(storage.initializeResult, SQLITE_OK);
  }
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(modeOf(file), 0600u);

  std::filesystem::permissions(folder, std::filesystem::perms(0755));
  std::filesystem::permissions(file, std::filesystem::perms(0644));
  RecordingStorage storage(folder, 1);
  EXPECT_EQ(insertItem(storage, "a"), SQLITE_OK);
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(modeOf(file), 0600u);
  ::umask(oldMask);
}

TEST_F(DBStorageTest, LowerStoredVersionRunsTheMigrationOnce) {
  { RecordingStorage first(dir.path(), 1); }

  RecordingStorage upgraded(dir.path(), 4);
  EXPECT_EQ(upgraded.customized, 0);
  EXPECT_EQ(upgraded.migratedFrom, std::vector<std::uint64_t>{1});
  EXPECT_TRUE(
      logs.contains(TLMLogLevel::Info, "Migrating \"Test.sqlite\" database from version 1 to 4."));
  EXPECT_EQ(RawDatabase(file()).number("PRAGMA user_version"), 4);

  RecordingStorage again(dir.path(), 4);
  EXPECT_TRUE(again.migratedFrom.empty());
  EXPECT_EQ(again.customized, 0);
}

TEST_F(DBStorageTest, FileThatIsNoDatabaseIsReplacedByAWorkingOne) {
  {
    std::ofstream garbage(file(), std::ios::binary);
    for (int i = 0; i < 2000; ++i)
      garbage << "this is not a database ";
  }

  RecordingStorage storage(dir.path(), 2);

  EXPECT_EQ(storage.initializeResult, SQLITE_OK);
  EXPECT_EQ(storage.customized, 1);  // built as a new file
  EXPECT_EQ(insertItem(storage, "after recovery"), SQLITE_OK);
  EXPECT_EQ(storage.countEntriesForTable("items", ""), 1u);
  EXPECT_EQ(RawDatabase(file()).number("PRAGMA user_version"), 2);
}

TEST_F(DBStorageTest, PathWithUriCharactersOpensTheExactFile) {
  const auto odd = dir.path() / "odd ?#%25 name";
  RecordingStorage storage(odd, 1);

  EXPECT_EQ(storage.initializeResult, SQLITE_OK);
  EXPECT_EQ(insertItem(storage, "x"), SQLITE_OK);
  EXPECT_TRUE(std::filesystem::exists(odd / "Test.sqlite"));
  // Nothing was created under a truncated or decoded name.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST_F(DBStorageTest, MaxStorageSizeRoundsUpToWholePagesAndIsEnforced) {
  RecordingStorage storage(dir.path(), 1);
  struct Case {
    std::int64_t requested;
    std::int64_t limit;
    const char* message;
  };
  for (const Case& c : {
           Case{100000, 102400,
                "Changed maximum database size to 102400 bytes (next multiple of 4KiB)."},
           Case{102400, 102400, "Changed maximum database size to 102400 bytes."},
       }) {
    logs.clear();
    std::optional<bool> answer;
    storage.setMaxStorageSize(c.requested, [&](bool success) { answer = success; });
    EXPECT_EQ(answer, true) << c.requested;
    EXPECT_EQ(storage.maxSizeInBytes(), c.limit);
    EXPECT_EQ(logs.at(TLMLogLevel::Info), std::vector<std::string>{c.message});
  }

  // 25 pages hold only so much: inserting beyond them fails with "full".
  int result = SQLITE_OK;
  for (int i = 0; i < 100 && result == SQLITE_OK; ++i) {
    result = insertItem(storage, std::string(3000, 'a' + i % 26));
  }
  EXPECT_EQ(result, SQLITE_FULL);
  EXPECT_LE(std::filesystem::file_size(file()), 102400u);
}

TEST_F(DBStorageTest, MaxStorageSizeBelowTheStoredDataIsRefused) {
  RecordingStorage storage(dir.path(), 1);
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(insertItem(storage, std::string(4000, 'x')), SQLITE_OK);

  std::optional<bool> answer;
  storage.setMaxStorageSize(8192, [&](bool success) { answer = success; });

  EXPECT_EQ(answer, false);
  EXPECT_EQ(storage.maxSizeInBytes(), 10485760);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Warning,
                            "Cannot change database size to 8192 bytes as it would cause a loss "
                            "of data. Maximum database size will not be changed."));
}

TEST_F(DBStorageTest, MaxStorageSizeAnswersEvenWhenTheDatabaseCannotBeOpened) {
  const auto folder = dir.path() / "data";
  RecordingStorage storage(folder, 1);
  std::filesystem::remove_all(folder);
  std::ofstream(folder) << "a file where the folder was";

  std::optional<bool> answer;
  storage.setMaxStorageSize(102400, [&](bool success) { answer = success; });

  EXPECT_EQ(answer, false);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error, "Failed to open database with result: "));
}

// A store that cannot be opened fails every unit of work, but tries (and
// logs) ever more rarely; once it opens again the back-off ends.
TEST_F(DBStorageTest, OpenFailuresBackOff) {
  RecordingStorage storage(dir.path(), 1);
  ASSERT_EQ(insertItem(storage, "before"), SQLITE_OK);
  const auto kept = dir.path() / "kept.sqlite";
  std::filesystem::rename(file(), kept);
  std::filesystem::create_directory(file());  // a folder where the file was

  const auto failures = [&] {
    std::size_t count = 0;
    for (const auto& message : logs.at(TLMLogLevel::Error))
      if (message.starts_with("Failed to open database with result: ")) ++count;
    return count;
  };
  for (int unit = 0; unit < 300; ++unit)
    EXPECT_NE(insertItem(storage, "x"), SQLITE_OK);
  // Tries at units 1, 3, 7, 15, 31, 63, 127 and 255 of 300.
  EXPECT_EQ(failures(), 8u);

  std::filesystem::remove(file());
  std::filesystem::rename(kept, file());
  int unit = 0;
  while (insertItem(storage, "x") != SQLITE_OK && unit < 300)
    ++unit;
  EXPECT_LT(unit, 256);
  EXPECT_EQ(insertItem(storage, "y"), SQLITE_OK);
}

TEST_F(DBStorageTest, UnconfiguredStorageRunsNoWork) {
  RecordingStorage storage(dir.path(), 1);
  storage.setPageSize(0);

  bool ran = false;
  EXPECT_EQ(storage.executeQueryUsingBlock([&](sqlite3*) {
    ran = true;
    return SQLITE_OK;
  }),
            SQLITE_ERROR);
  EXPECT_FALSE(ran);
  std::optional<bool> answer;
  storage.setMaxStorageSize(102400, [&](bool success) { answer = success; });
  EXPECT_EQ(answer, false);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error, "The page size is expected to be non zero."));
}

TEST_F(DBStorageTest, ColumnValuesKeepSixtyFourBitsAndRejectOtherTypes) {
  RawDatabase raw(file());
  const auto rows = raw.rows("SELECT 5000000000, -7, 'text', NULL, 1.5");

  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (TLMStorageRow{std::int64_t{5000000000}, std::int64_t{-7}, std::string("text"),
                                    std::monostate(), std::monostate()}));
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error,
                            "Could not retrieve column value at index 4 from statement: unknown "
                            "type 2."));
}

TEST_F(DBStorageTest, TableHelpersReportWhatHappened) {
  RecordingStorage storage(dir.path(), 1);
  const TLMStorageColumnsSchema columns = {{"k", {"TEXT"}}};

  EXPECT_TRUE(storage.createTable("extra", columns));
  EXPECT_TRUE(storage.createTable("extra", columns));  // already there
  EXPECT_TRUE(logs.contains(TLMLogLevel::Verbose, "Table extra has been created"));
  EXPECT_TRUE(storage.dropTable("extra"));
  EXPECT_TRUE(logs.contains(TLMLogLevel::Verbose, "Table extra has been deleted"));
  EXPECT_TRUE(storage.dropTable("extra"));  // already gone
  EXPECT_EQ(storage.executeSelectionQuery("SELECT * FROM \"extra\"").size(), 0u);
  EXPECT_TRUE(logs.contains(TLMLogLevel::Error, "Failed to prepare SQLite statement, result=1"));
}

}  // namespace
}  // namespace tlm

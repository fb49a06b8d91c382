#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <sqlite3.h>

#include "telemetry/storage/storage_bindable.h"

namespace tlm {

// One column value read from a row: NULL, INTEGER or TEXT.
using TLMStorageValue = std::variant<std::monostate, std::int64_t, std::string>;
using TLMStorageRow = std::vector<TLMStorageValue>;
using TLMStorageRows = std::vector<TLMStorageRow>;

// One column of a table: its name and its SQL words (type and constraints).
struct TLMStorageColumn {
  std::string name;
  std::vector<std::string> words;
};
using TLMStorageColumnsSchema = std::vector<TLMStorageColumn>;
// Table name to its columns, in order.
using TLMStorageSchema = std::map<std::string, TLMStorageColumnsSchema>;

// A small, self-healing wrapper around one SQLite file. It creates the file
// and its tables from a declarative schema, keeps a schema version in the
// database header, lets a subclass customize a new file or migrate an older
// one, bounds the file's size through SQLite's page limit and deletes and
// rebuilds a file that is not a usable database.
//
// Every unit of work runs as one transaction on a connection kept open
// between units, with the page limit applied and the statements run on every
// unit prepared once. A unit that finds the file gone or replaced, or the
// database corrupt, leaves the connection to be opened afresh. No lock is held
// between units, so other connections may use the file meanwhile. There is no
// locking in memory: the owner runs all work on one serial queue. Failures are
// logged (tag "DarAveved") and answered as SQLite result codes.
class TLMDBStorage {
 public:
  static constexpr std::int64_t kDefaultMaxSizeInBytes = 10485760;  // 10 MiB

  using QueryBlock = std::function<int(sqlite3* database)>;
  // Also gets the page limit the connection runs under.
  using PageLimitedQueryBlock = std::function<int(sqlite3* database, std::int64_t maxPageCount)>;
  using StatementBlock = std::function<int(sqlite3_stmt* statement)>;

  // Remembers the schema, the code's version and the file `filename` inside
  // `directory`; nothing is opened until `initialize()`.
  TLMDBStorage(TLMStorageSchema schema, std::uint64_t version, std::filesystem::path directory,
               std::string filename);
  TLMDBStorage(std::uint64_t version, std::filesystem::path directory, std::string filename);
  virtual ~TLMDBStorage();
  TLMDBStorage(const TLMDBStorage&) = delete;
  TLMDBStorage& operator=(const TLMDBStorage&) = delete;

  // Configures the database; a file that is corrupt or not a database is
  // deleted and configured once more. Call once, after construction: a
  // subclass calls it at the end of its own constructor so that its hooks
  // run. Answers the final SQLite code; on failure the storage stays
  // unusable (page size 0) and every later unit of work fails cleanly.
  int initialize();
  // One configuration pass without the corruption retry.
  int configureDatabase();

  // Runs the block inside one immediate transaction on the kept connection,
  // with the page limit applied. The transaction is committed when the
  // block answers SQLITE_OK and rolled back otherwise, so a unit of work is
  // applied whole or not at all. Answers the block's code, the commit's
  // failure, or the failure that kept the block from running.
  int executeQueryUsingBlock(const QueryBlock& block);
  int executeQueryUsingBlock(const PageLimitedQueryBlock& block);
  int executeNonSelectionQuery(std::string_view query,
                               const TLMStorageBindableArray& values = TLMStorageBindableArray());
  // The rows that came back (possibly none).
  TLMStorageRows executeSelectionQuery(
      std::string_view query, const TLMStorageBindableArray& values = TLMStorageBindableArray());
  // Rows of the table matching the condition (all rows for an empty one).
  std::uint64_t countEntriesForTable(
      std::string_view table, std::string_view condition,
      const TLMStorageBindableArray& values = TLMStorageBindableArray());
  // True also when the table did not exist.
  bool dropTable(std::string_view table);
  // True also when the table already existed.
  bool createTable(std::string_view table, const TLMStorageColumnsSchema& columns);
  // Closes the kept connection and deletes the database file (SQLite
  // discards a journal left beside a missing or empty database by itself).
  void dropDatabase();
  // Bounds the file to `sizeInBytes` rounded up to whole pages, unless that
  // is less than it already holds. The handler, when given, always gets the
  // outcome (false also when the database cannot be opened).
  void setMaxStorageSize(std::int64_t sizeInBytes,
                         const std::function<void(bool)>& completionHandler);

  const std::filesystem::path& dbFileURL() const { return dbFileURL_; }
  std::int64_t maxSizeInBytes() const { return maxSizeInBytes_; }
  void setMaxSizeInBytes(std::int64_t value) { maxSizeInBytes_ = value; }
  std::int64_t pageSize() const { return pageSize_; }
  void setPageSize(std::int64_t value) { pageSize_ = value; }
  const TLMStorageSchema& schema() const { return schema_; }
  std::uint64_t version() const { return version_; }

  // Result of switching on URI file names for SQLite, done once per process
  // before any connection opens.
  static int configureSQLite();
  // "file:" and the percent-encoded absolute path, so that "?", "#" or "%"
  // in the path stay part of it.
  static std::string uriForFileURL(const std::filesystem::path& fileURL);
  // Null on failure, with the code in `result` (when given).
  static sqlite3* openDatabaseAtFileURL(const std::filesystem::path& fileURL, int* result);
  // "\"name\" WORD WORD, ..." in column order.
  static std::string columnsQueryFromColumnsSchema(const TLMStorageColumnsSchema& columns);
  // Creates the tables that do not exist yet; answers the first failing code.
  static int createTablesWithSchema(const TLMStorageSchema& schema, sqlite3* database);
  // Table name to (column name to its position in the schema).
  static std::map<std::string, std::map<std::string, std::size_t>> columnsIndexes(
      const TLMStorageSchema& schema);
  static bool tableExists(std::string_view table, sqlite3* database, int* result = nullptr);
  static std::uint64_t versionInOpenedDatabase(sqlite3* database, int* result);
  static int setVersion(std::uint64_t version, sqlite3* database);
  // Switches on full auto-vacuum (with one VACUUM) unless it is on already.
  static void enableAutoVacuumInOpenedDatabase(sqlite3* database);
  static std::int64_t getPageSizeInOpenedDatabase(sqlite3* database);
  static std::int64_t getPageCountInOpenedDatabase(sqlite3* database);
  static std::int64_t getMaxPageCountInOpenedDatabase(sqlite3* database);
  // SQLite answers this pragma with a row holding the resulting limit; that
  // counts as success, and the limit goes to `appliedPageCount` (when given).
  static int setMaxPageCount(std::int64_t pageCount, sqlite3* database,
                             std::int64_t* appliedPageCount = nullptr);
  // The first column of the first row as a number; 0 when there is none.
  static std::int64_t querySingleValue(std::string_view query, sqlite3* database,
                                       int* result = nullptr);

  // One statement run to completion: 0 when it is done, else its code.
  static int executeNonSelectionQuery(std::string_view query, sqlite3* database,
                                      const TLMStorageBindableArray& values);
  // Prepares, binds, runs the block with the statement and finalizes;
  // answers the binding's or the block's code.
  static int executeQuery(std::string_view query, sqlite3* database,
                          const TLMStorageBindableArray& values, const StatementBlock& block);
  // The rows read, in every case; the final code goes to `result`.
  static TLMStorageRows executeSelectionQuery(std::string_view query, sqlite3* database,
                                              int* result, const TLMStorageBindableArray& values);
  // INTEGER columns read as 64-bit; REAL and BLOB are logged and read as NULL.
  static TLMStorageValue columnValueFromStatement(sqlite3_stmt* statement, int index);

 protected:
  // Runs `query` with `values` to completion on `database`, the connection a
  // unit of work got, through a statement prepared at its first use and kept
  // with the connection: for the few fixed statements run on every unit.
  // Answers like the static executeNonSelectionQuery.
  int executeKeptStatement(std::string_view query, sqlite3* database,
                           const TLMStorageBindableArray& values);

  // Called once when the file was just created.
  virtual void customizeDatabase(sqlite3* database);
  // Called when the stored version is lower than the code's.
  virtual void migrateDatabase(sqlite3* database, std::uint64_t fromVersion);

 private:
  TLMStorageSchema schema_;
  std::uint64_t version_;
  std::filesystem::path directory_;
  std::string filename_;
  std::filesystem::path dbFileURL_;
  std::int64_t maxSizeInBytes_ = kDefaultMaxSizeInBytes;
  std::int64_t pageSize_ = 0;

  class KeptConnection;
  // The kept connection, opened when a unit of work needs it and none is open
  // on the file as it is now; none on failure, with the code in `result`.
  // After a failed open the next attempts back off: 1, 3, 7, ... up to
  // kMaxOpensSkipped units of work fail at once without trying (and without
  // logging) before the next open, so a store that cannot be opened does not
  // flood the log; one successful open ends the back-off.
  KeptConnection* keptConnection(int* result);
  void closeKeptConnection();
  std::unique_ptr<KeptConnection> connection_;
  static constexpr std::uint32_t kMaxOpensSkipped = 255;
  std::uint32_t opensSkippedAfterFailure_ = 0;
  std::uint32_t opensLeftToSkip_ = 0;
};

}  // namespace tlm

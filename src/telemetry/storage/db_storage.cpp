#include "telemetry/storage/db_storage.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <utility>

#include "base/private_files.h"
#include "telemetry/core/logger.h"

namespace tlm {
namespace {

namespace fs = std::filesystem;

// URI file names are switched on before SQLite initializes, that is when
// this library is loaded; each open also asks for them, so a late or failed
// setting changes nothing but the log line.
const int kSQLiteConfigurationResult = sqlite3_config(SQLITE_CONFIG_URI, 1);
// SQLite's memory statistics take a global lock on every allocation, and
// opening a connection for each unit of work allocates a lot; nothing here
// reads them. A late setting only leaves them on.
[[maybe_unused]] const int kMemoryStatisticsResult = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

// An open connection, closed when it goes out of scope.
class Connection {
 public:
  explicit Connection(sqlite3* database) : database_(database) {}
  ~Connection() {
    if (database_) sqlite3_close(database_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return database_; }
  explicit operator bool() const { return database_ != nullptr; }

 private:
  sqlite3* database_;
};

bool isCorruption(int code) {
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

// Logs a statement step that did not finish: corruption and other failures
// as errors, a full database only at DEBUG (the caller makes room).
void logStepFailure(int result, sqlite3* database) {
  const char* message = sqlite3_errmsg(database);
  if (isCorruption(result)) {
    TLM_LOG_ERROR(kTLMLogTag, "A database file is corrupted, result=", result, "\n\t", message);
  } else if (result == SQLITE_FULL) {
    TLM_LOG_DEBUG(kTLMLogTag, "Query failed with error: ", result, "\n\t", message);
  } else {
    TLM_LOG_ERROR(kTLMLogTag, "Could not execute the statement, result=", result, "\n\t", message);
  }
}

constexpr std::string_view kNotConfiguredMessage =
    "The database was not configured correctly. The page size is expected to be non zero.";

}  // namespace

// The connection units of work share, the statements kept for it, the page
// limit applied to it and the identity of the file it opened.
class TLMDBStorage::KeptConnection {
 public:
  KeptConnection(sqlite3* database, const fs::path& file) : database_(database) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
      device_ = info.st_dev;
      inode_ = info.st_ino;
    }
  }
  ~KeptConnection() {
    for (auto& [query, statement] : statements_)
      sqlite3_finalize(statement);
    sqlite3_close(database_);
  }
  KeptConnection(const KeptConnection&) = delete;
  KeptConnection& operator=(const KeptConnection&) = delete;

  sqlite3* get() const { return database_; }

  // Whether `file` is still the file this connection opened (not deleted or
  // replaced meanwhile).
  bool isOpenOn(const fs::path& file) const {
    struct stat info {};
    return inode_ != 0 && ::stat(file.c_str(), &info) == 0 && info.st_dev == device_ &&
           info.st_ino == inode_;
  }

  // The kept statement of `query`, reset and without bindings; null when it
  // cannot be prepared, with the code in `result`.
  sqlite3_stmt* statement(std::string_view query, int* result) {
    *result = SQLITE_OK;
    if (auto it = statements_.find(query); it != statements_.end()) return it->second;
    sqlite3_stmt* statement = nullptr;
    *result = sqlite3_prepare_v3(database_, query.data(), static_cast<int>(query.size()),
                                 SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (*result != SQLITE_OK) {
      sqlite3_finalize(statement);
      return nullptr;
    }
    statements_.emplace(std::string(query), statement);
    return statement;
  }

  // The page limit in force on the connection; -1 until one was set.
  std::int64_t maxPageCount = -1;

 private:
  sqlite3* database_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};

TLMDBStorage::TLMDBStorage(TLMStorageSchema schema, std::uint64_t version, fs::path directory,
                           std::string filename)
    : schema_(std::move(schema)),
      version_(version),
      directory_(std::move(directory)),
      filename_(std::move(filename)),
      dbFileURL_(directory_ / filename_) {}

TLMDBStorage::TLMDBStorage(std::uint64_t version, fs::path directory, std::string filename)
    : TLMDBStorage(TLMStorageSchema(), version, std::move(directory), std::move(filename)) {}

TLMDBStorage::~TLMDBStorage() = default;

TLMDBStorage::KeptConnection* TLMDBStorage::keptConnection(int* result) {
  *result = SQLITE_OK;
  if (connection_ && !connection_->isOpenOn(dbFileURL_)) closeKeptConnection();
  if (!connection_) {
    if (opensLeftToSkip_ > 0) {
      --opensLeftToSkip_;
      *result = SQLITE_CANTOPEN;
      return nullptr;
    }
    sqlite3* database = openDatabaseAtFileURL(dbFileURL_, result);
    if (!database) {
      opensSkippedAfterFailure_ = std::min(opensSkippedAfterFailure_ * 2 + 1, kMaxOpensSkipped);
      opensLeftToSkip_ = opensSkippedAfterFailure_;
      return nullptr;
    }
    opensSkippedAfterFailure_ = 0;
    connection_ = std::make_unique<KeptConnection>(database, dbFileURL_);
  }
  return connection_.get();
}

void TLMDBStorage::closeKeptConnection() {
  connection_.reset();
}

int TLMDBStorage::configureSQLite() {
  return kSQLiteConfigurationResult;
}

int TLMDBStorage::initialize() {
  static std::once_flag logged;
  std::call_once(logged, [] {
    const int result = configureSQLite();
    if (result == SQLITE_OK) {
      TLM_LOG_DEBUG(kTLMLogTag, "SQLite global configuration successfully updated.");
    } else {
      TLM_LOG_ERROR(kTLMLogTag,
                    "Failed to update SQLite global configuration. Error: ", sqlite3_errstr(result),
                    ".");
    }
  });
  int result = configureDatabase();
  if (isCorruption(result)) {
    dropDatabase();
    result = configureDatabase();
  }
  if (result != SQLITE_OK) TLM_LOG_ERROR(kTLMLogTag, "Failed to initialize database.");
  return result;
}

int TLMDBStorage::configureDatabase() {
  // The configuration may change the schema or rebuild the file.
  closeKeptConnection();
  std::error_code error;
  const bool existed = fs::exists(dbFileURL_, error);
  // The store holds user ids and event properties: its folder is private to
  // the user. An open in a missing folder fails below.
  (void)base::createPrivateDirectories(directory_);
  maxSizeInBytes_ = kDefaultMaxSizeInBytes;

  int result = SQLITE_OK;
  Connection database(openDatabaseAtFileURL(dbFileURL_, &result));
  if (!database) return result;

  pageSize_ = getPageSizeInOpenedDatabase(database.get());
  if (pageSize_ == 0) {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to get storage page size.");
    return SQLITE_ERROR;
  }
  const std::uint64_t storedVersion = versionInOpenedDatabase(database.get(), &result);
  if (result != SQLITE_OK) return result;

  if (!schema_.empty()) {
    result = createTablesWithSchema(schema_, database.get());
    if (result != SQLITE_OK) {
      TLM_LOG_ERROR(kTLMLogTag, "Failed to create tables with schema with error \"", result, "\".");
      return result;
    }
  }
  if (!existed) {
    TLM_LOG_INFO(kTLMLogTag, "Created \"", filename_, "\" database with ", version_, " version.");
    customizeDatabase(database.get());
  } else if (storedVersion < version_) {
    TLM_LOG_INFO(kTLMLogTag, "Migrating \"", filename_, "\" database from version ", storedVersion,
                 " to ", version_, ".");
    migrateDatabase(database.get(), storedVersion);
  }
  enableAutoVacuumInOpenedDatabase(database.get());
  (void)setVersion(version_, database.get());
  return SQLITE_OK;
}

int TLMDBStorage::executeQueryUsingBlock(const QueryBlock& block) {
  return executeQueryUsingBlock(
      PageLimitedQueryBlock([&](sqlite3* database, std::int64_t) { return block(database); }));
}

int TLMDBStorage::executeQueryUsingBlock(const PageLimitedQueryBlock& block) {
  int result = SQLITE_OK;
  KeptConnection* connection = keptConnection(&result);
  if (!connection) return result;
  if (pageSize_ == 0) {
    TLM_LOG_ERROR(kTLMLogTag, kNotConfiguredMessage);
    return SQLITE_ERROR;
  }
  sqlite3* database = connection->get();
  // Ends a unit that failed: what is still open is rolled back, and a
  // corrupt database is opened afresh by the next unit.
  const auto failed = [&](int code) {
    if (!sqlite3_get_autocommit(database))
      (void)executeKeptStatement("ROLLBACK", database, TLMStorageBindableArray());
    if (isCorruption(code) || !sqlite3_get_autocommit(database)) closeKeptConnection();
    return code;
  };
  // Taking the write lock first makes the unit one step for other
  // connections and lets the statements below share one lock and one read of
  // the schema.
  result = executeKeptStatement("BEGIN IMMEDIATE", database, TLMStorageBindableArray());
  if (result != SQLITE_OK) {
    if (!isCorruption(result)) TLM_LOG_ERROR(kTLMLogTag, "Failed to begin a transaction.");
    return failed(result);
  }
  // The limit is set again until it is exactly the wanted one: SQLite keeps
  // it at the file's size while the file is larger.
  const std::int64_t wantedPageCount = maxSizeInBytes_ / pageSize_;
  std::int64_t maxPageCount = connection->maxPageCount;
  if (maxPageCount != wantedPageCount) {
    result = setMaxPageCount(wantedPageCount, database, &maxPageCount);
    if (isCorruption(result)) return failed(result);
    if (result != SQLITE_OK) {
      TLM_LOG_ERROR(kTLMLogTag, "Failed to open database with specified maximum size constraint.");
      maxPageCount = getMaxPageCountInOpenedDatabase(database);
      connection->maxPageCount = -1;
    } else {
      connection->maxPageCount = maxPageCount;
    }
  }
  result = block(database, maxPageCount);
  // SQLite itself may have rolled the transaction back after some failures.
  if (result != SQLITE_OK || sqlite3_get_autocommit(database)) {
    return result == SQLITE_OK ? result : failed(result);
  }
  result = executeKeptStatement("COMMIT", database, TLMStorageBindableArray());
  if (result != SQLITE_OK) {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to commit a transaction.");
    return failed(result);
  }
  return result;
}

int TLMDBStorage::executeKeptStatement(std::string_view query, sqlite3* database,
                                       const TLMStorageBindableArray& values) {
  if (!connection_ || connection_->get() != database)
    return executeNonSelectionQuery(query, database, values);
  int result = SQLITE_OK;
  sqlite3_stmt* statement = connection_->statement(query, &result);
  if (!statement) {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to prepare SQLite statement, result=", result, "\n\t",
                  sqlite3_errmsg(database));
    return result;
  }
  result = values.bindAllValuesWithStatement(statement, database);
  if (result == SQLITE_OK) {
    result = sqlite3_step(statement);
    if (result == SQLITE_DONE) {
      result = SQLITE_OK;
    } else {
      logStepFailure(result, database);
    }
  }
  // A statement left unreset would keep its lock after the unit.
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return result;
}

int TLMDBStorage::executeNonSelectionQuery(std::string_view query,
                                           const TLMStorageBindableArray& values) {
  return executeQueryUsingBlock(
      [&](sqlite3* database) { return executeNonSelectionQuery(query, database, values); });
}

TLMStorageRows TLMDBStorage::executeSelectionQuery(std::string_view query,
                                                   const TLMStorageBindableArray& values) {
  TLMStorageRows rows;
  executeQueryUsingBlock([&](sqlite3* database) {
    int result = SQLITE_OK;
    rows = executeSelectionQuery(query, database, &result, values);
    return result;
  });
  return rows;
}

std::uint64_t TLMDBStorage::countEntriesForTable(std::string_view table, std::string_view condition,
                                                 const TLMStorageBindableArray& values) {
  std::string query = logText("SELECT COUNT(*) FROM \"", table, "\" ");
  if (!condition.empty()) query += logText("WHERE ", condition);
  const TLMStorageRows rows = executeSelectionQuery(query, values);
  if (rows.empty() || rows.front().empty()) return 0;
  const auto* count = std::get_if<std::int64_t>(&rows.front().front());
  return count && *count > 0 ? static_cast<std::uint64_t>(*count) : 0;
}

bool TLMDBStorage::dropTable(std::string_view table) {
  const int result = executeQueryUsingBlock([&](sqlite3* database) {
    int code = SQLITE_OK;
    if (!tableExists(table, database, &code)) return code;
    code = executeNonSelectionQuery(logText("DROP TABLE \"", table, "\";"), database,
                                    TLMStorageBindableArray());
    if (code == SQLITE_OK) {
      TLM_LOG_VERBOSE(kTLMLogTag, "Table ", table, " has been deleted");
    } else {
      TLM_LOG_ERROR(kTLMLogTag, "Failed to delete table ", table);
    }
    return code;
  });
  return result == SQLITE_OK;
}

bool TLMDBStorage::createTable(std::string_view table, const TLMStorageColumnsSchema& columns) {
  const int result = executeQueryUsingBlock([&](sqlite3* database) {
    int code = SQLITE_OK;
    if (tableExists(table, database, &code) || code != SQLITE_OK) return code;
    code = executeNonSelectionQuery(
        logText("CREATE TABLE \"", table, "\" (", columnsQueryFromColumnsSchema(columns), ");"),
        database, TLMStorageBindableArray());
    if (code == SQLITE_OK) {
      TLM_LOG_VERBOSE(kTLMLogTag, "Table ", table, " has been created");
    } else {
      TLM_LOG_ERROR(kTLMLogTag, "Failed to create table ", table);
    }
    return code;
  });
  return result == SQLITE_OK;
}

void TLMDBStorage::dropDatabase() {
  closeKeptConnection();
  std::error_code error;
  const bool removed = fs::remove(dbFileURL_, error) && !error;
  // The write-ahead log and its index go with it (closing the last connection
  // normally removes them already).
  for (const char* suffix : {"-wal", "-shm"}) {
    std::error_code ignored;
    fs::remove(fs::path(dbFileURL_).concat(suffix), ignored);
  }
  if (removed) {
    TLM_LOG_VERBOSE(kTLMLogTag, "Database ", "file://", uriForFileURL(dbFileURL_).substr(5),
                    " has been deleted.");
  } else {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to delete database.");
  }
}

void TLMDBStorage::setMaxStorageSize(std::int64_t sizeInBytes,
                                     const std::function<void(bool)>& completionHandler) {
  const bool success = [&] {
    int openResult = SQLITE_OK;
    KeptConnection* connection = keptConnection(&openResult);
    // An open failure was logged by the open step; the caller still gets its
    // answer below.
    if (!connection) return false;
    sqlite3* database = connection->get();
    if (pageSize_ == 0) {
      TLM_LOG_ERROR(kTLMLogTag, kNotConfiguredMessage);
      return false;
    }
    const std::int64_t currentPages = getPageCountInOpenedDatabase(database);
    TLM_LOG_DEBUG(kTLMLogTag, "Found ", currentPages, " pages in the database.");
    const std::int64_t wantedPages =
        sizeInBytes / pageSize_ + (sizeInBytes % pageSize_ != 0 ? 1 : 0);
    if (wantedPages < currentPages) {
      TLM_LOG_WARNING(kTLMLogTag, "Cannot change database size to ", sizeInBytes,
                      " bytes as it would cause a loss of data. Maximum database size will not "
                      "be changed.");
      return false;
    }
    std::int64_t maxPages = 0;
    const int result = setMaxPageCount(wantedPages, database, &maxPages);
    connection->maxPageCount = result == SQLITE_OK ? maxPages : -1;
    if (result != SQLITE_OK) {
      TLM_LOG_ERROR(kTLMLogTag, "Could not change maximum database size to ", sizeInBytes,
                    " bytes. SQLite error code: ", result);
      return false;
    }
    const std::int64_t limitBytes = maxPages * pageSize_;
    if (maxPages != wantedPages) {
      TLM_LOG_ERROR(kTLMLogTag, "Could not change maximum database size to ", sizeInBytes,
                    " bytes, current maximum size is ", limitBytes, " bytes.");
      return false;
    }
    if (limitBytes == sizeInBytes) {
      TLM_LOG_INFO(kTLMLogTag, "Changed maximum database size to ", sizeInBytes, " bytes.");
    } else {
      TLM_LOG_INFO(kTLMLogTag, "Changed maximum database size to ", limitBytes,
                   " bytes (next multiple of 4KiB).");
    }
    maxSizeInBytes_ = limitBytes;
    return true;
  }();
  if (completionHandler) completionHandler(success);
}

void TLMDBStorage::customizeDatabase(sqlite3* /*database*/) {}

void TLMDBStorage::migrateDatabase(sqlite3* /*database*/, std::uint64_t /*fromVersion*/) {}

std::string TLMDBStorage::uriForFileURL(const fs::path& fileURL) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  std::error_code error;
  fs::path absolute = fs::absolute(fileURL, error);
  if (error) absolute = fileURL;
  for (const unsigned char c : absolute.native()) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri;
}

sqlite3* TLMDBStorage::openDatabaseAtFileURL(const fs::path& fileURL, int* result) {
  // SQLite would create the file with the umask's mode; it is made (or
  // narrowed to) 0600 first, and the journals SQLite puts beside it take its
  // mode. A failure here shows in the open below.
  (void)base::createPrivateFile(fileURL);
  sqlite3* database = nullptr;
  const int code =
      sqlite3_open_v2(uriForFileURL(fileURL).c_str(), &database,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
  if (result) *result = code;
  if (code != SQLITE_OK) {
    if (database) sqlite3_close(database);
    TLM_LOG_ERROR(kTLMLogTag, "Failed to open database with result: ", code, ".");
    return nullptr;
  }
  // A write-ahead log makes each save durable with one sync of the log, where
  // a rollback journal creates, syncs and deletes a file per save (five times
  // the CPU and disk time). Where the file system cannot hold one, the
  // rollback journal stays. The log is copied into the database every 100
  // pages and kept under 1 MiB, so the store stays near its size limit.
  (void)sqlite3_exec(database,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                     "PRAGMA wal_autocheckpoint=100; PRAGMA journal_size_limit=1048576;",
                     nullptr, nullptr, nullptr);
  return database;
}

std::string TLMDBStorage::columnsQueryFromColumnsSchema(const TLMStorageColumnsSchema& columns) {
  std::string text;
  for (const auto& column : columns) {
    if (!text.empty()) text += ", ";
    text += logText("\"", column.name, "\"");
    std::string words;
    for (const auto& word : column.words) {
      if (!words.empty()) words += ' ';
      words += word;
    }
    text += ' ';
    text += words;
  }
  return text;
}

int TLMDBStorage::createTablesWithSchema(const TLMStorageSchema& schema, sqlite3* database) {
  std::vector<std::string> statements;
  for (const auto& [table, columns] : schema) {
    int result = SQLITE_OK;
    const bool exists = tableExists(table, database, &result);
    if (result != SQLITE_OK) return result;
    if (exists) continue;
    statements.push_back(
        logText("CREATE TABLE \"", table, "\" (", columnsQueryFromColumnsSchema(columns), ");"));
  }
  for (const auto& statement : statements) {
    const int result = executeNonSelectionQuery(statement, database, TLMStorageBindableArray());
    if (result != SQLITE_OK) return result;
  }
  return SQLITE_OK;
}

std::map<std::string, std::map<std::string, std::size_t>> TLMDBStorage::columnsIndexes(
    const TLMStorageSchema& schema) {
  std::map<std::string, std::map<std::string, std::size_t>> indexes;
  for (const auto& [table, columns] : schema) {
    auto& positions = indexes[table];
    for (std::size_t i = 0; i < columns.size(); ++i)
      positions[columns[i].name] = i;
  }
  return indexes;
}

bool TLMDBStorage::tableExists(std::string_view table, sqlite3* database, int* result) {
  TLMStorageBindableArray values;
  values.addString(std::string(table));
  int code = SQLITE_OK;
  const TLMStorageRows rows = executeSelectionQuery(
      "SELECT COUNT(*) FROM \"sqlite_master\" WHERE \"type\"='table' AND \"name\"=?;", database,
      &code, values);
  if (result) *result = code;
  if (rows.empty() || rows.front().empty()) return false;
  const auto* count = std::get_if<std::int64_t>(&rows.front().front());
  return count && *count != 0;
}

std::uint64_t TLMDBStorage::versionInOpenedDatabase(sqlite3* database, int* result) {
  const std::int64_t version = querySingleValue("PRAGMA user_version", database, result);
  return version > 0 ? static_cast<std::uint64_t>(version) : 0;
}

int TLMDBStorage::setVersion(std::uint64_t version, sqlite3* database) {
  return executeNonSelectionQuery(logText("PRAGMA user_version = ", version), database,
                                  TLMStorageBindableArray());
}

void TLMDBStorage::enableAutoVacuumInOpenedDatabase(sqlite3* database) {
  if (querySingleValue("PRAGMA auto_vacuum", database) == 1) return;
  TLM_LOG_DEBUG(kTLMLogTag, "Vacuuming database and enabling auto_vacuum");
  (void)executeNonSelectionQuery("PRAGMA auto_vacuum = FULL;", database, TLMStorageBindableArray());
  (void)executeNonSelectionQuery("VACUUM;", database, TLMStorageBindableArray());
}

std::int64_t TLMDBStorage::getPageSizeInOpenedDatabase(sqlite3* database) {
  return querySingleValue("PRAGMA page_size;", database);
}

std::int64_t TLMDBStorage::getPageCountInOpenedDatabase(sqlite3* database) {
  return querySingleValue("PRAGMA page_count;", database);
}

std::int64_t TLMDBStorage::getMaxPageCountInOpenedDatabase(sqlite3* database) {
  return querySingleValue("PRAGMA max_page_count;", database);
}

int TLMDBStorage::setMaxPageCount(std::int64_t pageCount, sqlite3* database,
                                  std::int64_t* appliedPageCount) {
  const auto run = [&](sqlite3_stmt* statement) {
    int code = sqlite3_step(statement);
    while (code == SQLITE_ROW) {
      if (appliedPageCount) *appliedPageCount = sqlite3_column_int64(statement, 0);
      code = sqlite3_step(statement);
    }
    if (code == SQLITE_DONE) return SQLITE_OK;
    logStepFailure(code, database);
    return code;
  };
  return executeQuery(logText("PRAGMA max_page_count = ", pageCount), database,
                      TLMStorageBindableArray(), run);
}

std::int64_t TLMDBStorage::querySingleValue(std::string_view query, sqlite3* database,
                                            int* result) {
  const TLMStorageRows rows =
      executeSelectionQuery(query, database, result, TLMStorageBindableArray());
  if (rows.empty() || rows.front().empty()) return 0;
  const auto* value = std::get_if<std::int64_t>(&rows.front().front());
  return value ? *value : 0;
}

int TLMDBStorage::executeNonSelectionQuery(std::string_view query, sqlite3* database,
                                           const TLMStorageBindableArray& values) {
  return executeQuery(query, database, values, [&](sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE) return SQLITE_OK;
    logStepFailure(result, database);
    return result;
  });
}

int TLMDBStorage::executeQuery(std::string_view query, sqlite3* database,
                               const TLMStorageBindableArray& values, const StatementBlock& block) {
  sqlite3_stmt* statement = nullptr;
  int result = sqlite3_prepare_v2(database, query.data(), static_cast<int>(query.size()),
                                  &statement, nullptr);
  if (result != SQLITE_OK) {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to prepare SQLite statement, result=", result, "\n\t",
                  sqlite3_errmsg(database));
    sqlite3_finalize(statement);
    return result;
  }
  result = values.bindAllValuesWithStatement(statement, database);
  if (result == SQLITE_OK) result = block(statement);
  // Finalizing repeats the last step's error; only a failure of its own is
  // worth a line.
  const int finalizeResult = sqlite3_finalize(statement);
  if (finalizeResult != SQLITE_OK && result == SQLITE_OK) {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to finalize SQLite statement, result=", finalizeResult,
                  "\n\t", sqlite3_errmsg(database));
  }
  return result;
}

TLMStorageRows TLMDBStorage::executeSelectionQuery(std::string_view query, sqlite3* database,
                                                   int* result,
                                                   const TLMStorageBindableArray& values) {
  TLMStorageRows rows;
  const int code = executeQuery(query, database, values, [&](sqlite3_stmt* statement) {
    int step = sqlite3_step(statement);
    while (step == SQLITE_ROW) {
      const int columns = sqlite3_column_count(statement);
      if (columns > 0) {
        TLMStorageRow row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i)
          row.push_back(columnValueFromStatement(statement, i));
        rows.push_back(std::move(row));
      }
      step = sqlite3_step(statement);
    }
    if (step == SQLITE_DONE) return SQLITE_OK;
    TLM_LOG_ERROR(kTLMLogTag, "Query failed with error: ", step, "\n\t", sqlite3_errmsg(database));
    return step;
  });
  if (result) *result = code;
  return rows;
}

TLMStorageValue TLMDBStorage::columnValueFromStatement(sqlite3_stmt* statement, int index) {
  const int type = sqlite3_column_type(statement, index);
  switch (type) {
    case SQLITE_NULL:
      return std::monostate();
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_column_int64(statement, index));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
      const int length = sqlite3_column_bytes(statement, index);
      return text ? std::string(text, static_cast<std::size_t>(length)) : std::string();
    }
    default:
      TLM_LOG_ERROR(kTLMLogTag, "Could not retrieve column value at index ", index,
                    " from statement: unknown type ", type, ".");
      return std::monostate();
  }
}

}  // namespace tlm

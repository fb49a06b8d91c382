#include "telemetry/storage/log_db_storage.h"

#include <limits>
#include <span>

#include "base/base64.h"
#include "base/uuid.h"
#include "telemetry/core/archive.h"
#include "telemetry/core/logger.h"
#include "telemetry/schema/common_schema_log.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

constexpr std::string_view kIdColumn = "id";
constexpr std::string_view kGroupIdColumn = "groupId";
constexpr std::string_view kLogColumn = "log";
constexpr std::string_view kTargetTokenColumn = "targetToken";
constexpr std::string_view kTargetKeyColumn = "targetKey";
constexpr std::string_view kPriorityColumn = "priority";

bool isCommonSchemaLog(const TLMAbstractLog& log) {
  return dynamic_cast<const TLMCommonSchemaLog*>(&log) != nullptr;
}

template <class T>
std::string joined(const std::vector<T>& items, std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += separator;
    text += logText(items[i]);
  }
  return text;
}

}  // namespace

TLMLogDBStorage::TLMLogDBStorage(std::filesystem::path directory,
                                 std::shared_ptr<TLMTargetTokenEncrypter> targetTokenEncrypter)
    : TLMDBStorage(logsSchema(), kSchemaVersion, std::move(directory), std::string(kFileName)),
      targetTokenEncrypter_(std::move(targetTokenEncrypter)) {
  const auto indexes = columnsIndexes(schema()).at(std::string(kTableName));
  idColumnIndex_ = indexes.at(std::string(kIdColumn));
  groupIdColumnIndex_ = indexes.at(std::string(kGroupIdColumn));
  logColumnIndex_ = indexes.at(std::string(kLogColumn));
  targetTokenColumnIndex_ = indexes.at(std::string(kTargetTokenColumn));
  (void)initialize();
}

TLMStorageSchema TLMLogDBStorage::logsSchema() {
  return {{std::string(kTableName),
           {
               {std::string(kIdColumn), {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}},
               {std::string(kGroupIdColumn), {"TEXT", "NOT NULL"}},
               {std::string(kLogColumn), {"TEXT", "NOT NULL"}},
               {std::string(kTargetTokenColumn), {"TEXT"}},
               {std::string(kTargetKeyColumn), {"TEXT"}},
               {std::string(kPriorityColumn), {"INTEGER"}},
           }}};
}

std::string TLMLogDBStorage::buildKeyFormatWithCount(std::size_t count) {
  std::string format = "(";
  for (std::size_t i = 0; i < count; ++i)
    format += i == 0 ? "?" : ",?";
  return format + ")";
}

void TLMLogDBStorage::customizeDatabase(sqlite3* database) {
  createPriorityIndex(database);
}

void TLMLogDBStorage::migrateDatabase(sqlite3* database, std::uint64_t /*fromVersion*/) {
  // Older layouts are not converted: their logs are dropped with the table.
  // The work stays on the configuring connection.
  const std::string table(kTableName);
  int result = SQLITE_OK;
  if (tableExists(table, database, &result)) {
    result = executeNonSelectionQuery(logText("DROP TABLE \"", table, "\";"), database,
                                      TLMStorageBindableArray());
    if (result == SQLITE_OK) {
      TLM_LOG_VERBOSE(kTLMLogTag, "Table ", table, " has been deleted");
    } else {
      TLM_LOG_ERROR(kTLMLogTag, "Failed to delete table ", table);
    }
  }
  (void)createTablesWithSchema(schema(), database);
  customizeDatabase(database);
}

void TLMLogDBStorage::createPriorityIndex(sqlite3* database) {
  (void)executeNonSelectionQuery(logText("CREATE INDEX \"ix_", kTableName, "_", kPriorityColumn,
                                         "\" ON \"", kTableName, "\" (\"", kPriorityColumn, "\")"),
                                 database, TLMStorageBindableArray());
}

std::optional<TLMLogDBStorage::PreparedLog> TLMLogDBStorage::prepareLog(
    const std::shared_ptr<TLMAbstractLog>& log, const std::string& groupId,
    std::uint64_t flags) const {
  if (!log) return std::nullopt;
  const std::int64_t priority = static_cast<std::int64_t>(flags & 0xFF);
  const auto archive = archiveKeyedData(log.get());
  if (!archive) {
    TLM_LOG_ERROR(kTLMLogTag, "Failed to archive log of type '", log->type.value_or(""),
                  "'; the log is not stored.");
    return std::nullopt;
  }
  const std::string text = base::base64Encode(*archive);

  // The two inserts are fixed texts, so their statements are kept.
  static const std::string kInsertWithToken =
      logText("INSERT INTO \"", kTableName, "\" (\"", kGroupIdColumn, "\", \"", kLogColumn,
              "\", \"", kTargetTokenColumn, "\", \"", kTargetKeyColumn, "\", \"", kPriorityColumn,
              "\") SELECT ?, ?, ?, ?, ?");
  static const std::string kInsert =
      logText("INSERT INTO \"", kTableName, "\" (\"", kGroupIdColumn, "\", \"", kLogColumn,
              "\", \"", kPriorityColumn, "\") SELECT ?, ?, ?");
  PreparedLog prepared;
  prepared.insert = kInsert;
  prepared.size = text.size();
  prepared.priority = priority;
  TLMStorageBindableArray& values = prepared.values;
  const auto tokens = log->transmissionTargetTokens();
  if (isCommonSchemaLog(*log) && !tokens.empty()) {
    const std::string& token = *tokens.begin();
    const auto encryptedToken = targetTokenEncrypter_ ? targetTokenEncrypter_->encryptString(token)
                                                      : std::optional<std::string>();
    if (!encryptedToken) {
      // Stored without its token the log could only be refused by the
      // collector, so it is not stored at all.
      TLM_LOG_ERROR(kTLMLogTag, "Failed to encrypt the target token; the log is not stored.");
      return std::nullopt;
    }
    prepared.insert = kInsertWithToken;
    values.addString(groupId);
    values.addString(text);
    values.addString(*encryptedToken);
    values.addString(TLMUtility_StringFormatting::targetKeyFromTargetToken(token));
    values.addNumber(priority);
  } else {
    values.addString(groupId);
    values.addString(text);
    values.addNumber(priority);
  }
  return prepared;
}

int TLMLogDBStorage::insertPrepared(sqlite3* database, std::int64_t maxPageCount,
                                    const PreparedLog& prepared) {
  const std::int64_t capacity = maxPageCount * pageSize();
  if (static_cast<std::int64_t>(prepared.size) >= capacity) {
    TLM_LOG_ERROR(kTLMLogTag, "Log is too large (", prepared.size,
                  " bytes) to store in database. Current maximum database size is ", capacity,
                  " bytes.");
    return SQLITE_ERROR;
  }
  const auto tryInsert = [&] {
    return executeKeptStatement(prepared.insert, database, prepared.values);
  };
  // Whether SQLite answered a full file by ending the whole transaction;
  // evicting more would then only lose logs.
  const auto transactionEnded = [&] { return sqlite3_get_autocommit(database) != 0; };
  int code = tryInsert();
  if (code == SQLITE_FULL && !transactionEnded()) {
    // Room is made from the lowest priority up, oldest first, over every
    // group and also over logs in flight.
    TLMStorageBindableArray priorityValue;
    priorityValue.addNumber(prepared.priority);
    int selectResult = SQLITE_OK;
    const TLMStorageRows candidates = executeSelectionQuery(
        logText("SELECT \"", kIdColumn, "\" FROM \"", kTableName, "\" WHERE \"", kPriorityColumn,
                "\" <= ? ORDER BY \"", kPriorityColumn, "\" ASC, \"", kIdColumn, "\" ASC"),
        database, &selectResult, priorityValue);
    std::int64_t deleted = 0;
    for (const auto& candidate : candidates) {
      const auto* id = std::get_if<std::int64_t>(&candidate.front());
      if (!id) continue;
      TLMStorageBindableArray idValue;
      idValue.addNumber(*id);
      const int deleteResult =
          deleteLogsFromDBWithColumnValues(database, kIdColumn, idValue, logText(*id));
      if (deleteResult != SQLITE_OK) {
        code = deleteResult;
        break;
      }
      TLM_LOG_DEBUG(kTLMLogTag, "Deleted a log with id ", *id, " to store a new log.");
      ++deleted;
      code = tryInsert();
      if (code != SQLITE_FULL || transactionEnded()) break;
    }
    if (deleted > 0 && code == SQLITE_OK) {
      TLM_LOG_DEBUG(kTLMLogTag, "Log storage was over capacity, ", deleted,
                    " oldest log(s) with equal or lower priority deleted.");
    }
  }
  if (code == SQLITE_FULL && transactionEnded()) {
    TLM_LOG_ERROR(kTLMLogTag, "The full database ended the transaction; discarding the log.");
  } else if (code == SQLITE_FULL) {
    // The unit is rolled back, and with it any eviction made for this log.
    TLM_LOG_ERROR(kTLMLogTag,
                  "Storage is full and no logs with equal or lower priority exist; "
                  "discarding the log.");
  }
  if (code == SQLITE_OK) {
    TLM_LOG_VERBOSE(kTLMLogTag, "Log is stored with id: '",
                    static_cast<std::int64_t>(sqlite3_last_insert_rowid(database)), "'");
  }
  return code;
}

bool TLMLogDBStorage::saveLog(const std::shared_ptr<TLMAbstractLog>& log,
                              const std::string& groupId, std::uint64_t flags) {
  const auto prepared = prepareLog(log, groupId, flags);
  return prepared && savePrepared(*prepared);
}

// Eviction and insert are one unit of work: a failure (or a crash) between
// them leaves the evicted logs in place. The insert is written as
// INSERT ... SELECT so that SQLite answers a full file by undoing only that
// statement, not the unit's transaction with the evictions made so far.
bool TLMLogDBStorage::savePrepared(const PreparedLog& prepared) {
  return executeQueryUsingBlock([&](sqlite3* database, std::int64_t maxPageCount) {
           return insertPrepared(database, maxPageCount, prepared);
         }) == SQLITE_OK;
}

std::vector<bool> TLMLogDBStorage::saveLogs(std::span<const LogToSave> logs,
                                            const std::string& groupId) {
  std::vector<std::optional<PreparedLog>> prepared;
  prepared.reserve(logs.size());
  for (const LogToSave& log : logs)
    prepared.push_back(prepareLog(log.log, groupId, log.flags));
  std::vector<bool> saved(logs.size(), false);
  const auto eachAlone = [&] {
    for (std::size_t i = 0; i < logs.size(); ++i)
      saved[i] = prepared[i] && savePrepared(*prepared[i]);
    return saved;
  };
  if (logs.size() < 2) return eachAlone();

  // One unit for all, synced once. Each insert, with the evictions made for
  // it, is a savepoint of its own, undone alone when it fails, as its own
  // unit would be.
  const TLMStorageBindableArray none;
  const int result = executeQueryUsingBlock([&](sqlite3* database, std::int64_t maxPageCount) {
    for (std::size_t i = 0; i < logs.size(); ++i) {
      if (!prepared[i]) continue;
      int code = executeKeptStatement("SAVEPOINT log", database, none);
      if (code != SQLITE_OK) return code;
      const int inserted = insertPrepared(database, maxPageCount, *prepared[i]);
      // SQLite ended the whole unit: what it held is gone.
      if (sqlite3_get_autocommit(database)) return inserted == SQLITE_OK ? SQLITE_ABORT : inserted;
      if (inserted != SQLITE_OK) {
        code = executeKeptStatement("ROLLBACK TO log", database, none);
        if (code != SQLITE_OK) return code;
      }
      code = executeKeptStatement("RELEASE log", database, none);
      if (code != SQLITE_OK) return code;
      saved[i] = inserted == SQLITE_OK;
    }
    return SQLITE_OK;
  });
  if (result == SQLITE_OK) return saved;
  // Nothing of the unit was kept: each log goes alone.
  return eachAlone();
}

std::uint64_t TLMLogDBStorage::countLogs() {
  return countEntriesForTable(kTableName, "");
}

bool TLMLogDBStorage::loadLogsWithGroupId(const std::string& groupId, std::uint64_t limit,
                                          const std::vector<std::string>& excludedTargetKeys,
                                          const TLMLoadLogsCompletionHandler& completionHandler) {
  // Rows already handed out for exactly this group (not for groups whose id
  // merely starts with it).
  std::vector<std::int64_t> handedOut;
  for (const auto& [key, ids] : batches_) {
    if (key.first == groupId) handedOut.insert(handedOut.end(), ids.begin(), ids.end());
  }

  TLMStorageBindableArray values;
  std::string condition = logText("\"", kGroupIdColumn, "\" = ?");
  values.addString(groupId);
  if (!excludedTargetKeys.empty()) {
    // A row without a target key belongs to no paused target; NOT IN alone
    // would leave it out.
    condition += logText(" AND (\"", kTargetKeyColumn, "\" IS NULL OR \"", kTargetKeyColumn,
                         "\" NOT IN ", buildKeyFormatWithCount(excludedTargetKeys.size()), ")");
    for (const auto& key : excludedTargetKeys)
      values.addString(key);
  }
  if (!handedOut.empty()) {
    condition +=
        logText(" AND \"", kIdColumn, "\" NOT IN ", buildKeyFormatWithCount(handedOut.size()));
    for (const auto id : handedOut)
      values.addNumber(id);
  }
  condition += logText(" ORDER BY \"", kPriorityColumn, "\" DESC, \"", kIdColumn, "\" ASC");
  // One row beyond the limit tells whether more are waiting.
  constexpr auto kMaxLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  condition += " LIMIT ?";
  values.addNumber(static_cast<std::int64_t>(limit >= kMaxLimit ? kMaxLimit : limit + 1));

  std::vector<LogRow> rows = logsWithCondition(condition, values);
  bool moreLogsAvailable = false;
  if (rows.size() > limit) {
    rows.resize(static_cast<std::size_t>(limit));
    moreLogsAvailable = true;
  }

  std::vector<std::shared_ptr<TLMAbstractLog>> logs;
  std::optional<std::string> batchId;
  if (!rows.empty()) {
    std::vector<std::int64_t> ids;
    ids.reserve(rows.size());
    logs.reserve(rows.size());
    for (auto& row : rows) {
      ids.push_back(row.id);
      logs.push_back(std::move(row.log));
    }
    batchId = base::makeUuidString();
    TLM_LOG_VERBOSE(kTLMLogTag, "Load log(s) with id(s) '", joined(ids, "','"),
                    "' as batch Id:", *batchId);
    batches_[{groupId, *batchId}] = std::move(ids);
  }
  if (completionHandler) completionHandler(std::move(logs), std::move(batchId));
  return moreLogsAvailable;
}

void TLMLogDBStorage::deleteLogsWithBatchId(const std::string& batchId,
                                            const std::string& groupId) {
  const auto it = batches_.find({groupId, batchId});
  if (it == batches_.end()) return;
  if (!it->second.empty()) (void)deleteLogsFromDBWithIds(it->second);
  batches_.erase(it);
}

std::vector<std::shared_ptr<TLMAbstractLog>> TLMLogDBStorage::deleteLogsWithGroupId(
    const std::string& groupId) {
  auto logs = logsFromDBWithGroupId(groupId);
  TLMStorageBindableArray values;
  values.addString(groupId);
  (void)executeQueryUsingBlock([&](sqlite3* database) {
    return deleteLogsFromDBWithColumnValues(database, kGroupIdColumn, values, groupId);
  });
  std::erase_if(batches_, [&](const auto& entry) { return entry.first.first == groupId; });
  return logs;
}

void TLMLogDBStorage::setMaxStorageSize(std::int64_t sizeInBytes,
                                        const std::function<void(bool)>& completionHandler) {
  TLMDBStorage::setMaxStorageSize(sizeInBytes, completionHandler);
}

std::vector<std::shared_ptr<TLMAbstractLog>> TLMLogDBStorage::logsFromDBWithGroupId(
    const std::string& groupId) {
  TLMStorageBindableArray values;
  values.addString(groupId);
  std::vector<LogRow> rows = logsWithCondition(logText("\"", kGroupIdColumn, "\" = ?"), values);
  std::vector<std::shared_ptr<TLMAbstractLog>> logs;
  logs.reserve(rows.size());
  for (auto& row : rows)
    logs.push_back(std::move(row.log));
  return logs;
}

std::vector<TLMLogDBStorage::LogRow> TLMLogDBStorage::logsWithCondition(
    std::string_view condition, const TLMStorageBindableArray& values) {
  std::string query = logText("SELECT * FROM \"", kTableName, "\"");
  if (!condition.empty()) query += logText(" WHERE ", condition);
  const TLMStorageRows rows = executeSelectionQuery(query, values);

  std::vector<LogRow> result;
  result.reserve(rows.size());
  const std::size_t needed =
      std::max({idColumnIndex_, groupIdColumnIndex_, logColumnIndex_, targetTokenColumnIndex_}) + 1;
  for (const auto& row : rows) {
    if (row.size() < needed) continue;
    const auto* id = std::get_if<std::int64_t>(&row[idColumnIndex_]);
    if (!id) continue;
    const auto* text = std::get_if<std::string>(&row[logColumnIndex_]);
    std::shared_ptr<TLMAbstractLog> log;
    if (text) log = unarchiveKeyedDataOf<TLMAbstractLog>(base::base64DecodeLenient(*text));
    if (!log) {
      TLM_LOG_ERROR(kTLMLogTag, "Deserialization failed for log with Id ", *id);
      (void)deleteLogFromDBWithId(*id);
      continue;
    }
    if (const auto* token = std::get_if<std::string>(&row[targetTokenColumnIndex_])) {
      if (token->empty()) {
        TLM_LOG_ERROR(kTLMLogTag, "Unexpected empty target token for log with Id ", *id, ".");
      } else if (auto clear = targetTokenEncrypter_ ? targetTokenEncrypter_->decryptString(*token)
                                                    : std::optional<std::string>()) {
        log->addTransmissionTargetToken(*clear);
      } else {
        TLM_LOG_ERROR(kTLMLogTag, "Failed to decrypt the target token for log with Id ", *id, ".");
      }
    }
    LogRow entry;
    entry.id = *id;
    if (const auto* group = std::get_if<std::string>(&row[groupIdColumnIndex_])) {
      entry.groupId = *group;
    }
    entry.log = std::move(log);
    result.push_back(std::move(entry));
  }
  return result;
}

int TLMLogDBStorage::deleteLogsFromDBWithColumnValues(sqlite3* database, std::string_view column,
                                                      const TLMStorageBindableArray& values,
                                                      std::string_view description) {
  const int result =
      executeNonSelectionQuery(logText("DELETE FROM \"", kTableName, "\" WHERE \"", column,
                                       "\" IN ", buildKeyFormatWithCount(values.size())),
                               database, values);
  const std::string message =
      logText("Deletion of log(s) by ", column, " with value(s) '", description, "'");
  if (result == SQLITE_OK) {
    TLM_LOG_VERBOSE(kTLMLogTag, message, " succeeded.");
  } else {
    TLM_LOG_ERROR(kTLMLogTag, message, " failed.");
  }
  return result;
}

int TLMLogDBStorage::deleteLogFromDBWithId(std::int64_t id) {
  return deleteLogsFromDBWithIds({id});
}

int TLMLogDBStorage::deleteLogsFromDBWithIds(const std::vector<std::int64_t>& ids) {
  TLMStorageBindableArray values;
  for (const auto id : ids)
    values.addNumber(id);
  return executeQueryUsingBlock([&](sqlite3* database) {
    return deleteLogsFromDBWithColumnValues(database, kIdColumn, values, joined(ids, "','"));
  });
}

}  // namespace tlm

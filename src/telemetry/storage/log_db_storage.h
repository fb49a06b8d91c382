#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "telemetry/storage/db_storage.h"
#include "telemetry/storage/storage.h"
#include "telemetry/storage/target_token_encrypter.h"

namespace tlm {

// The log store: one table "logs" in the file "Logs.sqlite", shared by every
// channel group. Logs are kept archived until delivered, each with the
// priority from its flags. A full store makes room by evicting logs of equal
// or lower priority, oldest first. Batches are handed out per group in
// priority order while the store remembers, in memory only, which rows are in
// flight. Target tokens of common-schema logs are kept encrypted.
//
// No lock: every call comes from the channel group's serial queue.
class TLMLogDBStorage final : public TLMDBStorage, public TLMStorage {
 public:
  static constexpr std::uint64_t kSchemaVersion = 5;
  static constexpr std::string_view kFileName = "Logs.sqlite";
  static constexpr std::string_view kTableName = "logs";

  // A stored log as read back.
  struct LogRow {
    std::int64_t id = 0;
    std::string groupId;
    std::shared_ptr<TLMAbstractLog> log;
  };
  // In-flight row ids by (group id, batch id).
  using Batches = std::map<std::pair<std::string, std::string>, std::vector<std::int64_t>>;

  // Opens (creating, migrating or rebuilding as needed) "Logs.sqlite" in
  // `directory`, the SDK's data directory outside tests. Without an
  // encrypter, common-schema logs with a target token are refused.
  TLMLogDBStorage(std::filesystem::path directory,
                  std::shared_ptr<TLMTargetTokenEncrypter> targetTokenEncrypter);

  // Table "logs": id, groupId, log, targetToken, targetKey, priority.
  static TLMStorageSchema logsSchema();
  // "(?,?,?)" for three values.
  static std::string buildKeyFormatWithCount(std::size_t count);

  bool saveLog(const std::shared_ptr<TLMAbstractLog>& log, const std::string& groupId,
               std::uint64_t flags) override;
  // In one transaction: one sync for all the logs.
  std::vector<bool> saveLogs(std::span<const LogToSave> logs, const std::string& groupId) override;
  std::uint64_t countLogs() override;
  std::vector<std::shared_ptr<TLMAbstractLog>> deleteLogsWithGroupId(
      const std::string& groupId) override;
  void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
  bool loadLogsWithGroupId(const std::string& groupId, std::uint64_t limit,
                           const std::vector<std::string>& excludedTargetKeys,
                           const TLMLoadLogsCompletionHandler& completionHandler) override;
  void setMaxStorageSize(std::int64_t sizeInBytes,
                         const std::function<void(bool)>& completionHandler) override;

  // The decodable logs of a group, oldest first.
  std::vector<std::shared_ptr<TLMAbstractLog>> logsFromDBWithGroupId(const std::string& groupId);
  // Rows matching the condition (SQL after WHERE, with "?" for `values`).
  // Rows whose log cannot be decoded are deleted and left out.
  std::vector<LogRow> logsWithCondition(std::string_view condition,
                                        const TLMStorageBindableArray& values);

  const Batches& batches() const { return batches_; }

 protected:
  void customizeDatabase(sqlite3* database) override;
  void migrateDatabase(sqlite3* database, std::uint64_t fromVersion) override;

 private:
  // A log ready to insert: its statement and values, the size of its stored
  // text and its priority.
  struct PreparedLog {
    std::string_view insert;
    TLMStorageBindableArray values;
    std::size_t size = 0;
    std::int64_t priority = 0;
  };
  // None when the log cannot be stored (reported).
  std::optional<PreparedLog> prepareLog(const std::shared_ptr<TLMAbstractLog>& log,
                                        const std::string& groupId, std::uint64_t flags) const;
  // Inserts the log within the open unit, making room when the file is full.
  int insertPrepared(sqlite3* database, std::int64_t maxPageCount, const PreparedLog& prepared);
  // The log in a unit of its own.
  bool savePrepared(const PreparedLog& prepared);

  static void createPriorityIndex(sqlite3* database);
  // Deletes the rows whose `column` holds one of `values` (all numbers or
  // all texts); `description` names the values in the log line.
  static int deleteLogsFromDBWithColumnValues(sqlite3* database, std::string_view column,
                                              const TLMStorageBindableArray& values,
                                              std::string_view description);
  int deleteLogFromDBWithId(std::int64_t id);
  int deleteLogsFromDBWithIds(const std::vector<std::int64_t>& ids);

  std::shared_ptr<TLMTargetTokenEncrypter> targetTokenEncrypter_;
  std::size_t idColumnIndex_ = 0;
  std::size_t groupIdColumnIndex_ = 0;
  std::size_t logColumnIndex_ = 0;
  std::size_t targetTokenColumnIndex_ = 0;
  Batches batches_;
};

}  // namespace tlm

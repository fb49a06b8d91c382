#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "telemetry/model/abstract_log.h"

namespace tlm {

// Called before a load returns with the loaded logs in order and their batch
// id (none, with no logs, when nothing was loaded).
using TLMLoadLogsCompletionHandler = std::function<void(
    std::vector<std::shared_ptr<TLMAbstractLog>> logs, std::optional<std::string> batchId)>;

// Where channel units keep the logs they accepted until delivered. Every call
// comes from the channel group's serial queue.
class TLMStorage {
 public:
  virtual ~TLMStorage() = default;

  // Stores the log for the group; the low 8 bits of `flags` are its
  // priority. True when it was stored.
  virtual bool saveLog(const std::shared_ptr<TLMAbstractLog>& log, const std::string& groupId,
                       std::uint64_t flags) = 0;
  // A log to store with its flags, as saveLog takes them.
  struct LogToSave {
    std::shared_ptr<TLMAbstractLog> log;
    std::uint64_t flags = 0;
  };
  // Stores the group's logs in order, each as saveLog stores it; a store may
  // make them durable together, before it returns. Answers, for each log,
  // whether it was stored.
  virtual std::vector<bool> saveLogs(std::span<const LogToSave> logs, const std::string& groupId) {
    std::vector<bool> saved;
    saved.reserve(logs.size());
    for (const LogToSave& log : logs)
      saved.push_back(saveLog(log.log, groupId, log.flags));
    return saved;
  }
  // All stored logs of every group.
  virtual std::uint64_t countLogs() = 0;
  // Deletes the group's logs and forgets its batches; answers the logs.
  virtual std::vector<std::shared_ptr<TLMAbstractLog>> deleteLogsWithGroupId(
      const std::string& groupId) = 0;
  // Deletes the logs of a batch handed out for the group; unknown batches are
  // ignored.
  virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
  // Hands out up to `limit` logs of the group not yet handed out, skipping
  // logs of the excluded target keys, highest priority first, then oldest.
  // The handler runs before the call returns. True when more logs wait.
  virtual bool loadLogsWithGroupId(const std::string& groupId, std::uint64_t limit,
                                   const std::vector<std::string>& excludedTargetKeys,
                                   const TLMLoadLogsCompletionHandler& completionHandler) = 0;
  // Bounds the store's size; the handler gets the outcome.
  virtual void setMaxStorageSize(std::int64_t sizeInBytes,
                                 const std::function<void(bool)>& completionHandler) = 0;
};

}  // namespace tlm

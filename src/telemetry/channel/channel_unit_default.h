#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/channel/channel_environment.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/ingestion/ingestion_protocol.h"
#include "telemetry/model/log_container.h"
#include "telemetry/storage/storage.h"

namespace tlm {

// The conveyor of one group: completes each log, lets the delegates prepare,
// veto and follow it, stores it, and later loads stored logs in batches and
// hands them to the ingestion, at most `pendingBatchesLimit` at a time. A
// batch answered 200 is deleted; a recoverable failure leaves it stored for
// the next launch; any other answer disables the unit and deletes its logs.
//
// All state lives on `logsDispatchQueue`: the public operations may be called
// from any thread and queue their work, except `checkPendingLogs`,
// `flushQueue` and the state getters, which belong to the queue. Own units
// through std::shared_ptr (queued work holds the unit weakly).
class TLMChannelUnitDefault final : public TLMChannelUnitProtocol,
                                    public std::enable_shared_from_this<TLMChannelUnitDefault> {
 public:
  static constexpr const char* kStartTimerKey = "ChannelStartTimer";

  TLMChannelUnitDefault(std::shared_ptr<TLMIngestionProtocol> ingestion,
                        std::shared_ptr<TLMStorage> storage,
                        TLMChannelUnitConfiguration configuration,
                        std::shared_ptr<dispatch::Queue> logsDispatchQueue,
                        TLMChannelEnvironment environment);

  // TLMEnable, TLMChannelProtocol, TLMChannelUnitProtocol.
  void setEnabled(bool enabled, bool deleteDataOnDisabled) override;
  // Synchronous, so that a log enqueued right after reaches the delegate.
  void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
  void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
  void pauseWithIdentifyingObject(const TLMIdentifyingObject& object) override;
  void resumeWithIdentifyingObject(const TLMIdentifyingObject& object) override;
  void enqueueItem(const TLMLogPtr& log, std::uint64_t flags) override;
  void pauseSendingLogsWithToken(const std::string& token) override;
  void resumeSendingLogsWithToken(const std::string& token) override;
  void checkPendingLogs() override;
  const TLMChannelUnitConfiguration& configuration() const override { return configuration_; }
  const std::shared_ptr<dispatch::Queue>& logsDispatchQueue() const override { return queue_; }

  // Loads and sends batches until the store has no more or the in-flight
  // limit is reached. On the queue.
  void flushQueue();
  // Deletes the in-flight batches and the group's stored logs, reporting each
  // stored log to the delegates as failed with `error`. Queued.
  void deleteAllLogsWithError(const base::Error& error);

  // "ChannelStartTimer:<group id>".
  std::string oldestPendingLogTimestampKey() const;
  const std::shared_ptr<TLMIngestionProtocol>& ingestion() const { return ingestion_; }
  const std::shared_ptr<TLMStorage>& storage() const { return storage_; }

  // State, read on the queue.
  bool isEnabled() const { return enabled_; }
  bool isPaused() const { return paused_; }
  bool discardLogs() const { return discardLogs_; }
  std::uint64_t itemsCount() const { return itemsCount_; }
  const std::vector<std::string>& pendingBatchIds() const { return pendingBatchIds_; }
  bool availableBatchFromStorage() const { return availableBatchFromStorage_; }
  bool pendingBatchQueueFull() const { return pendingBatchQueueFull_; }
  const std::set<std::string>& pausedTargetKeys() const { return pausedTargetKeys_; }

 private:
  // Runs `work` on the queue while the unit lives.
  void onQueue(std::function<void(TLMChannelUnitDefault&)> work);

  void enqueueOnQueue(const TLMLogPtr& log, const std::string& internalId, std::uint64_t flags);
  // Filters the log, or adds it to the logs to store.
  void acceptOnQueue(const TLMLogPtr& log, const std::string& internalId, std::uint64_t flags);
  // Stores the logs accepted since the last call, together, then completes
  // their enqueueing in order.
  void savePending();
  std::uint64_t resolveFlushInterval();
  void startTimer(std::uint64_t seconds);
  void resetTimer();
  void sendLogContainer(const std::shared_ptr<TLMLogContainer>& container);
  void batchAnswered(const std::string& batchId, const std::shared_ptr<TLMLogContainer>& container,
                     const std::optional<TLMHttpResponse>& response,
                     const std::optional<base::Error>& error);
  void setEnabledSync(bool enabled, bool deleteDataOnDisabled);
  void pauseWithIdentifyingObjectSync(const TLMIdentifyingObject& object);
  void resumeWithIdentifyingObjectSync(const TLMIdentifyingObject& object);
  void deleteAllLogsWithErrorSync(const base::Error& error);
  void notifyFailureBeforeSendingForItem(const TLMLogPtr& log, const base::Error& error);
  // True while an object in the pause lane is alive (dead ones are dropped).
  bool pauseLaneHoldsLiveObject();

  const TLMChannelUnitConfiguration configuration_;
  const std::shared_ptr<dispatch::Queue> queue_;
  const std::shared_ptr<TLMIngestionProtocol> ingestion_;
  const std::shared_ptr<TLMStorage> storage_;
  const TLMChannelEnvironment environment_;
  TLMChannelDelegateSet delegates_;

  // Queue-confined state.
  dispatch::TimerHandle timer_;
  // Logs accepted on the queue and not yet stored: those enqueued one after
  // another are stored in one go, before any other work of the unit runs.
  struct PendingSave {
    TLMLogPtr log;
    std::string internalId;
    std::uint64_t flags;
  };
  std::vector<PendingSave> pendingSaves_;
  // Enqueued logs whose turn on the queue has not come yet (any thread).
  std::atomic<std::size_t> enqueuesWaiting_{0};
  std::uint64_t itemsCount_ = 0;
  std::vector<std::string> pendingBatchIds_;
  bool availableBatchFromStorage_ = false;
  bool pendingBatchQueueFull_ = false;
  bool enabled_ = true;
  bool paused_ = false;
  bool discardLogs_ = false;
  std::vector<std::weak_ptr<const void>> pausedIdentifyingObjects_;
  std::set<std::string> pausedTargetKeys_;
};

}  // namespace tlm

#include "telemetry/channel/channel_unit_default.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <utility>

#include "coding/value.h"
#include "telemetry/core/logger.h"
#include "telemetry/http/http_util.h"
#include "telemetry/ingestion/http_ingestion.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

// The flush interval at which a full batch flushes at once, and above which
// the start of the wait is kept across launches.
constexpr std::uint64_t kImmediateFlushInterval = 3;

// Longest timer the queue can represent comfortably (about 100 years).
constexpr std::uint64_t kMaxTimerSeconds = 100ull * 365 * 24 * 3600;

std::string textOr(const std::optional<std::string>& text) {
  return text.value_or("(null)");
}

std::string objectText(const TLMIdentifyingObject& object) {
  std::ostringstream out;
  out << object.get();
  return out.str();
}

bool sameOwner(const std::weak_ptr<const void>& a, const std::weak_ptr<const void>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

TLMChannelUnitDefault::TLMChannelUnitDefault(std::shared_ptr<TLMIngestionProtocol> ingestion,
                                             std::shared_ptr<TLMStorage> storage,
                                             TLMChannelUnitConfiguration configuration,
                                             std::shared_ptr<dispatch::Queue> logsDispatchQueue,
                                             TLMChannelEnvironment environment)
    : configuration_(std::move(configuration)),
      queue_(std::move(logsDispatchQueue)),
      ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      environment_(std::move(environment)) {}

void TLMChannelUnitDefault::onQueue(std::function<void(TLMChannelUnitDefault&)> work) {
  std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
  queue_->async([weak, work = std::move(work)] {
    if (auto self = weak.lock()) {
      // Logs enqueued before this work are stored before it runs.
      self->savePending();
      work(*self);
    }
  });
}

std::string TLMChannelUnitDefault::oldestPendingLogTimestampKey() const {
  return std::string(kStartTimerKey) + ":" + configuration_.groupId();
}

// Delegates.

void TLMChannelUnitDefault::addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
  delegates_.add(delegate);
}

void TLMChannelUnitDefault::removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
  delegates_.remove(delegate);
}

void TLMChannelUnitDefault::notifyFailureBeforeSendingForItem(const TLMLogPtr& log,
                                                              const base::Error& error) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.willSendLog(*this, log);
    delegate.didFailSendingLog(*this, log, error);
  });
}

// Enqueueing.

void TLMChannelUnitDefault::enqueueItem(const TLMLogPtr& log, std::uint64_t flags) {
  if (!log) {
    TLM_LOG_WARNING(kTLMLogTag, "Log is not valid.");
    return;
  }
  if (!log->timestamp) log->timestamp = queue_->clock().now();
  if (!log->device && environment_.currentDevice) log->device = environment_.currentDevice();
  if (!log->isValid()) {
    TLM_LOG_WARNING(kTLMLogTag, "Log is not valid.");
    return;
  }
  const std::string internalId = TLMMakeUUIDString();
  delegates_.forEach([&](TLMChannelDelegate& delegate) { delegate.prepareLog(*this, log); });
  delegates_.forEach(
      [&](TLMChannelDelegate& delegate) { delegate.didPrepareLog(*this, log, internalId, flags); });
  enqueuesWaiting_.fetch_add(1, std::memory_order_relaxed);
  std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
  queue_->async([weak, log, internalId, flags] {
    if (auto self = weak.lock()) self->enqueueOnQueue(log, internalId, flags);
  });
}

void TLMChannelUnitDefault::enqueueOnQueue(const TLMLogPtr& log, const std::string& internalId,
                                           std::uint64_t flags) {
  // Logs enqueued in a burst (a rebuilt menu sends one per item) are stored
  // together, with one sync, by the last of them on the queue.
  const bool last = enqueuesWaiting_.fetch_sub(1, std::memory_order_relaxed) == 1;
  acceptOnQueue(log, internalId, flags);
  if (last) savePending();
}

void TLMChannelUnitDefault::acceptOnQueue(const TLMLogPtr& log, const std::string& internalId,
                                          std::uint64_t flags) {
  // Earlier logs waiting to be stored complete first.
  const auto completed = [&] {
    savePending();
    delegates_.forEach([&](TLMChannelDelegate& delegate) {
      delegate.didCompleteEnqueueingLog(*this, log, internalId);
    });
  };

  bool filtered = false;
  for (const auto& delegate : delegates_.snapshot()) {
    if (delegate->shouldFilterLog(*this, log)) {
      filtered = true;
      break;
    }
  }
  if (filtered) {
    TLM_LOG_DEBUG(kTLMLogTag, "Log of type '", textOr(log->type),
                  "' was filtered out by delegate(s)");
    completed();
    return;
  }
  if (!ingestion_ || !ingestion_->isReadyToSend()) {
    TLM_LOG_DEBUG(kTLMLogTag, "Log of type '", textOr(log->type),
                  "' was not filtered out by delegate(s) but ingestion is not ready to send it.");
    completed();
    return;
  }
  if (discardLogs_) {
    TLM_LOG_WARNING(kTLMLogTag, "Channel ", configuration_.groupId(),
                    " disabled in log discarding mode, discard this log.");
    notifyFailureBeforeSendingForItem(log, TLMConnectionPausedError());
    completed();
    return;
  }
  TLM_LOG_DEBUG(kTLMLogTag, "Saving log, type: ", textOr(log->type), ", flags: ", flags, ".");
  if (!storage_) {
    completed();
    return;
  }
  pendingSaves_.push_back({log, internalId, flags});
}

void TLMChannelUnitDefault::savePending() {
  if (pendingSaves_.empty()) return;
  const std::vector<PendingSave> pending = std::exchange(pendingSaves_, {});
  std::vector<TLMStorage::LogToSave> logs;
  logs.reserve(pending.size());
  for (const PendingSave& save : pending)
    logs.push_back({save.log, save.flags});
  const std::vector<bool> saved = storage_->saveLogs(logs, configuration_.groupId());
  for (std::size_t i = 0; i < pending.size(); ++i) {
    delegates_.forEach([&](TLMChannelDelegate& delegate) {
      delegate.didCompleteEnqueueingLog(*this, pending[i].log, pending[i].internalId);
    });
    if (i < saved.size() && saved[i]) {
      ++itemsCount_;
      checkPendingLogs();
    }
  }
}

// Deciding when to send.

void TLMChannelUnitDefault::checkPendingLogs() {
  if (!paused_ && configuration_.flushInterval() == kImmediateFlushInterval &&
      itemsCount_ >= configuration_.batchSizeLimit()) {
    flushQueue();
    return;
  }
  if (itemsCount_ == 0) return;
  const std::uint64_t interval = resolveFlushInterval();
  if (paused_) return;
  if (interval > 0) {
    startTimer(interval);
  } else {
    flushQueue();
  }
}

std::uint64_t TLMChannelUnitDefault::resolveFlushInterval() {
  const std::uint64_t interval = configuration_.flushInterval();
  if (interval <= kImmediateFlushInterval || !environment_.settings) return interval;

  const std::string key = oldestPendingLogTimestampKey();
  const auto now = queue_->clock().now();
  const auto stored = environment_.settings->objectForKey(key);
  const base::Time* start = stored ? stored->getIf<base::Time>() : nullptr;
  if (!start || now < *start) {
    environment_.settings->setObject(coding::Value(now), key);
    return interval;
  }
  const auto elapsed = now - *start;
  const auto elapsedSeconds =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  const bool passed = elapsedSeconds > interval ||
                      (elapsedSeconds == interval && elapsed > std::chrono::seconds(interval));
  if (passed) {
    environment_.settings->removeObjectForKey(key);
    return 0;
  }
  return interval - elapsedSeconds;
}

void TLMChannelUnitDefault::startTimer(std::uint64_t seconds) {
  if (!enabled_) return;
  resetTimer();
  std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
  const auto delay = std::chrono::seconds(std::min(seconds, kMaxTimerSeconds));
  timer_ = queue_->after(delay, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->savePending();
    if (self->itemsCount_ > 0) self->flushQueue();
    self->resetTimer();
    if (self->environment_.settings)
      self->environment_.settings->removeObjectForKey(self->oldestPendingLogTimestampKey());
  });
}

void TLMChannelUnitDefault::resetTimer() {
  timer_.cancel();
}

// Sending.

void TLMChannelUnitDefault::flushQueue() {
  // A loop rather than a flush per batch, so that many waiting batches do not
  // nest calls.
  for (;;) {
    if (!ingestion_ || !enabled_ || !ingestion_->isReadyToSend()) return;
    resetTimer();
    if (paused_ || pendingBatchQueueFull_) {
      if (itemsCount_ >= configuration_.batchSizeLimit()) {
        availableBatchFromStorage_ = true;
        itemsCount_ = 0;
      }
      return;
    }
    itemsCount_ = 0;
    if (!storage_) return;

    bool sent = false;
    const std::vector<std::string> excluded(pausedTargetKeys_.begin(), pausedTargetKeys_.end());
    availableBatchFromStorage_ = storage_->loadLogsWithGroupId(
        configuration_.groupId(), configuration_.batchSizeLimit(), excluded,
        [&](std::vector<TLMLogPtr> logs, std::optional<std::string> batchId) {
          if (logs.empty()) return;
          sent = true;
          sendLogContainer(std::make_shared<TLMLogContainer>(std::move(batchId), std::move(logs)));
        });
    // A load that handed out nothing (a batch size of 0, say) would only
    // repeat itself.
    if (!sent || !availableBatchFromStorage_ || pendingBatchQueueFull_) return;
  }
}

void TLMChannelUnitDefault::sendLogContainer(const std::shared_ptr<TLMLogContainer>& container) {
  const std::string batchId = container->batchId.value_or(std::string());
  pendingBatchIds_.push_back(batchId);
  if (pendingBatchIds_.size() >= configuration_.pendingBatchesLimit())
    pendingBatchQueueFull_ = true;

  if (static_cast<std::uint32_t>(TLMLogger::currentLogLevel()) <=
      static_cast<std::uint32_t>(TLMLogLevel::Debug)) {
    const std::size_t count = container->logs.size();
    for (std::size_t i = 0; i < count; ++i) {
      const auto& log = container->logs[i];
      TLM_LOG_DEBUG(kTLMLogTag, "Sending ", i + 1, "/", count,
                    " log, group Id: ", configuration_.groupId(), ", batch Id: ", batchId,
                    ", session Id: ", textOr(log->sid), ", payload:\n",
                    textOr(log->serializeLogWithPrettyPrinting(true)));
    }
  }

  for (const auto& delegate : delegates_.snapshot()) {
    for (const auto& log : container->logs)
      delegate->willSendLog(*this, log);
  }

  std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
  ingestion_->sendAsync(
      container.get(), [weak, container](const std::string& answeredBatchId,
                                         const std::optional<TLMHttpResponse>& response,
                                         const std::optional<std::string>& /*body*/,
                                         const std::optional<base::Error>& error) {
        // Answers come on any thread; the unit's state is only touched on its queue.
        if (auto self = weak.lock()) {
          self->onQueue([container, answeredBatchId, response, error](TLMChannelUnitDefault& unit) {
            unit.batchAnswered(answeredBatchId, container, response, error);
          });
        }
      });
}

void TLMChannelUnitDefault::batchAnswered(const std::string& batchId,
                                          const std::shared_ptr<TLMLogContainer>& container,
                                          const std::optional<TLMHttpResponse>& response,
                                          const std::optional<base::Error>& error) {
  const auto pending = std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId);
  if (pending == pendingBatchIds_.end()) {
    TLM_LOG_WARNING(kTLMLogTag, "Batch Id ", batchId, " not expected, ignore.");
    return;
  }
  const std::int64_t status = response ? response->statusCode : 0;
  const auto snapshot = delegates_.snapshot();
  if (status == 200) {
    TLM_LOG_DEBUG(kTLMLogTag, "Log(s) sent with success, batch Id:", batchId, ".");
    for (const auto& delegate : snapshot) {
      for (const auto& log : container->logs)
        delegate->didSucceedSendingLog(*this, log);
    }
    if (storage_) storage_->deleteLogsWithBatchId(batchId, configuration_.groupId());
  } else {
    TLM_LOG_ERROR(kTLMLogTag, "Log(s) sent with failure, batch Id:", batchId,
                  ", status code:", status);
    for (const auto& delegate : snapshot) {
      for (const auto& log : container->logs)
        delegate->didFailSendingLog(*this, log, error);
    }
    if (!TLMHttpUtil::isRecoverableError(status)) {
      TLM_LOG_ERROR(kTLMLogTag,
                    "Fatal error encountered; shutting down channel unit with group ID ",
                    configuration_.groupId());
      setEnabledSync(false, true);
      return;
    }
  }
  pendingBatchIds_.erase(std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId));
  if (pendingBatchQueueFull_ && pendingBatchIds_.size() < configuration_.pendingBatchesLimit()) {
    pendingBatchQueueFull_ = false;
    if (status == 200 && availableBatchFromStorage_) flushQueue();
  }
}

// Enabling, pausing, deleting.

void TLMChannelUnitDefault::setEnabled(bool enabled, bool deleteDataOnDisabled) {
  onQueue([enabled, deleteDataOnDisabled](TLMChannelUnitDefault& self) {
    self.setEnabledSync(enabled, deleteDataOnDisabled);
  });
}

void TLMChannelUnitDefault::setEnabledSync(bool enabled, bool deleteDataOnDisabled) {
  if (enabled != enabled_) {
    enabled_ = enabled;
    // Disabling is a pause held by the unit itself.
    const TLMIdentifyingObject self = shared_from_this();
    if (enabled) {
      resumeWithIdentifyingObjectSync(self);
    } else {
      pauseWithIdentifyingObjectSync(self);
    }
  }
  if (!enabled_ && deleteDataOnDisabled) {
    TLM_LOG_DEBUG(kTLMLogTag, "Delete all logs for group Id ", configuration_.groupId());
    deleteAllLogsWithErrorSync(TLMConnectionPausedError());
    itemsCount_ = 0;
    availableBatchFromStorage_ = false;
    pendingBatchQueueFull_ = false;
    if (environment_.settings)
      environment_.settings->removeObjectForKey(oldestPendingLogTimestampKey());
    discardLogs_ = true;
  } else {
    discardLogs_ = false;
  }
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didSetEnabled(*this, enabled, deleteDataOnDisabled);
  });
}

void TLMChannelUnitDefault::pauseWithIdentifyingObject(const TLMIdentifyingObject& object) {
  onQueue([object](TLMChannelUnitDefault& self) { self.pauseWithIdentifyingObjectSync(object); });
}

void TLMChannelUnitDefault::resumeWithIdentifyingObject(const TLMIdentifyingObject& object) {
  onQueue([object](TLMChannelUnitDefault& self) { self.resumeWithIdentifyingObjectSync(object); });
}

bool TLMChannelUnitDefault::pauseLaneHoldsLiveObject() {
  std::erase_if(pausedIdentifyingObjects_, [](const auto& weak) { return weak.expired(); });
  return !pausedIdentifyingObjects_.empty();
}

void TLMChannelUnitDefault::pauseWithIdentifyingObjectSync(const TLMIdentifyingObject& object) {
  if (!object) return;
  const std::weak_ptr<const void> weak = object;
  pauseLaneHoldsLiveObject();  // drops the dead
  if (std::none_of(pausedIdentifyingObjects_.begin(), pausedIdentifyingObjects_.end(),
                   [&](const auto& entry) { return sameOwner(entry, weak); }))
    pausedIdentifyingObjects_.push_back(weak);
  TLM_LOG_VERBOSE(kTLMLogTag, "Identifying object ", objectText(object),
                  " added to pause lane for channel ", configuration_.groupId(), ".");
  if (!paused_) {
    TLM_LOG_DEBUG(kTLMLogTag, "Pause channel ", configuration_.groupId(), ".");
    paused_ = true;
    resetTimer();
  }
  delegates_.forEach(
      [&](TLMChannelDelegate& delegate) { delegate.didPauseWithIdentifyingObject(*this, object); });
}

void TLMChannelUnitDefault::resumeWithIdentifyingObjectSync(const TLMIdentifyingObject& object) {
  if (!object) return;
  const std::weak_ptr<const void> weak = object;
  std::erase_if(pausedIdentifyingObjects_,
                [&](const auto& entry) { return sameOwner(entry, weak); });
  TLM_LOG_VERBOSE(kTLMLogTag, "Identifying object ", objectText(object),
                  " removed from pause lane for channel ", configuration_.groupId(), ".");
  if (!pauseLaneHoldsLiveObject()) {
    TLM_LOG_DEBUG(kTLMLogTag, "Resume channel ", configuration_.groupId(), ".");
    paused_ = false;
    checkPendingLogs();
  }
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didResumeWithIdentifyingObject(*this, object);
  });
}

void TLMChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
  const auto targetKey = TLMUtility_StringFormatting::targetKeyFromTargetToken(token);
  if (!targetKey) {
    TLM_LOG_WARNING(kTLMLogTag, "The token has no target key; there is nothing to pause.");
    return;
  }
  onQueue([key = *targetKey](TLMChannelUnitDefault& self) {
    TLM_LOG_DEBUG(kTLMLogTag, "Pause channel for target key ", key, ".");
    self.pausedTargetKeys_.insert(key);
  });
}

void TLMChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
  const auto targetKey = TLMUtility_StringFormatting::targetKeyFromTargetToken(token);
  if (!targetKey) {
    TLM_LOG_WARNING(kTLMLogTag, "The token has no target key; there is nothing to resume.");
    return;
  }
  onQueue([key = *targetKey](TLMChannelUnitDefault& self) {
    TLM_LOG_DEBUG(kTLMLogTag, "Resume channel for target key ", key, ".");
    self.pausedTargetKeys_.erase(key);
    self.itemsCount_ = self.storage_ ? self.storage_->countLogs() : 0;
    self.checkPendingLogs();
  });
}

void TLMChannelUnitDefault::deleteAllLogsWithError(const base::Error& error) {
  onQueue([error](TLMChannelUnitDefault& self) { self.deleteAllLogsWithErrorSync(error); });
}

void TLMChannelUnitDefault::deleteAllLogsWithErrorSync(const base::Error& error) {
  if (storage_) {
    for (const auto& batchId : pendingBatchIds_)
      storage_->deleteLogsWithBatchId(batchId, configuration_.groupId());
  }
  pendingBatchIds_.clear();
  if (!storage_) return;
  for (const auto& log : storage_->deleteLogsWithGroupId(configuration_.groupId()))
    notifyFailureBeforeSendingForItem(log, error);
}

}  // namespace tlm

#include "telemetry/channel/channel_group_default.h"

#include <utility>

#include "dispatch/serial_queue.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/storage/log_db_storage.h"

namespace tlm {

TLMChannelGroupDefault::TLMChannelGroupDefault(std::shared_ptr<TLMIngestionProtocol> ingestion,
                                               std::shared_ptr<TLMStorage> storage,
                                               std::shared_ptr<dispatch::Queue> logsDispatchQueue,
                                               TLMChannelEnvironment environment)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      queue_(std::move(logsDispatchQueue)),
      environment_(std::move(environment)) {}

std::shared_ptr<TLMChannelGroupDefault> TLMChannelGroupDefault::make(
    std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
    const std::string& logUrl, const std::filesystem::path& dataDirectory,
    std::shared_ptr<TLMTargetTokenEncrypter> targetTokenEncrypter,
    TLMChannelEnvironment environment) {
  auto ingestion = TLMDarAvevedIngestion::make(std::move(httpClient), logUrl, installId);
  auto storage = std::make_shared<TLMLogDBStorage>(dataDirectory, std::move(targetTokenEncrypter));
  auto queue = std::make_shared<dispatch::SerialQueue>(kQueueLabel);
  return std::make_shared<TLMChannelGroupDefault>(std::move(ingestion), std::move(storage),
                                                  std::move(queue), std::move(environment));
}

// Units.

std::shared_ptr<TLMChannelUnitProtocol> TLMChannelGroupDefault::addChannelUnitWithConfiguration(
    const TLMChannelUnitConfiguration& configuration) {
  return addChannelUnitWithConfiguration(configuration, nullptr);
}

std::shared_ptr<TLMChannelUnitProtocol> TLMChannelGroupDefault::addChannelUnitWithConfiguration(
    const TLMChannelUnitConfiguration& configuration,
    std::shared_ptr<TLMIngestionProtocol> ingestion) {
  auto unit = std::make_shared<TLMChannelUnitDefault>(
      ingestion ? std::move(ingestion) : ingestion_, storage_, configuration, queue_, environment_);
  // Registered at once, not through the queue: a log enqueued right after
  // must already be prepared and routed by the group's delegates.
  unit->addDelegate(shared_from_this());
  std::weak_ptr<TLMChannelUnitDefault> weak = unit;
  queue_->async([weak] {
    if (auto live = weak.lock()) live->checkPendingLogs();
  });
  {
    std::lock_guard lock(mutex_);
    channels_.push_back(unit);
  }
  // Outside the lock: a delegate may add further units from here.
  delegates_.forEach(
      [&](TLMChannelDelegate& delegate) { delegate.didAddChannelUnit(*this, unit); });
  return unit;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMChannelGroupDefault::channelUnitForGroupId(
    const std::string& groupId) const {
  std::lock_guard lock(mutex_);
  for (const auto& unit : channels_) {
    if (unit->configuration().groupId() == groupId) return unit;
  }
  return nullptr;
}

std::vector<std::shared_ptr<TLMChannelUnitDefault>> TLMChannelGroupDefault::channels() const {
  std::lock_guard lock(mutex_);
  return channels_;
}

void TLMChannelGroupDefault::setMaxStorageSize(std::int64_t sizeInBytes,
                                               std::function<void(bool)> completionHandler) {
  queue_->async([storage = storage_, sizeInBytes, handler = std::move(completionHandler)] {
    if (storage) {
      storage->setMaxStorageSize(
          sizeInBytes, handler ? handler : [](bool) {});
    } else if (handler) {
      handler(false);
    }
  });
}

std::string TLMChannelGroupDefault::logUrl() const {
  const auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(ingestion_);
  return http ? http->baseURL() : std::string();
}

void TLMChannelGroupDefault::setLogUrl(const std::string& logUrl) {
  if (const auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(ingestion_))
    http->setBaseURL(logUrl);
}

std::string TLMChannelGroupDefault::appSecret() const {
  const auto own = std::dynamic_pointer_cast<TLMDarAvevedIngestion>(ingestion_);
  return own ? own->appSecret() : std::string();
}

void TLMChannelGroupDefault::setAppSecret(const std::string& appSecret) {
  if (const auto own = std::dynamic_pointer_cast<TLMDarAvevedIngestion>(ingestion_))
    own->setAppSecret(appSecret);
}

// Group-wide switches.

void TLMChannelGroupDefault::addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
  delegates_.add(delegate);
}

void TLMChannelGroupDefault::removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
  delegates_.remove(delegate);
}

void TLMChannelGroupDefault::setIngestionDisabled(bool disabled) {
  // Its sends are dropped unanswered: the units keep their logs stored and
  // stop at their limit of unanswered batches, without an error each time.
  if (const auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(ingestion_))
    http->setDropsSendsWhileDisabled(disabled);
  bool requested = false;
  {
    std::lock_guard lock(mutex_);
    ingestionDisabled_ = disabled;
    requested = ingestionRequested_;
  }
  switchIngestion(requested, false);
}

void TLMChannelGroupDefault::switchIngestion(bool enabled, bool deleteDataOnDisabled) {
  bool disabled = false;
  {
    std::lock_guard lock(mutex_);
    ingestionRequested_ = enabled;
    disabled = ingestionDisabled_;
  }
  if (ingestion_) ingestion_->setEnabled(enabled && !disabled, deleteDataOnDisabled);
}

void TLMChannelGroupDefault::setEnabled(bool enabled, bool deleteDataOnDisabled) {
  switchIngestion(enabled, deleteDataOnDisabled);
  for (const auto& unit : channels())
    unit->setEnabled(enabled, deleteDataOnDisabled);
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didSetEnabled(*this, enabled, deleteDataOnDisabled);
  });
}

void TLMChannelGroupDefault::pauseWithIdentifyingObject(const TLMIdentifyingObject& object) {
  switchIngestion(false, false);
  for (const auto& unit : channels())
    unit->pauseWithIdentifyingObject(object);
}

void TLMChannelGroupDefault::resumeWithIdentifyingObject(const TLMIdentifyingObject& object) {
  switchIngestion(true, false);
  for (const auto& unit : channels())
    unit->resumeWithIdentifyingObject(object);
}

// Forwarding of unit events.

void TLMChannelGroupDefault::prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) { delegate.prepareLog(channel, log); });
}

void TLMChannelGroupDefault::didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                           const std::string& internalId, std::uint64_t flags) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didPrepareLog(channel, log, internalId, flags);
  });
}

void TLMChannelGroupDefault::didCompleteEnqueueingLog(TLMChannelProtocol& channel,
                                                      const TLMLogPtr& log,
                                                      const std::string& internalId) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didCompleteEnqueueingLog(channel, log, internalId);
  });
}

void TLMChannelGroupDefault::willSendLog(TLMChannelProtocol& channel, const TLMLogPtr& log) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) { delegate.willSendLog(channel, log); });
}

void TLMChannelGroupDefault::didSucceedSendingLog(TLMChannelProtocol& channel,
                                                  const TLMLogPtr& log) {
  delegates_.forEach(
      [&](TLMChannelDelegate& delegate) { delegate.didSucceedSendingLog(channel, log); });
}

void TLMChannelGroupDefault::didFailSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                               const std::optional<base::Error>& error) {
  delegates_.forEach(
      [&](TLMChannelDelegate& delegate) { delegate.didFailSendingLog(channel, log, error); });
}

void TLMChannelGroupDefault::didSetEnabled(TLMChannelProtocol& channel, bool enabled,
                                           bool deleteDataOnDisabled) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didSetEnabled(channel, enabled, deleteDataOnDisabled);
  });
}

void TLMChannelGroupDefault::didPauseWithIdentifyingObject(TLMChannelProtocol& channel,
                                                           const TLMIdentifyingObject& object) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didPauseWithIdentifyingObject(channel, object);
  });
}

void TLMChannelGroupDefault::didResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                                            const TLMIdentifyingObject& object) {
  delegates_.forEach([&](TLMChannelDelegate& delegate) {
    delegate.didResumeWithIdentifyingObject(channel, object);
  });
}

bool TLMChannelGroupDefault::shouldFilterLog(TLMChannelUnitProtocol& unit, const TLMLogPtr& log) {
  for (const auto& delegate : delegates_.snapshot()) {
    if (delegate->shouldFilterLog(unit, log)) return true;
  }
  return false;
}

}  // namespace tlm

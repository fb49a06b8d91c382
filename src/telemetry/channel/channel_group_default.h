#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/channel/channel_environment.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/channel/channel_unit_default.h"
#include "telemetry/http/http_client.h"
#include "telemetry/storage/storage.h"
#include "telemetry/storage/target_token_encrypter.h"

namespace tlm {

// The pipeline: one serial queue on which every unit and the log store work,
// one log store, the default ingestion (the SDK's own log endpoint) and the
// units, one per group id, in creation order. It is the delegate of each of
// its units and passes every unit event on to its own delegates; the
// group-wide switches go to the ingestion and to every unit.
//
// Unit creation, the unit list and delegate registration are guarded by the
// group's lock and run on the caller's thread; no callback runs under it.
// Own groups through std::shared_ptr (units hold the group weakly).
class TLMChannelGroupDefault final : public TLMChannelGroupProtocol,
                                     public TLMChannelDelegate,
                                     public std::enable_shared_from_this<TLMChannelGroupDefault> {
 public:
  static constexpr const char* kQueueLabel = "com.zodoradud.daraveved.ChannelGroupQueue";

  TLMChannelGroupDefault(std::shared_ptr<TLMIngestionProtocol> ingestion,
                         std::shared_ptr<TLMStorage> storage,
                         std::shared_ptr<dispatch::Queue> logsDispatchQueue,
                         TLMChannelEnvironment environment);

  // The SDK's group: the own-endpoint ingestion over `httpClient` at `logUrl`
  // with the install id, a serial queue labelled kQueueLabel, and the log
  // store "Logs.sqlite" in `dataDirectory` (opened, created or migrated now).
  static std::shared_ptr<TLMChannelGroupDefault> make(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
      const std::string& logUrl, const std::filesystem::path& dataDirectory,
      std::shared_ptr<TLMTargetTokenEncrypter> targetTokenEncrypter,
      TLMChannelEnvironment environment = TLMChannelEnvironment::standard());

  // TLMChannelGroupProtocol.
  std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
      const TLMChannelUnitConfiguration& configuration) override;
  std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
      const TLMChannelUnitConfiguration& configuration,
      std::shared_ptr<TLMIngestionProtocol> ingestion) override;
  void setMaxStorageSize(std::int64_t sizeInBytes,
                         std::function<void(bool)> completionHandler) override;
  std::shared_ptr<TLMChannelUnitProtocol> channelUnitForGroupId(
      const std::string& groupId) const override;
  // The ingestion's base URL (empty for an ingestion that has none).
  std::string logUrl() const override;
  void setLogUrl(const std::string& logUrl) override;
  // The own endpoint's application secret (empty for another ingestion).
  std::string appSecret() const override;
  void setAppSecret(const std::string& appSecret) override;
  void setIngestionDisabled(bool disabled) override;

  // TLMChannelProtocol: delegates are held weakly; registration is
  // synchronous. The switches reach the ingestion first, then every unit.
  void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
  void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
  void setEnabled(bool enabled, bool deleteDataOnDisabled) override;
  void pauseWithIdentifyingObject(const TLMIdentifyingObject& object) override;
  void resumeWithIdentifyingObject(const TLMIdentifyingObject& object) override;

  // TLMChannelDelegate: each unit event goes to the group's delegates with
  // the reporting unit as channel.
  void prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                     const std::string& internalId, std::uint64_t flags) override;
  void didCompleteEnqueueingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                const std::string& internalId) override;
  void willSendLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didSucceedSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didFailSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                         const std::optional<base::Error>& error) override;
  void didSetEnabled(TLMChannelProtocol& channel, bool enabled, bool deleteDataOnDisabled) override;
  void didPauseWithIdentifyingObject(TLMChannelProtocol& channel,
                                     const TLMIdentifyingObject& object) override;
  void didResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                      const TLMIdentifyingObject& object) override;
  bool shouldFilterLog(TLMChannelUnitProtocol& unit, const TLMLogPtr& log) override;

  const std::shared_ptr<TLMIngestionProtocol>& ingestion() const { return ingestion_; }
  const std::shared_ptr<TLMStorage>& storage() const { return storage_; }
  const std::shared_ptr<dispatch::Queue>& logsDispatchQueue() const { return queue_; }
  // The units in creation order.
  std::vector<std::shared_ptr<TLMChannelUnitDefault>> channels() const;

 private:
  const std::shared_ptr<TLMIngestionProtocol> ingestion_;
  const std::shared_ptr<TLMStorage> storage_;
  const std::shared_ptr<dispatch::Queue> queue_;
  const TLMChannelEnvironment environment_;
  TLMChannelDelegateSet delegates_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<TLMChannelUnitDefault>> channels_;
  // Guarded by `mutex_`: the state the switches asked of the ingestion, and
  // whether it is kept disabled whatever they ask.
  bool ingestionRequested_ = true;
  bool ingestionDisabled_ = false;

  // Asks the ingestion to be `enabled` (it stays disabled while kept so).
  void switchIngestion(bool enabled, bool deleteDataOnDisabled);
};

}  // namespace tlm

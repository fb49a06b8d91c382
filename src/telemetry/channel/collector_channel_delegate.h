#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/channel/channel_protocols.h"
#include "telemetry/http/http_client.h"
#include "telemetry/schema/common_schema_log.h"

namespace tlm {

// Routes logs to the common-schema endpoint. For every ordinary unit of the
// group it adds a mirror unit "<group id>/one" that sends through the
// common-schema ingestion; logs with transmission target tokens travel there
// as common-schema logs (one per token) instead of through their own unit.
// It stamps each common-schema log with an epoch and a sequence number per
// iKey, checks event names, and keeps each mirror enabled, paused and resumed
// in step with its unit.
//
// Thread-safe: epochs, sequences and the mirror table are guarded by one lock,
// never held while a unit is called.
class TLMCollectorChannelDelegate final : public TLMChannelDelegate {
 public:
  static constexpr const char* kDefaultBaseUrl = "https://collector.daraveved.zodoradud.com";
  static constexpr std::string_view kCollectorGroupIdSuffix = "/one";
  static constexpr const char* kLogNamePattern =
      "^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$";

  // The common-schema ingestion over `httpClient` at `baseUrl` (the default
  // endpoint when none).
  TLMCollectorChannelDelegate(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                              std::string installId, std::optional<std::string> baseUrl);
  // Mirrors send through `collectorIngestion`.
  TLMCollectorChannelDelegate(std::shared_ptr<TLMIngestionProtocol> collectorIngestion,
                              std::string installId);

  // Moves the common-schema endpoint.
  void setLogUrl(const std::string& logUrl);
  // Disables the common-schema ingestion (every send dropped, the mirrors
  // keep their logs stored) or enables it again.
  void setIngestionDisabled(bool disabled);

  // Ends with "/one".
  static bool isCollectorGroup(std::string_view groupId);
  // Has a target token and is not already a common-schema log.
  static bool shouldSendLogToCollector(const TLMAbstractLog& log);
  static bool validateLog(const TLMCommonSchemaLog& log);
  // 4 to 100 characters: a letter or digit, then letters, digits, underscores
  // and single dots, a dot never last. Failures are logged at ERROR.
  static bool validateLogName(const std::optional<std::string>& name);

  const std::shared_ptr<TLMIngestionProtocol>& collectorIngestion() const {
    return collectorIngestion_;
  }
  // The mirror of an ordinary group; null when there is none.
  std::shared_ptr<TLMChannelUnitProtocol> collectorChannelForGroupId(
      const std::string& groupId) const;

  void didAddChannelUnit(TLMChannelGroupProtocol& group,
                         const std::shared_ptr<TLMChannelUnitProtocol>& unit) override;
  void prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                     const std::string& internalId, std::uint64_t flags) override;
  bool shouldFilterLog(TLMChannelUnitProtocol& unit, const TLMLogPtr& log) override;
  void didSetEnabled(TLMChannelProtocol& channel, bool enabled, bool deleteDataOnDisabled) override;
  void didPauseWithIdentifyingObject(TLMChannelProtocol& channel,
                                     const TLMIdentifyingObject& object) override;
  void didResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                      const TLMIdentifyingObject& object) override;

 private:
  // The mirror of the reporting channel when it is an ordinary unit.
  std::shared_ptr<TLMChannelUnitProtocol> mirrorOf(TLMChannelProtocol& channel) const;

  const std::shared_ptr<TLMIngestionProtocol> collectorIngestion_;
  const std::string installId_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<TLMChannelUnitProtocol>> collectorChannels_;
  std::map<std::string, TLMCSEpochAndSeq> epochsAndSeqsByIKey_;
};

}  // namespace tlm

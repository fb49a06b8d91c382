#include "telemetry/channel/collector_channel_delegate.h"

#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/schema/log_conversion.h"

namespace tlm {
namespace {

constexpr const char* kValidationFailed = "Log validation failed.";

bool isAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The name pattern checked by hand: a letter or digit, then 3 to 99 of
// letters, digits, underscores and dots, where a dot is followed by something
// other than a dot.
bool matchesNamePattern(std::string_view name) {
  if (name.size() < 4 || name.size() > 100 || !isAsciiAlnum(name[0])) return false;
  for (std::size_t i = 1; i < name.size(); ++i) {
    const char c = name[i];
    if (isAsciiAlnum(c) || c == '_') continue;
    if (c == '.' && i + 1 < name.size() && name[i + 1] != '.') continue;
    return false;
  }
  return true;
}

}  // namespace

TLMCollectorChannelDelegate::TLMCollectorChannelDelegate(
    std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string installId,
    std::optional<std::string> baseUrl)
    : TLMCollectorChannelDelegate(
          TLMCollectorIngestion::make(std::move(httpClient), baseUrl.value_or(kDefaultBaseUrl)),
          std::move(installId)) {}

TLMCollectorChannelDelegate::TLMCollectorChannelDelegate(
    std::shared_ptr<TLMIngestionProtocol> collectorIngestion, std::string installId)
    : collectorIngestion_(std::move(collectorIngestion)), installId_(std::move(installId)) {}

void TLMCollectorChannelDelegate::setLogUrl(const std::string& logUrl) {
  if (const auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(collectorIngestion_))
    http->setBaseURL(logUrl);
}

void TLMCollectorChannelDelegate::setIngestionDisabled(bool disabled) {
  if (const auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(collectorIngestion_))
    http->setDropsSendsWhileDisabled(disabled);
  if (collectorIngestion_) collectorIngestion_->setEnabled(!disabled, false);
}

bool TLMCollectorChannelDelegate::isCollectorGroup(std::string_view groupId) {
  return groupId.ends_with(kCollectorGroupIdSuffix);
}

bool TLMCollectorChannelDelegate::shouldSendLogToCollector(const TLMAbstractLog& log) {
  return !log.transmissionTargetTokens().empty() &&
         dynamic_cast<const TLMCommonSchemaLog*>(&log) == nullptr;
}

bool TLMCollectorChannelDelegate::validateLog(const TLMCommonSchemaLog& log) {
  return validateLogName(log.name);
}

bool TLMCollectorChannelDelegate::validateLogName(const std::optional<std::string>& name) {
  if (!name || name->empty()) {
    TLM_LOG_ERROR(kTLMLogTag, kValidationFailed, " Name must not be nil or empty.");
    return false;
  }
  if (!matchesNamePattern(*name)) {
    TLM_LOG_ERROR(kTLMLogTag, kValidationFailed, " Name must match '", kLogNamePattern,
                  "' but was '", *name, "'");
    return false;
  }
  return true;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMCollectorChannelDelegate::collectorChannelForGroupId(
    const std::string& groupId) const {
  std::lock_guard lock(mutex_);
  const auto found = collectorChannels_.find(groupId);
  return found == collectorChannels_.end() ? nullptr : found->second;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMCollectorChannelDelegate::mirrorOf(
    TLMChannelProtocol& channel) const {
  const auto* unit = dynamic_cast<TLMChannelUnitProtocol*>(&channel);
  if (!unit || isCollectorGroup(unit->configuration().groupId())) return nullptr;
  return collectorChannelForGroupId(unit->configuration().groupId());
}

void TLMCollectorChannelDelegate::didAddChannelUnit(
    TLMChannelGroupProtocol& group, const std::shared_ptr<TLMChannelUnitProtocol>& unit) {
  const auto& groupId = unit->configuration().groupId();
  if (isCollectorGroup(groupId)) return;
  const TLMChannelUnitConfiguration configuration(groupId + std::string(kCollectorGroupIdSuffix),
                                                  unit->configuration().flushInterval());
  // Adding the mirror reports it here again; the suffix test ignores it.
  auto mirror = group.addChannelUnitWithConfiguration(configuration, collectorIngestion_);
  std::lock_guard lock(mutex_);
  collectorChannels_[groupId] = std::move(mirror);
}

void TLMCollectorChannelDelegate::prepareLog(TLMChannelProtocol&, const TLMLogPtr& log) {
  const auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log);
  if (!csLog) return;
  // A log without an iKey is sequenced under the empty key.
  const std::string iKey = csLog->iKey.value_or(std::string());
  std::lock_guard lock(mutex_);
  auto entry = epochsAndSeqsByIKey_.find(iKey);
  if (entry == epochsAndSeqsByIKey_.end())
    entry = epochsAndSeqsByIKey_.emplace(iKey, TLMCSEpochAndSeq(TLMMakeUUIDString())).first;
  const auto& sdkExt = csLog->ext ? csLog->ext->sdkExt : nullptr;
  if (sdkExt) sdkExt->epoch = entry->second.epoch;
  ++entry->second.seq;
  if (sdkExt) {
    sdkExt->seq = static_cast<std::int64_t>(entry->second.seq);
    sdkExt->installId = installId_;
  }
}

void TLMCollectorChannelDelegate::didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                                const std::string&, std::uint64_t flags) {
  const auto mirror = mirrorOf(channel);
  if (std::dynamic_pointer_cast<TLMCommonSchemaLog>(log)) {
    // Moved to the mirror; the unit itself filters it out.
    if (mirror) mirror->enqueueItem(log, flags);
    return;
  }
  if (!mirror || !shouldSendLogToCollector(*log)) return;
  for (const auto& csLog : toCommonSchemaLogsWithFlags(*log, flags))
    mirror->enqueueItem(csLog, flags);
}

bool TLMCollectorChannelDelegate::shouldFilterLog(TLMChannelUnitProtocol& unit,
                                                  const TLMLogPtr& log) {
  if (const auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log)) {
    if (isCollectorGroup(unit.configuration().groupId())) return !validateLog(*csLog);
    return true;
  }
  // It travels as common-schema logs instead.
  return !log->transmissionTargetTokens().empty();
}

void TLMCollectorChannelDelegate::didSetEnabled(TLMChannelProtocol& channel, bool enabled,
                                                bool deleteDataOnDisabled) {
  if (dynamic_cast<TLMChannelUnitProtocol*>(&channel)) {
    if (const auto mirror = mirrorOf(channel)) mirror->setEnabled(enabled, deleteDataOnDisabled);
    return;
  }
  if (dynamic_cast<TLMChannelGroupProtocol*>(&channel) && !enabled && deleteDataOnDisabled) {
    std::lock_guard lock(mutex_);
    epochsAndSeqsByIKey_.clear();
  }
}

void TLMCollectorChannelDelegate::didPauseWithIdentifyingObject(
    TLMChannelProtocol& channel, const TLMIdentifyingObject& object) {
  if (const auto mirror = mirrorOf(channel)) mirror->pauseWithIdentifyingObject(object);
}

void TLMCollectorChannelDelegate::didResumeWithIdentifyingObject(
    TLMChannelProtocol& channel, const TLMIdentifyingObject& object) {
  if (const auto mirror = mirrorOf(channel)) mirror->resumeWithIdentifyingObject(object);
}

}  // namespace tlm

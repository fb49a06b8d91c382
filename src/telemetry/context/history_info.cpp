#include "telemetry/context/history_info.h"

#include "telemetry/core/logger.h"

namespace tlm {
namespace {

constexpr std::string_view kTimestampKey = "timestampKey";
constexpr std::string_view kSessionIdKey = "sessionIdKey";
constexpr std::string_view kUserIdKey = "userIdKey";
constexpr std::string_view kDeviceKey = "deviceKey";

[[maybe_unused]] const bool kRegistered = [] {
  registerArchiveClass<TLMHistoryInfo>("TLMHistoryInfo");
  registerArchiveClass<TLMSessionHistoryInfo>("TLMSessionHistoryInfo");
  registerArchiveClass<TLMUserIdHistoryInfo>("TLMUserIdHistoryInfo");
  registerArchiveClass<TLMDeviceHistoryInfo>("TLMDeviceHistoryInfo");
  return true;
}();

}  // namespace

void TLMHistoryInfo::encodeWithCoder(TLMKeyedArchiver& coder) const {
  coder.encodeDate(kTimestampKey, timestamp);
}

void TLMHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& coder) {
  timestamp = coder.decodeDate(kTimestampKey);
}

void TLMSessionHistoryInfo::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMHistoryInfo::encodeWithCoder(coder);
  coder.encodeString(kSessionIdKey, sessionId);
}

void TLMSessionHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMHistoryInfo::initWithCoder(coder);
  sessionId = coder.decodeString(kSessionIdKey);
}

void TLMUserIdHistoryInfo::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMHistoryInfo::encodeWithCoder(coder);
  coder.encodeString(kUserIdKey, userId);
}

void TLMUserIdHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMHistoryInfo::initWithCoder(coder);
  userId = coder.decodeString(kUserIdKey);
}

void TLMDeviceHistoryInfo::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMHistoryInfo::encodeWithCoder(coder);
  coder.encodeObject(kDeviceKey, device.get());
}

void TLMDeviceHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMHistoryInfo::initWithCoder(coder);
  device = coder.decodeObjectOf<TLMDevice>(kDeviceKey);
}

namespace context_detail {

std::optional<std::vector<std::shared_ptr<TLMArchivable>>> loadArchivedArray(
    const TLMDarAvevedUserDefaults& settings, std::string_view key) {
  const auto value = settings.objectForKey(key);
  if (!value) return std::nullopt;
  const auto* bytes = value->getIf<base::Bytes>();
  if (!bytes) {
    // Log text kept word for word as specified, class names included.
    TLM_LOG_ERROR(kTLMLogTag, "Unarchiving NSData failed with error: the setting ", key,
                  " holds no archive");
    return std::nullopt;
  }
  return unarchiveKeyedArray(*bytes);
}

void storeHistory(TLMDarAvevedUserDefaults& settings, std::string_view key,
                  const std::vector<std::shared_ptr<const TLMArchivable>>& history) {
  if (auto data = archiveKeyedArray(history)) settings.setObject(std::move(*data), key);
}

}  // namespace context_detail

}  // namespace tlm

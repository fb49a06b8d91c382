#include "telemetry/schema/log_conversion.h"

#include <algorithm>
#include <cstdio>

#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

constexpr const char* kSchemaVersion = "3.0";
constexpr std::string_view kAppIdPrefix = "I";
constexpr std::string_view kAppIdSeparator = ":";
// The program ships its user interface in one localization, English, so that
// is its bundle's preferred localization.
constexpr const char* kAppLocalization = "en";

// A user id without a prefix is a custom id: "c:" goes in front.
std::optional<std::string> prefixedUserId(const std::optional<std::string>& userId) {
  if (!userId || userId->find(':') != std::string::npos) return userId;
  return "c:" + *userId;
}

std::optional<std::string> dashedLocale(std::optional<std::string> locale) {
  if (locale) std::replace(locale->begin(), locale->end(), '_', '-');
  return locale;
}

bool nonEmpty(const std::optional<std::string>& text) {
  return text && !text->empty();
}

}  // namespace

std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(const TLMAbstractLog& log,
                                                                    const std::string& token,
                                                                    std::uint64_t flags) {
  const auto device = log.device;
  if (!device) return nullptr;

  auto csLog = std::make_shared<TLMCommonSchemaLog>();
  csLog->setTransmissionTargetTokens({token});
  csLog->ver = kSchemaVersion;
  csLog->timestamp = log.timestamp;
  csLog->iKey = TLMUtility_StringFormatting::iKeyFromTargetToken(token);
  csLog->flags = static_cast<std::int64_t>(flags);

  auto ext = std::make_shared<TLMCSExtensions>();

  ext->protocolExt = std::make_shared<TLMProtocolExtension>();
  ext->protocolExt->devMake = device->oemName;
  ext->protocolExt->devModel = device->model;

  ext->userExt = std::make_shared<TLMUserExtension>();
  ext->userExt->localId = prefixedUserId(log.userId);
  ext->userExt->locale = dashedLocale(device->locale);

  ext->osExt = std::make_shared<TLMOSExtension>();
  ext->osExt->name = device->osName;
  ext->osExt->ver = combineOsVersion(device->osVersion, device->osBuild);

  ext->appExt = std::make_shared<TLMAppExtension>();
  // Without a bundle identifier there is no application id to send (rather
  // than an id naming a missing value).
  if (device->appNamespace) {
    ext->appExt->appId =
        std::string(kAppIdPrefix) + std::string(kAppIdSeparator) + *device->appNamespace;
  }
  ext->appExt->ver = device->appVersion;
  ext->appExt->locale = kAppLocalization;

  ext->netExt = std::make_shared<TLMNetExtension>();
  ext->netExt->provider = device->carrierName;

  ext->sdkExt = std::make_shared<TLMSDKExtension>();
  ext->sdkExt->libVer = combineSDKLibVer(device->sdkName, device->sdkVersion);

  ext->locExt = std::make_shared<TLMLocExtension>();
  // An unknown offset is left out rather than sent as UTC.
  if (device->timeZoneOffset)
    ext->locExt->tz = convertTimeZoneOffsetToISO8601(*device->timeZoneOffset);

  ext->deviceExt = std::make_shared<TLMDeviceExtension>();

  csLog->ext = std::move(ext);
  return csLog;
}

std::vector<std::shared_ptr<TLMCommonSchemaLog>> toCommonSchemaLogsWithFlags(TLMAbstractLog& log,
                                                                             std::uint64_t flags) {
  std::vector<std::shared_ptr<TLMCommonSchemaLog>> out;
  auto* conversion = dynamic_cast<TLMLogConversion*>(&log);
  for (const auto& token : log.transmissionTargetTokens()) {
    auto csLog = conversion ? conversion->toCommonSchemaLogForTargetToken(token, flags)
                            : toCommonSchemaLogForTargetToken(log, token, flags);
    if (csLog) out.push_back(std::move(csLog));
  }
  return out;
}

std::optional<std::string> combineOsVersion(const std::optional<std::string>& version,
                                            const std::optional<std::string>& build) {
  std::string text;
  if (nonEmpty(version)) text.append("Version ").append(*version);
  if (nonEmpty(build)) {
    if (!text.empty()) text.push_back(' ');
    text.append("(Build ").append(*build).push_back(')');
  }
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> combineSDKLibVer(const std::optional<std::string>& name,
                                            const std::optional<std::string>& version) {
  if (!nonEmpty(name) || !nonEmpty(version)) return std::nullopt;
  return *name + "-" + *version;
}

std::string convertTimeZoneOffsetToISO8601(std::int64_t minutes) {
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  const std::uint64_t magnitude =
      minutes < 0 ? 0 - static_cast<std::uint64_t>(minutes) : static_cast<std::uint64_t>(minutes);
  char text[32];
  std::snprintf(text, sizeof text, "%c%02llu:%02llu", minutes < 0 ? '-' : '+',
                static_cast<unsigned long long>(magnitude / 60),
                static_cast<unsigned long long>(magnitude % 60));
  return text;
}

}  // namespace tlm

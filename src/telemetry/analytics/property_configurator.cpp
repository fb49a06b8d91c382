#include "telemetry/analytics/property_configurator.h"

#include <cctype>
#include <fstream>
#include <utility>

#include "telemetry/analytics/analytics_service.h"
#include "telemetry/analytics/transmission_target.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/schema/common_schema_log.h"

namespace tlm {
namespace {

// The first value `field` has, walking from `target`'s configurator up
// through its parents'.
template <class Field>
std::optional<std::string> inherited(std::shared_ptr<TLMAnalyticsTransmissionTarget> target,
                                     Field field) {
  for (; target; target = target->parentTarget()) {
    if (auto value = ((*target->propertyConfigurator()).*field)()) return value;
  }
  return std::nullopt;
}

// 32 hexadecimal digits as an upper-case UUID; none for anything else.
std::optional<std::string> uuidFromMachineId(const std::string& text) {
  if (text.size() != 32) return std::nullopt;
  std::string uuid;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!std::isxdigit(c)) return std::nullopt;
    if (i == 8 || i == 12 || i == 16 || i == 20) uuid.push_back('-');
    uuid.push_back(static_cast<char>(std::toupper(c)));
  }
  return uuid;
}

}  // namespace

TLMPropertyConfigurator::TLMPropertyConfigurator(
    std::weak_ptr<TLMAnalyticsTransmissionTarget> owner)
    : owner_(std::move(owner)) {}

void TLMPropertyConfigurator::setAppVersion(std::optional<std::string> appVersion) {
  std::lock_guard lock(mutex_);
  appVersion_ = std::move(appVersion);
}

void TLMPropertyConfigurator::setAppName(std::optional<std::string> appName) {
  std::lock_guard lock(mutex_);
  appName_ = std::move(appName);
}

void TLMPropertyConfigurator::setAppLocale(std::optional<std::string> appLocale) {
  std::lock_guard lock(mutex_);
  appLocale_ = std::move(appLocale);
}

void TLMPropertyConfigurator::setUserId(const std::optional<std::string>& userId) {
  if (!TLMUserIdContext::isUserIdValidForCollector(userId)) return;
  std::lock_guard lock(mutex_);
  userId_ = TLMUserIdContext::prefixedUserIdFromUserId(userId);
}

std::optional<std::string> TLMPropertyConfigurator::appVersion() const {
  std::lock_guard lock(mutex_);
  return appVersion_;
}

std::optional<std::string> TLMPropertyConfigurator::appName() const {
  std::lock_guard lock(mutex_);
  return appName_;
}

std::optional<std::string> TLMPropertyConfigurator::appLocale() const {
  std::lock_guard lock(mutex_);
  return appLocale_;
}

std::optional<std::string> TLMPropertyConfigurator::userId() const {
  std::lock_guard lock(mutex_);
  return userId_;
}

std::optional<std::string> TLMPropertyConfigurator::deviceId() const {
  std::lock_guard lock(mutex_);
  return deviceId_;
}

template <class Setter>
void TLMPropertyConfigurator::editEventProperties(Setter setter) {
  std::lock_guard lock(TLMAnalyticsService::sharedInstance()->monitor());
  setter(eventProperties_);
}

void TLMPropertyConfigurator::setEventPropertyString(std::string_view key, std::string_view value) {
  editEventProperties([&](TLMEventProperties& properties) { properties.setString(key, value); });
}

void TLMPropertyConfigurator::setEventPropertyDouble(std::string_view key, double value) {
  editEventProperties([&](TLMEventProperties& properties) { properties.setDouble(key, value); });
}

void TLMPropertyConfigurator::setEventPropertyInt64(std::string_view key, std::int64_t value) {
  editEventProperties([&](TLMEventProperties& properties) { properties.setInt64(key, value); });
}

void TLMPropertyConfigurator::setEventPropertyBool(std::string_view key, bool value) {
  editEventProperties([&](TLMEventProperties& properties) { properties.setBool(key, value); });
}

void TLMPropertyConfigurator::setEventPropertyDate(std::string_view key, TLMDate value) {
  editEventProperties([&](TLMEventProperties& properties) { properties.setDate(key, value); });
}

void TLMPropertyConfigurator::removeEventPropertyForKey(std::string_view key) {
  editEventProperties([&](TLMEventProperties& properties) { properties.removeProperty(key); });
}

void TLMPropertyConfigurator::mergeTypedPropertiesWith(TLMEventProperties& properties) const {
  std::lock_guard lock(TLMAnalyticsService::sharedInstance()->monitor());
  const auto present = properties.properties();
  for (const auto& property : eventProperties_.properties()) {
    bool found = false;
    for (const auto& existing : present)
      found = found || existing.name == property.name;
    if (!found) properties.setProperty(property);
  }
}

void TLMPropertyConfigurator::collectDeviceId() {
  auto identifier = getDeviceIdentifier();
  std::lock_guard lock(mutex_);
  deviceId_ = std::move(identifier);
}

std::string TLMPropertyConfigurator::getDeviceIdentifier(
    const std::filesystem::path& machineIdFile) {
  std::ifstream file(machineIdFile);
  std::string line;
  std::optional<std::string> uuid;
  if (file && std::getline(file, line)) uuid = uuidFromMachineId(line);
  return "u:" + uuid.value_or("(null)");
}

void TLMPropertyConfigurator::prepareLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& log) {
  const auto owner = owner_.lock();
  if (!owner) return;
  const auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log);
  if (!csLog || !owner->isEnabled() || csLog->tag != owner) return;
  // The conversion gives every log all its extensions.
  const auto& ext = csLog->ext;
  if (!ext || !ext->appExt || !ext->userExt || !ext->deviceExt) return;
  if (auto value = inherited(owner, &TLMPropertyConfigurator::appVersion))
    ext->appExt->ver = std::move(value);
  if (auto value = inherited(owner, &TLMPropertyConfigurator::appName))
    ext->appExt->name = std::move(value);
  if (auto value = inherited(owner, &TLMPropertyConfigurator::appLocale))
    ext->appExt->locale = std::move(value);
  if (auto value = inherited(owner, &TLMPropertyConfigurator::userId))
    ext->userExt->localId = std::move(value);
  ext->deviceExt->localId = deviceId();
}

}  // namespace tlm

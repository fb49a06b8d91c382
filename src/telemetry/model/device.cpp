#include "telemetry/model/device.h"

#include <array>
#include <variant>

#include "telemetry/model/model_util.h"

namespace tlm {
namespace {

using model_detail::putIfSet;

using WrapperField = std::optional<std::string> TLMWrapperSdk::*;

constexpr std::array<std::pair<const char*, WrapperField>, 6> kWrapperFields = {{
    {"wrapperSdkVersion", &TLMWrapperSdk::wrapperSdkVersion},
    {"wrapperSdkName", &TLMWrapperSdk::wrapperSdkName},
    {"wrapperRuntimeVersion", &TLMWrapperSdk::wrapperRuntimeVersion},
    {"liveUpdateReleaseLabel", &TLMWrapperSdk::liveUpdateReleaseLabel},
    {"liveUpdateDeploymentKey", &TLMWrapperSdk::liveUpdateDeploymentKey},
    {"liveUpdatePackageHash", &TLMWrapperSdk::liveUpdatePackageHash},
}};

using TextMember = std::optional<std::string> TLMDevice::*;
using NumberMember = std::optional<std::int64_t> TLMDevice::*;

struct DeviceField {
  const char* key;
  std::variant<TextMember, NumberMember> member;
  bool required;
};

// Declaration order: the order of JSON members, checks and comparisons.
const std::array<DeviceField, 16> kDeviceFields = {{
    {"sdkName", &TLMDevice::sdkName, true},
    {"sdkVersion", &TLMDevice::sdkVersion, true},
    {"model", &TLMDevice::model, false},
    {"oemName", &TLMDevice::oemName, false},
    {"osName", &TLMDevice::osName, true},
    {"osVersion", &TLMDevice::osVersion, true},
    {"osBuild", &TLMDevice::osBuild, false},
    {"osApiLevel", &TLMDevice::osApiLevel, false},
    {"locale", &TLMDevice::locale, true},
    {"timeZoneOffset", &TLMDevice::timeZoneOffset, true},
    {"screenSize", &TLMDevice::screenSize, false},
    {"appVersion", &TLMDevice::appVersion, true},
    {"carrierName", &TLMDevice::carrierName, false},
    {"carrierCountry", &TLMDevice::carrierCountry, false},
    {"appBuild", &TLMDevice::appBuild, true},
    {"appNamespace", &TLMDevice::appNamespace, false},
}};

bool isSet(const TLMDevice& device, const DeviceField& field) {
  return std::visit([&](auto member) { return (device.*member).has_value(); }, field.member);
}

[[maybe_unused]] const bool kDeviceRegistered = [] {
  registerArchiveClass<TLMWrapperSdk>("TLMWrapperSdk");
  registerArchiveClass<TLMDevice>("TLMDevice");
  return true;
}();

}  // namespace

TLMWrapperSdk::TLMWrapperSdk(std::optional<std::string> sdkVersion,
                             std::optional<std::string> sdkName,
                             std::optional<std::string> runtimeVersion,
                             std::optional<std::string> releaseLabel,
                             std::optional<std::string> deploymentKey,
                             std::optional<std::string> packageHash)
    : wrapperSdkVersion(std::move(sdkVersion)),
      wrapperSdkName(std::move(sdkName)),
      wrapperRuntimeVersion(std::move(runtimeVersion)),
      liveUpdateReleaseLabel(std::move(releaseLabel)),
      liveUpdateDeploymentKey(std::move(deploymentKey)),
      liveUpdatePackageHash(std::move(packageHash)) {}

nlohmann::ordered_json TLMWrapperSdk::serializeToDictionary() const {
  nlohmann::ordered_json dict = nlohmann::ordered_json::object();
  for (const auto& [key, member] : kWrapperFields)
    putIfSet(dict, key, this->*member);
  return dict;
}

bool TLMWrapperSdk::isEqual(const TLMWrapperSdk& other) const {
  for (const auto& field : kWrapperFields) {
    if (this->*field.second != other.*field.second) return false;
  }
  return true;
}

void TLMWrapperSdk::encodeWithCoder(TLMKeyedArchiver& coder) const {
  for (const auto& [key, member] : kWrapperFields)
    coder.encodeString(key, this->*member);
}

void TLMWrapperSdk::initWithCoder(const TLMKeyedUnarchiver& coder) {
  for (const auto& [key, member] : kWrapperFields)
    this->*member = coder.decodeString(key);
}

nlohmann::ordered_json TLMDevice::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMWrapperSdk::serializeToDictionary();
  for (const auto& field : kDeviceFields) {
    std::visit([&](auto member) { putIfSet(dict, field.key, this->*member); }, field.member);
  }
  return dict;
}

bool TLMDevice::isValid() const {
  if (!TLMWrapperSdk::isValid()) return false;
  for (const auto& field : kDeviceFields) {
    if (field.required && !isSet(*this, field)) {
      model_detail::logInvalidField(className(), field.key);
      return false;
    }
  }
  return true;
}

bool TLMDevice::isEqual(const TLMWrapperSdk& other) const {
  const auto* device = dynamic_cast<const TLMDevice*>(&other);
  if (!device || !TLMWrapperSdk::isEqual(other)) return false;
  for (const auto& field : kDeviceFields) {
    const bool same =
        std::visit([&](auto member) { return this->*member == device->*member; }, field.member);
    if (!same) return false;
  }
  return true;
}

void TLMDevice::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMWrapperSdk::encodeWithCoder(coder);
  for (const auto& field : kDeviceFields) {
    if (auto* text = std::get_if<TextMember>(&field.member)) {
      coder.encodeString(field.key, this->**text);
    } else {
      coder.encodeInt64(field.key, this->*std::get<NumberMember>(field.member));
    }
  }
}

void TLMDevice::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMWrapperSdk::initWithCoder(coder);
  for (const auto& field : kDeviceFields) {
    if (auto* text = std::get_if<TextMember>(&field.member)) {
      this->** text = coder.decodeString(field.key);
    } else {
      this->*std::get<NumberMember>(field.member) = coder.decodeInt64(field.key);
    }
  }
}

}  // namespace tlm

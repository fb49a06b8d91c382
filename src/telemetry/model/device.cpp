#include "telemetry/model/device.h"

#include "telemetry/model/field_table.h"

namespace tlm {
namespace {

using fields::field;
using fields::requiredTraits;
using fields::Text;

const fields::Table& wrapperSdkFields() {
  using R = TLMWrapperSdk;
  static const fields::Table table{
      field<R, &R::wrapperSdkVersion, Text>("wrapperSdkVersion"),
      field<R, &R::wrapperSdkName, Text>("wrapperSdkName"),
      field<R, &R::wrapperRuntimeVersion, Text>("wrapperRuntimeVersion"),
      field<R, &R::liveUpdateReleaseLabel, Text>("liveUpdateReleaseLabel"),
      field<R, &R::liveUpdateDeploymentKey, Text>("liveUpdateDeploymentKey"),
      field<R, &R::liveUpdatePackageHash, Text>("liveUpdatePackageHash"),
  };
  return table;
}

// Declaration order: the order of JSON members, checks and comparisons.
const fields::Table& deviceFields() {
  using R = TLMDevice;
  using fields::Int;
  static const fields::Table table{
      field<R, &R::sdkName, Text>("sdkName", requiredTraits),
      field<R, &R::sdkVersion, Text>("sdkVersion", requiredTraits),
      field<R, &R::model, Text>("model"),
      field<R, &R::oemName, Text>("oemName"),
      field<R, &R::osName, Text>("osName", requiredTraits),
      field<R, &R::osVersion, Text>("osVersion", requiredTraits),
      field<R, &R::osBuild, Text>("osBuild"),
      field<R, &R::osApiLevel, Int>("osApiLevel"),
      field<R, &R::locale, Text>("locale", requiredTraits),
      field<R, &R::timeZoneOffset, Int>("timeZoneOffset", requiredTraits),
      field<R, &R::screenSize, Text>("screenSize"),
      field<R, &R::appVersion, Text>("appVersion", requiredTraits),
      field<R, &R::carrierName, Text>("carrierName"),
      field<R, &R::carrierCountry, Text>("carrierCountry"),
      field<R, &R::appBuild, Text>("appBuild", requiredTraits),
      field<R, &R::appNamespace, Text>("appNamespace"),
  };
  return table;
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
  return fields::toJson(*this, wrapperSdkFields());
}

bool TLMWrapperSdk::isEqual(const TLMWrapperSdk& other) const {
  return fields::areEqual(*this, other, wrapperSdkFields());
}

void TLMWrapperSdk::encodeWithCoder(TLMKeyedArchiver& coder) const {
  fields::encode(*this, wrapperSdkFields(), coder);
}

void TLMWrapperSdk::initWithCoder(const TLMKeyedUnarchiver& coder) {
  fields::decode(*this, wrapperSdkFields(), coder);
}

nlohmann::ordered_json TLMDevice::serializeToDictionary() const {
  nlohmann::ordered_json dict = TLMWrapperSdk::serializeToDictionary();
  fields::addToJson(*this, deviceFields(), dict);
  return dict;
}

bool TLMDevice::isValid() const {
  return TLMWrapperSdk::isValid() && fields::areValid(*this, deviceFields(), className());
}

bool TLMDevice::isEqual(const TLMWrapperSdk& other) const {
  const auto* device = dynamic_cast<const TLMDevice*>(&other);
  return device && TLMWrapperSdk::isEqual(other) &&
         fields::areEqual(*this, *device, deviceFields());
}

void TLMDevice::encodeWithCoder(TLMKeyedArchiver& coder) const {
  TLMWrapperSdk::encodeWithCoder(coder);
  fields::encode(*this, deviceFields(), coder);
}

void TLMDevice::initWithCoder(const TLMKeyedUnarchiver& coder) {
  TLMWrapperSdk::initWithCoder(coder);
  fields::decode(*this, deviceFields(), coder);
}

}  // namespace tlm

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "telemetry/core/archive.h"

namespace tlm {

// Describes an SDK that wraps this one; its fields sit at the top level of
// the device object.
class TLMWrapperSdk : public TLMArchivable {
 public:
  TLMWrapperSdk() = default;
  TLMWrapperSdk(std::optional<std::string> sdkVersion, std::optional<std::string> sdkName,
                std::optional<std::string> runtimeVersion, std::optional<std::string> releaseLabel,
                std::optional<std::string> deploymentKey, std::optional<std::string> packageHash);

  std::optional<std::string> wrapperSdkVersion;
  std::optional<std::string> wrapperSdkName;
  std::optional<std::string> wrapperRuntimeVersion;
  std::optional<std::string> liveUpdateReleaseLabel;
  std::optional<std::string> liveUpdateDeploymentKey;
  std::optional<std::string> liveUpdatePackageHash;

  // Members only for set fields, in declaration order.
  virtual nlohmann::ordered_json serializeToDictionary() const;
  virtual bool isValid() const { return true; }
  virtual bool isEqual(const TLMWrapperSdk& other) const;

  std::string_view className() const override { return "TLMWrapperSdk"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

// The device, operating system, application and SDK that produced a log.
class TLMDevice : public TLMWrapperSdk {
 public:
  std::optional<std::string> sdkName;
  std::optional<std::string> sdkVersion;
  std::optional<std::string> model;
  std::optional<std::string> oemName;
  std::optional<std::string> osName;
  std::optional<std::string> osVersion;
  std::optional<std::string> osBuild;
  std::optional<std::int64_t> osApiLevel;
  std::optional<std::string> locale;
  // Minutes east of UTC.
  std::optional<std::int64_t> timeZoneOffset;
  std::optional<std::string> screenSize;
  std::optional<std::string> appVersion;
  std::optional<std::string> carrierName;
  std::optional<std::string> carrierCountry;
  std::optional<std::string> appBuild;
  std::optional<std::string> appNamespace;

  // The wrapper members, then the device members that are set.
  nlohmann::ordered_json serializeToDictionary() const override;
  // Every required field must be set (an empty string counts as set).
  bool isValid() const override;
  bool isEqual(const TLMWrapperSdk& other) const override;

  std::string_view className() const override { return "TLMDevice"; }
  void encodeWithCoder(TLMKeyedArchiver& coder) const override;
  void initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

inline bool operator==(const TLMWrapperSdk& a, const TLMWrapperSdk& b) {
  return a.isEqual(b);
}

}  // namespace tlm

#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/analytics/event_properties.h"
#include "telemetry/channel/channel_protocols.h"

namespace tlm {

class TLMAnalyticsTransmissionTarget;

// What a transmission target puts into its logs: application version, name
// and locale, user id and device id for their common-schema form, and
// default event properties for its events. Application fields and the user
// id are inherited from the parent targets' configurators where this one has
// none; the device id is this configurator's own.
//
// Thread-safe: the fields are guarded by the configurator's lock; the event
// properties by the analytics service's monitor.
class TLMPropertyConfigurator final : public TLMChannelDelegate {
 public:
  static constexpr const char* kMachineIdFile = "/etc/machine-id";

  // The owner is held weakly.
  explicit TLMPropertyConfigurator(std::weak_ptr<TLMAnalyticsTransmissionTarget> owner);

  // None clears.
  void setAppVersion(std::optional<std::string> appVersion);
  void setAppName(std::optional<std::string> appName);
  void setAppLocale(std::optional<std::string> appLocale);
  // Kept (with the "c:" prefix when it has none) only when the id is valid
  // for the common-schema endpoint; otherwise the old one stays.
  void setUserId(const std::optional<std::string>& userId);
  std::optional<std::string> appVersion() const;
  std::optional<std::string> appName() const;
  std::optional<std::string> appLocale() const;
  std::optional<std::string> userId() const;
  std::optional<std::string> deviceId() const;

  // Default event properties of the target's events.
  void setEventPropertyString(std::string_view key, std::string_view value);
  void setEventPropertyDouble(std::string_view key, double value);
  void setEventPropertyInt64(std::string_view key, std::int64_t value);
  void setEventPropertyBool(std::string_view key, bool value);
  void setEventPropertyDate(std::string_view key, TLMDate value);
  void removeEventPropertyForKey(std::string_view key);
  // Copies into `properties` every default it does not have yet.
  void mergeTypedPropertiesWith(TLMEventProperties& properties) const;

  // Puts the device identifier into this target's logs from now on.
  void collectDeviceId();
  // "u:" and the machine's UUID: the systemd machine id in `machineIdFile`
  // as an upper-case UUID; "u:(null)" when it cannot be read.
  static std::string getDeviceIdentifier(
      const std::filesystem::path& machineIdFile = kMachineIdFile);

  // Fills the application, user and device fields of the common-schema logs
  // of its owner, while the owner is enabled.
  void prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;

 private:
  template <class Setter>
  void editEventProperties(Setter setter);

  const std::weak_ptr<TLMAnalyticsTransmissionTarget> owner_;
  mutable std::mutex mutex_;
  std::optional<std::string> appVersion_;
  std::optional<std::string> appName_;
  std::optional<std::string> appLocale_;
  std::optional<std::string> userId_;
  std::optional<std::string> deviceId_;
  // Guarded by the analytics service's monitor.
  TLMEventProperties eventProperties_;
};

}  // namespace tlm

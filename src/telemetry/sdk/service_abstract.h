#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/channel/channel_protocols.h"
#include "telemetry/channel/channel_unit_configuration.h"
#include "telemetry/core/sdk_user_defaults.h"

namespace tlm {

// Base of every telemetry service (analytics, crashes). It gives the service a
// persisted switch, "<group id>IsEnabled" in the SDK's settings (absent means
// enabled), the start that attaches it to the SDK's channel group with a unit
// of its own, and the check whether it can be used now.
//
// A concrete service supplies its names, group id and unit configuration and
// may raise the priority (services start highest first) or drop the need for
// an application secret; it extends `applyEnabledState` and the start.
// The class-level switch is TLMServiceClass's.
//
// Thread-safe: the fields are guarded by the service's recursive monitor,
// which the class-level operations hold throughout.
class TLMServiceAbstract {
 public:
  static constexpr std::int64_t kDefaultInitializationPriority = 500;

  // Settings in `settings`, or in the SDK's shared store when none.
  explicit TLMServiceAbstract(std::shared_ptr<TLMDarAvevedUserDefaults> settings = nullptr);
  virtual ~TLMServiceAbstract();
  TLMServiceAbstract(const TLMServiceAbstract&) = delete;
  TLMServiceAbstract& operator=(const TLMServiceAbstract&) = delete;

  // "Analytics", ...: messages, the service-disabling environment switch and
  // the start-service log name the service by it.
  virtual std::string_view serviceName() const = 0;
  virtual std::string_view logTag() const = 0;
  virtual std::string groupId() const = 0;
  // The configuration of the service's own unit; none: the service adds no unit.
  virtual std::optional<TLMChannelUnitConfiguration> channelUnitConfiguration() const {
    return std::nullopt;
  }
  virtual std::int64_t initializationPriority() const { return kDefaultInitializationPriority; }
  virtual bool isAppSecretRequired() const { return true; }

  // "<group id>IsEnabled".
  std::string isEnabledKey() const;
  // The stored switch; true when never stored.
  bool isEnabled() const;
  // Nothing when equal to `isEnabled`; otherwise applies the state first,
  // then stores it.
  virtual void setEnabled(bool isEnabled);
  // Switches the service's unit, deleting its stored logs when disabling.
  virtual void applyEnabledState(bool isEnabled);

  // True when the SDK is configured and the service started; otherwise logs
  // that the service hasn't been started.
  bool canBeUsed() const;
  // Enabled and started.
  bool isAvailable() const;
  // Set by the start; never cleared.
  bool isStarted() const;
  // Whether the last start or update came from the application.
  bool isStartedFromApplication() const;

  // Called once by the SDK (under its lock): keeps the origin, the group, the
  // secret and the token, adds the service's unit when it has a
  // configuration, and applies the enabled state when enabled.
  virtual void startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                                     std::optional<std::string> appSecret,
                                     std::optional<std::string> transmissionTargetToken,
                                     bool fromApplication);
  // The application starts a service a library started first: marks it
  // started from the application, keeps secret and token, and applies the
  // enabled state when enabled.
  virtual void updateConfigurationWithAppSecret(std::optional<std::string> appSecret,
                                                std::optional<std::string> transmissionTargetToken);

  std::shared_ptr<TLMChannelGroupProtocol> channelGroup() const;
  void setChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup);
  std::shared_ptr<TLMChannelUnitProtocol> channelUnit() const;
  void setChannelUnit(std::shared_ptr<TLMChannelUnitProtocol> channelUnit);
  std::optional<std::string> appSecret() const;
  void setAppSecret(std::optional<std::string> appSecret);
  std::optional<std::string> defaultTransmissionTargetToken() const;
  void setDefaultTransmissionTargetToken(std::optional<std::string> token);

  // The service's recursive monitor.
  std::recursive_mutex& monitor() const { return monitor_; }

 protected:
  std::shared_ptr<TLMDarAvevedUserDefaults> settings() const;

 private:
  mutable std::recursive_mutex monitor_;
  const std::shared_ptr<TLMDarAvevedUserDefaults> ownSettings_;
  bool startedFromApplication_ = false;
  bool started_ = false;
  std::shared_ptr<TLMChannelGroupProtocol> channelGroup_;
  std::shared_ptr<TLMChannelUnitProtocol> channelUnit_;
  std::optional<std::string> appSecret_;
  std::optional<std::string> defaultTransmissionTargetToken_;
};

}  // namespace tlm

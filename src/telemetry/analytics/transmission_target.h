#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/analytics/authentication_provider.h"
#include "telemetry/analytics/event_properties.h"
#include "telemetry/analytics/property_configurator.h"
#include "telemetry/channel/channel_protocols.h"

namespace tlm {

// A destination of analytics events sent as common-schema logs, named by its
// target token. Targets form a tree: a child is found, or made, by token
// under its parent. Each has a switch persisted under
// "AnalyticsIsEnabled/<target key>" that obeys its parent (a root obeys the
// analytics service), tracks events under its own token with the default
// event properties of its configurator and its parents' (the nearest wins),
// and can hold back the sending of its logs.
//
// The class-wide authentication provider puts its ticket key into the
// common-schema logs of enabled targets and renews its token before it
// expires.
//
// Thread-safe: switches and children are guarded by the analytics service's
// monitor. Make targets with `make` (the channel group holds them weakly as
// delegates).
class TLMAnalyticsTransmissionTarget final
    : public TLMChannelDelegate,
      public std::enable_shared_from_this<TLMAnalyticsTransmissionTarget> {
 public:
  // Makes the configurator and, when the parent (for a root: the analytics
  // service) is disabled, stores the new target as disabled; then adds the
  // configurator and the target as delegates of the channel group.
  static std::shared_ptr<TLMAnalyticsTransmissionTarget> make(
      std::string transmissionTargetToken, std::shared_ptr<TLMAnalyticsTransmissionTarget> parent,
      std::shared_ptr<TLMChannelGroupProtocol> channelGroup);

  const std::string& transmissionTargetToken() const { return transmissionTargetToken_; }
  // None for a root (and for a child whose parent is gone).
  std::shared_ptr<TLMAnalyticsTransmissionTarget> parentTarget() const { return parent_.lock(); }
  const std::shared_ptr<TLMPropertyConfigurator>& propertyConfigurator() const {
    return propertyConfigurator_;
  }
  // "AnalyticsIsEnabled/<target key of the token>".
  const std::string& isEnabledKey() const { return isEnabledKey_; }

  // The parent's switch; for a root (or a child that outlived its parent),
  // whether the analytics service is enabled.
  bool isImmediateParent() const;
  // The stored switch; true when never stored.
  bool isEnabled() const;
  // Enabling under a disabled parent is refused (with a warning) and goes no
  // further; otherwise a change is stored (enabling also resumes the
  // target), and every child gets the same value.
  void setEnabled(bool enabled);

  // The child for `token`, made and kept on first use.
  std::shared_ptr<TLMAnalyticsTransmissionTarget> transmissionTargetForToken(
      const std::string& token);

  // Tracks an event under this target's token. The low 8 bits of `flags`
  // are its persistence: 1 normal, 2 critical.
  void trackEvent(const std::string& name,
                  const std::optional<std::map<std::string, std::string>>& properties,
                  std::uint64_t flags = 1);
  void trackEvent(const std::string& name, const std::optional<TLMEventProperties>& properties,
                  std::uint64_t flags = 1);
  void trackEvent(const std::string& name) {
    trackEvent(name, std::optional<TLMEventProperties>());
  }

  // Holds back (lets go) the sending of the stored logs of this target's
  // token; refused (with an error) while the target is disabled.
  void pause();
  void resume();

  // Puts the provider's ticket key into the common-schema logs of this
  // target while it is enabled, and has the provider check its token.
  void prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;

  // The class-wide provider: set, and asked for a token at once.
  static void addAuthenticationProvider(
      std::shared_ptr<TLMAnalyticsAuthenticationProvider> authenticationProvider);
  static std::shared_ptr<TLMAnalyticsAuthenticationProvider> authenticationProvider();
  static void setAuthenticationProvider(
      std::shared_ptr<TLMAnalyticsAuthenticationProvider> authenticationProvider);

 private:
  TLMAnalyticsTransmissionTarget(std::string transmissionTargetToken,
                                 std::shared_ptr<TLMAnalyticsTransmissionTarget> parent,
                                 std::shared_ptr<TLMChannelGroupProtocol> channelGroup);

  const std::string transmissionTargetToken_;
  // Weak: the parent keeps its children.
  const std::weak_ptr<TLMAnalyticsTransmissionTarget> parent_;
  // Weak: the group's units keep logs tagged with this target.
  const std::weak_ptr<TLMChannelGroupProtocol> channelGroup_;
  const std::string isEnabledKey_;
  std::shared_ptr<TLMPropertyConfigurator> propertyConfigurator_;
  // Guarded by the analytics service's monitor.
  std::map<std::string, std::shared_ptr<TLMAnalyticsTransmissionTarget>> childTransmissionTargets_;
};

}  // namespace tlm

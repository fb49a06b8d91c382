#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/channel/collector_channel_delegate.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/http/http_client.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/sdk/service_class.h"

namespace tlm {

// How the SDK makes its pipeline.
struct TLMDarAvevedDependencies {
  using MakeHttpClient = std::function<std::shared_ptr<TLMHttpClientProtocol>()>;
  using MakeChannelGroup = std::function<std::shared_ptr<TLMChannelGroupProtocol>(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
      const std::string& logUrl)>;

  // The SDK's settings store; the shared one when none.
  std::shared_ptr<TLMDarAvevedUserDefaults> settings;
  // Every HTTP client the SDK makes itself: the collector's, and the group's
  // unless one is injected through TLMDependencyConfiguration.
  MakeHttpClient makeHttpClient;
  // The channel group over an HTTP client, the install id and a log URL.
  MakeChannelGroup makeChannelGroup;

  // The real pipeline: HTTP clients on `transport` (none: the one the
  // program configured, TLMDependencyConfiguration::httpTransportFactory, at
  // the time a client is made) that take the network as always there, with
  // retry timers on TLMHttpClient::defaultRetryQueue(); the channel group with
  // the log store "Logs.sqlite" in the SDK's data directory, target tokens
  // encrypted with the default encrypter, and its units on `logsQueue` (a
  // serial queue of its own when none).
  static TLMDarAvevedDependencies standard(std::shared_ptr<dispatch::Queue> logsQueue = nullptr,
                                           TLMHttpTransportFactory transport = nullptr);
};

// The SDK's process-wide object behind the class operations of TLMDarAveved:
// configuration (once from the application, any time from libraries), the
// pipeline, the started services and the SDK-wide settings.
//
// Persisted in the SDK's settings: "DarAvevedIsEnabled" (absent: enabled)
// and "InstallId" (made at first use).
//
// Thread-safe: one recursive monitor guards everything; the services' class
// switches are called under it (they re-enter it on the same thread). Logs
// are stored and sent on the channel group's queue; nothing here waits.
class TLMDarAvevedInstance {
 public:
  static constexpr std::int64_t kMinAllowedStorageSizeInBytes = 24576;

  // Moves settings from their old keys to the current ones and registers
  // the old archived class names as aliases.
  explicit TLMDarAvevedInstance(TLMDarAvevedDependencies dependencies);
  ~TLMDarAvevedInstance();
  TLMDarAvevedInstance(const TLMDarAvevedInstance&) = delete;
  TLMDarAvevedInstance& operator=(const TLMDarAvevedInstance&) = delete;

  // Splits the secret string into secret and target token, configures, then
  // starts the services (none: configures only).
  void start(std::optional<std::string> secretString,
             const std::optional<std::vector<TLMServiceClass>>& services, bool fromApplication);
  // Answers false (and logs) for a second configuration from the application.
  bool configure(std::optional<std::string> appSecret,
                 std::optional<std::string> transmissionTargetToken, bool fromApplication);
  // Starts the services highest priority first, then sends the start-service
  // log when any started and the call came from the application.
  void startServices(const std::vector<TLMServiceClass>& services,
                     std::optional<std::string> appSecret,
                     std::optional<std::string> transmissionTargetToken, bool fromApplication);
  // Whether the service counts as started; every refusal is logged.
  bool startService(const TLMServiceClass& service, std::optional<std::string> appSecret,
                    std::optional<std::string> transmissionTargetToken, bool fromApplication);
  // Whether "ZEZ_IZURER_DISABLE" names the service or "All".
  static bool shouldDisable(std::string_view serviceName);

  void sendStartServiceLog(const std::vector<std::string>& serviceNames);
  void sendCustomPropertiesLog(const TLMCustomPropertyMap& properties);
  void setCustomProperties(const TLMCustomProperties* customProperties);

  // The persisted switch; true when never stored.
  bool isEnabled() const;
  // Persists the switch, applies it to the pipeline, and switches every
  // started service in start order. Refused (and logged) before configuration.
  void setEnabled(bool enabled);
  // Disabling clears the device, session and user-id histories; the group is
  // switched with deletion of stored logs; enabling announces the services
  // started while disabled.
  void applyPipelineEnabledState(bool enabled);

  // Made and stored at first use; a stored value that is not a UUID is replaced.
  std::string installId();
  std::optional<std::string> logUrl() const;
  // Kept for the group made later, or moved on the existing pipeline.
  void setLogUrl(std::string logUrl);
  // Keeps both ingestions disabled (the pipeline made later, or the existing
  // one): logs are stored and never sent.
  void setIngestionDisabled(bool disabled);
  bool isIngestionDisabled() const;
  // The handler gets the outcome (from the group's queue when it is passed on).
  void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler);
  void setUserId(std::optional<std::string> userId);

  // See TLMDarAveved::shutDown (the retry queue aside).
  void shutDown();

  // Logs the not-configured error when it answers false.
  bool canBeUsed() const;
  bool isSdkConfigured() const { return sdkConfigured_.load(); }
  bool isConfiguredFromApplication() const;
  bool isEnabledStateUpdating() const;

  std::optional<std::string> appSecret() const;
  std::optional<std::string> defaultTransmissionTargetToken() const;
  std::shared_ptr<TLMChannelGroupProtocol> channelGroup() const;
  std::shared_ptr<TLMChannelUnitProtocol> channelUnit() const;
  std::shared_ptr<TLMCollectorChannelDelegate> collectorChannelDelegate() const;
  // The services started so far, in start order.
  std::vector<TLMServiceClass> services() const;

  std::recursive_mutex& monitor() const { return monitor_; }

 private:
  void initializeChannelGroup();
  std::shared_ptr<TLMDarAvevedUserDefaults> settings() const;

  const TLMDarAvevedDependencies dependencies_;
  mutable std::recursive_mutex monitor_;
  std::atomic<bool> sdkConfigured_{false};
  bool configuredFromApplication_ = false;
  bool enabledStateUpdating_ = false;
  bool setMaxStorageSizeHasBeenCalled_ = false;
  std::optional<std::string> installId_;
  std::optional<std::string> logUrl_;
  bool ingestionDisabled_ = false;
  std::shared_ptr<TLMChannelUnitProtocol> channelUnit_;
  std::shared_ptr<TLMCollectorChannelDelegate> collectorChannelDelegate_;
  std::shared_ptr<TLMChannelGroupProtocol> channelGroup_;
  std::vector<TLMServiceClass> services_;
  std::optional<std::vector<std::string>> startedServiceNames_;
  std::optional<std::string> appSecret_;
  std::optional<std::string> defaultTransmissionTargetToken_;
  std::optional<std::int64_t> requestedMaxStorageSizeInBytes_;
  std::function<void(bool)> maxStorageSizeCompletionHandler_;
};

}  // namespace tlm

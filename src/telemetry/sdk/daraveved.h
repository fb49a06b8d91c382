#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/core/logger.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/device.h"
#include "telemetry/sdk/service_class.h"

namespace tlm {

class TLMDarAvevedInstance;

// Entry point of the telemetry SDK. The application starts it once at launch
// with its secret and the service classes it wants; libraries may configure
// it and start services at any time. Every operation forwards to the
// process-wide TLMDarAvevedInstance (made on first use with the real
// pipeline). Callable from any thread; refusals are logged, never reported.
class TLMDarAveved {
 public:
  static constexpr std::string_view kGroupId = "DarAveved";
  static constexpr std::string_view kLogTag = "DarAveved";
  // The SDK's own log endpoint when the application sets none: a host that
  // never resolves, so logs stay in the local store (within its size limit).
  static constexpr std::string_view kDefaultLogUrl = "https://in.daraveved.invalid";
  // Comma-separated service names (or "All") that must not be started.
  static constexpr const char* kDisableEnvironmentVariable = "ZEZ_IZURER_DISABLE";
  // "1" when running in the test cloud.
  static constexpr const char* kTestCloudEnvironmentVariable = "RUNNING_IN_ZEZ_IZURER";

  TLMDarAveved() = delete;

  // Configures from the application with the secret string (a bare secret,
  // or "appsecret=" and "target=" parts) and starts `services`, highest
  // initialization priority first; then a start-service log names them. A
  // second start from the application is refused and starts nothing.
  static void start(std::string_view secretString, const std::vector<TLMServiceClass>& services);
  // The same without a secret.
  static void startWithServices(const std::vector<TLMServiceClass>& services);
  // A library's start: no secret, and no start-service log.
  static void startFromLibraryWithServices(const std::vector<TLMServiceClass>& services);
  // One more service with the stored secret and token, after the start.
  static void startService(const TLMServiceClass& service);
  static void configureWithAppSecret(std::string_view secretString);
  static void configure();

  // Configured, and from the application.
  static bool isConfigured();
  static bool isSdkConfigured();
  static bool isRunningInDarAvevedTestCloud();
  static bool isDebuggerAttached();

  static void setLogUrl(std::string logUrl);
  static std::optional<std::string> logUrl();
  // For a program that has nowhere to send logs: the SDK and its services run
  // as usual, but the ingestions stay disabled whatever the SDK's switch, so
  // every log stays in the local store (within its size limit) and nothing
  // reaches the network.
  static void setIngestionDisabled(bool disabled);
  static bool isIngestionDisabled();
  // The whole SDK's switch, persisted; it switches every started service.
  static void setEnabled(bool enabled);
  static bool isEnabled();
  static bool isAppDelegateForwarderEnabled();
  static std::string installId();
  // Also logs the delegate forwarders' buffered traces.
  static void setLogLevel(TLMLogLevel level);
  static TLMLogLevel logLevel();
  static void setLogHandler(TLMLogHandler handler);
  static TLMLogHandler logHandler();
  static void setWrapperSdk(std::optional<TLMWrapperSdk> wrapperSdk);
  static std::optional<TLMWrapperSdk> wrapperSdk();
  static void setCountryCode(std::optional<std::string> countryCode);
  static std::optional<std::string> countryCode();
  static void setUserId(std::optional<std::string> userId);
  static std::optional<std::string> userId();
  static void setCustomProperties(const TLMCustomProperties* customProperties);
  // At least 24576 bytes, once per launch, before the application configures
  // the SDK; the handler gets the outcome.
  static void setMaxStorageSize(std::int64_t sizeInBytes,
                                std::function<void(bool)> completionHandler);
  static std::string_view sdkVersion();

  // The application secret the SDK was configured with (empty for none).
  static std::string appSecret();

  // The process-wide instance, made on first use.
  // At the program's end, before static objects are destroyed: sends
  // nothing more, lets every log handed over so far reach the log store and
  // stops the worker threads of the pipeline and of the HTTP retries. Logs
  // handed over later are dropped.
  static void shutDown();

  static std::shared_ptr<TLMDarAvevedInstance> sharedInstance();
  // Makes `instance` the shared one; none: made again on next use.
  static void setSharedForTesting(std::shared_ptr<TLMDarAvevedInstance> instance = nullptr);
};

}  // namespace tlm

#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/sdk/service_class.h"

namespace tlm {

// What a service is started with.
struct TLMServiceStartArguments {
  std::string appSecret;
  bool fromApplication = true;
};

// Starts one service's implementation; answers whether the service started.
using TLMServiceStarter = std::function<bool(const TLMServiceStartArguments&)>;

// Entry object of the telemetry SDK: the application configures it once with
// its secret and names the services to start. Service implementations attach
// themselves with `setServiceStarter`; a named service without one is not
// started, and its calls are then dropped as for any service not started.
// Thread-safe; one process-wide instance.
class TLMDarAveved {
 public:
  static constexpr std::string_view kLogTag = "DarAveved";
  // Comma-separated service names (or "All") that must not be started.
  static constexpr const char* kDisableEnvironmentVariable = "ZEZ_IZURER_DISABLE";

  TLMDarAveved() = delete;

  // Configures the SDK with `secret` and starts `services`, highest
  // initialization priority first. A second start from the application is
  // refused and logged; nothing is reported to the caller.
  static void start(std::string_view secret, const std::vector<TLMServiceClass>& services);

  static bool isConfigured();
  static std::string appSecret();
  // Services started so far, in start order.
  static std::vector<TLMServiceClass> startedServices();

  static void setServiceStarter(TLMServiceClass service, TLMServiceStarter starter);

  // Forgets configuration, started services and starters (tests).
  static void resetForTesting();
};

}  // namespace tlm

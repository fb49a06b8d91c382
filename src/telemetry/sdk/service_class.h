#pragma once

#include <cstdint>
#include <string_view>

namespace tlm {

// The telemetry services an application names when it starts the SDK.
enum class TLMServiceClass {
  Analytics,
  Crashes,
};

// "Analytics", "Crashes": the name used in messages, settings keys and the
// service-disabling environment switch.
std::string_view serviceName(TLMServiceClass service);

// "TLMAnalytics", "TLMCrashes".
std::string_view className(TLMServiceClass service);

// Services start from the highest priority down: crashes (999) before every
// other service (500), so that a crash during another service's start is caught.
std::int64_t initializationPriority(TLMServiceClass service);

}  // namespace tlm

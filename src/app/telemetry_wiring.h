#pragma once

// The telemetry SDK's place in the program: where it sends its logs, the HTTP
// client it sends them with, and the hooks that let its services hear of the
// application's URL opening and activation.

#include <cstdint>
#include <string>
#include <vector>

#include "telemetry/sdk/service_class.h"

#include "toolkit/application.h"
#include "toolkit/view.h"

namespace wendrix {

// Points the SDK at `logUrl` ("": the SDK's default) and gives it an HTTP
// client that follows the network (netlink routes), so that sending paused
// after failed calls or a lost network resumes when the network comes back.
// Before the SDK starts.
void configureTelemetry(const std::string& logUrl);

// The services the program starts the SDK with, in order: the analytics
// service, then the crash reporting service. The one place a service joins
// the program; those not yet part of the SDK are left out.
std::vector<tlm::TLMServiceClass> programTelemetryServices();

// Connects the SDK's application-delegate forwarder and the SDK's
// notification center (which the analytics session tracker observes) to the
// application's signals for as long as it lives, and reports every view
// controller that appears to the analytics page-view hook (which logs
// nothing unless page views were switched on), with the application's main
// queue as the hook's. Main thread only; the application must outlive it.
class TelemetryForwarderHooks {
 public:
  explicit TelemetryForwarderHooks(toolkit::Application& application);
  ~TelemetryForwarderHooks();
  TelemetryForwarderHooks(const TelemetryForwarderHooks&) = delete;
  TelemetryForwarderHooks& operator=(const TelemetryForwarderHooks&) = delete;

 private:
  toolkit::Application& application_;
  std::uint64_t urlsOpened_ = 0;
  std::uint64_t didBecomeActive_ = 0;
  std::uint64_t didResignActive_ = 0;
  std::uint64_t viewControllerDidAppear_ = 0;
};

// The C++ name of the controller's class ("wendrix::AboutViewController").
std::string viewControllerClassName(const toolkit::ViewController& controller);

}  // namespace wendrix

#pragma once

// The telemetry SDK's place in the program: where it sends its logs, the HTTP
// client it sends them with, the crash reporter its crash service arms, and
// the hooks that let its services hear of the application's URL opening and
// activation.

#include <cstdint>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/sdk/service_class.h"

#include "toolkit/application.h"
#include "toolkit/view.h"

namespace wendrix {

// The application's main queue as the telemetry services hold it: they live
// as long as the process, the application does not. Tasks reach the queue
// until `detach`, then they are dropped. Thread-safe.
class MainQueueRelay final : public dispatch::Queue {
 public:
  // `queue` must outlive the relay or its `detach`.
  explicit MainQueueRelay(dispatch::Queue& queue);

  void async(dispatch::Task task) override;
  dispatch::TimerHandle after(dispatch::Duration delay, dispatch::Task task) override;
  // The queue's clock; the system clock once detached.
  const dispatch::Clock& clock() const override;

  void detach();

 private:
  mutable std::mutex mutex_;
  dispatch::Queue* queue_;
};

// Gives the SDK the program's device probe and curl as the transport of the
// HTTP clients it makes. Points the SDK at `logUrl` and gives it an HTTP
// client that follows the network (netlink routes), so that sending paused
// after failed calls or a lost network resumes when the network comes back.
// With no `logUrl` (a build given none) the SDK runs as usual but its
// ingestion stays disabled: logs are kept in the local store, nothing is
// looked up or sent, and one line on `notices` says so. The crash service
// gets the crash capture library's reporter and `mainQueue` for its delegate
// calls and the confirmation handler. Before the SDK starts.
void configureTelemetry(const std::string& logUrl, std::shared_ptr<dispatch::Queue> mainQueue,
                        std::ostream& notices = std::cerr);

// The services the program starts the SDK with, in order: the analytics
// service, then the crash reporting service. The one place a service joins
// the program.
std::vector<tlm::TLMServiceClass> programTelemetryServices();

// At the program's end, once the agent is gone: the logs handed over reach
// the store, nothing more is sent, and the SDK's and services' worker threads
// end before static objects are destroyed.
void shutDownTelemetry();

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

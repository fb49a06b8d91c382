#include "app/telemetry_wiring.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <typeinfo>
#include <vector>

#include "platform/device/linux/linux_device_probe.h"
#include "telemetry/analytics/analytics_category.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/linux/linux_crash_reporter.h"
#include "telemetry/http/http_client.h"
#include "telemetry/http/linux/curl_transport.h"
#include "telemetry/http/linux/netlink_reachability.h"
#include "telemetry/sdk/app_delegate_forwarder.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/util/notification_center.h"
#include "telemetry/util/utility.h"

namespace wendrix {

MainQueueRelay::MainQueueRelay(dispatch::Queue& queue) : queue_(&queue) {}

void MainQueueRelay::async(dispatch::Task task) {
  std::lock_guard lock(mutex_);
  if (queue_) queue_->async(std::move(task));
}

dispatch::TimerHandle MainQueueRelay::after(dispatch::Duration delay, dispatch::Task task) {
  std::lock_guard lock(mutex_);
  if (queue_) return queue_->after(delay, std::move(task));
  return dispatch::TimerHandle::wrap({}).first;
}

const dispatch::Clock& MainQueueRelay::clock() const {
  std::lock_guard lock(mutex_);
  return queue_ ? queue_->clock() : dispatch::SystemClock::instance();
}

void MainQueueRelay::detach() {
  std::lock_guard lock(mutex_);
  queue_ = nullptr;
}

void configureTelemetry(const std::string& logUrl, std::shared_ptr<dispatch::Queue> mainQueue,
                        std::ostream& notices) {
  tlm::TLMDeviceTracker::configureShared(std::make_shared<platform::LinuxDeviceProbe>());
  tlm::TLMDependencyConfiguration::setHttpTransportFactory(tlm::TLMCurlTransportFactory());
  if (logUrl.empty()) {
    tlm::TLMDarAveved::setIngestionDisabled(true);
    notices << "wendrix: this build has no log URL: usage and error logs are kept locally in "
            << tlm::TLMUtility::darAvevedDirectoryURL().string() << " and never sent\n";
  } else {
    tlm::TLMDarAveved::setIngestionDisabled(false);
    tlm::TLMDarAveved::setLogUrl(logUrl);
  }
  tlm::TLMDependencyConfiguration::setHttpClient(std::make_shared<tlm::TLMHttpClient>(
      tlm::TLMHttpClient::defaultRetryQueue(), tlm::TLMCurlTransportFactory(),
      std::make_shared<tlm::TLMNetlinkReachability>()));
  tlm::TLMCrashesEnvironment crashes;
  crashes.makeCrashReporter = tlm::TLMLinuxCrashReporter::factory();
  crashes.mainQueue = std::move(mainQueue);
  tlm::TLMCrashesShared::configure(std::move(crashes));
}

void shutDownTelemetry() {
  tlm::TLMDarAveved::shutDown();
  tlm::TLMCrashesShared::stopProcessQueues();
}

std::vector<tlm::TLMServiceClass> programTelemetryServices() {
  return {tlm::TLMAnalyticsService::serviceClass(), tlm::TLMCrashes::serviceClass()};
}

TelemetryForwarderHooks::TelemetryForwarderHooks(toolkit::Application& application)
    : application_(application) {
  const auto forwarder = tlm::TLMAppDelegateForwarder::sharedInstance();
  urlsOpened_ = application_.urlsOpened.connect(
      [forwarder](const std::vector<std::string>& urls) { forwarder->applicationOpenURLs(urls); });
  didBecomeActive_ = application_.didBecomeActive.connect([forwarder] {
    tlm::TLMNotificationCenter::defaultCenter()->post(
        tlm::TLMNotificationCenter::kApplicationWillBecomeActive);
    forwarder->applicationDidBecomeActive();
  });
  didResignActive_ = application_.didResignActive.connect([] {
    tlm::TLMNotificationCenter::defaultCenter()->post(
        tlm::TLMNotificationCenter::kApplicationDidResignActive);
  });
  // The toolkit reports an appearance after the controller's own handler ran.
  tlm::TLMAnalyticsCategory::setMainQueue(&application_.mainQueue());
  viewControllerDidAppear_ =
      application_.viewControllerDidAppear.connect([](toolkit::ViewController& controller) {
        tlm::TLMAnalyticsCategory::viewControllerWillAppear(viewControllerClassName(controller));
      });
}

TelemetryForwarderHooks::~TelemetryForwarderHooks() {
  application_.urlsOpened.disconnect(urlsOpened_);
  application_.didBecomeActive.disconnect(didBecomeActive_);
  application_.didResignActive.disconnect(didResignActive_);
  application_.viewControllerDidAppear.disconnect(viewControllerDidAppear_);
  tlm::TLMAnalyticsCategory::setMainQueue(nullptr);
}

std::string viewControllerClassName(const toolkit::ViewController& controller) {
  const char* mangled = typeid(controller).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  return name;
}

}  // namespace wendrix

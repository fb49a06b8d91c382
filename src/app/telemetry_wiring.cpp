#include "app/telemetry_wiring.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <typeinfo>
#include <vector>

#include "telemetry/analytics/analytics_category.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/http/http_client.h"
#include "telemetry/http/netlink_reachability.h"
#include "telemetry/sdk/app_delegate_forwarder.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/util/notification_center.h"

namespace wendrix {

void configureTelemetry(const std::string& logUrl) {
  if (!logUrl.empty()) tlm::TLMDarAveved::setLogUrl(logUrl);
  tlm::TLMDependencyConfiguration::setHttpClient(
      std::make_shared<tlm::TLMHttpClient>(tlm::TLMHttpClient::defaultRetryQueue(), std::nullopt,
                                           std::make_shared<tlm::TLMNetlinkReachability>()));
}

std::vector<tlm::TLMServiceClass> programTelemetryServices() {
  // The crash reporting service ("TLMCrashes") joins after analytics once it
  // is a service of the SDK.
  return {tlm::TLMAnalyticsService::serviceClass()};
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

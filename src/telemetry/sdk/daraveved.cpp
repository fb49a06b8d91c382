#include "telemetry/sdk/daraveved.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "base/shared_slot.h"
#include "dispatch/serial_queue.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/http/http_client.h"
#include "telemetry/schema/string_formatting.h"
#include "telemetry/sdk/app_delegate_forwarder.h"
#include "telemetry/sdk/daraveved_instance.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace {

base::SharedSlot<TLMDarAvevedInstance>& instanceSlot() {
  static base::SharedSlot<TLMDarAvevedInstance> slot;
  return slot;
}

// Whether a tracer (a debugger) is attached: the "TracerPid:" line of the
// process's status file is non-zero. None when the file cannot be read.
std::optional<bool> tracerAttached() {
  std::ifstream status("/proc/self/status");
  if (!status) return std::nullopt;
  std::string line;
  while (std::getline(status, line)) {
    constexpr std::string_view kField = "TracerPid:";
    if (!line.starts_with(kField)) continue;
    const long pid = std::strtol(line.c_str() + kField.size(), nullptr, 10);
    return pid != 0;
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<TLMDarAvevedInstance> TLMDarAveved::sharedInstance() {
  return instanceSlot().getOrMake(
      [] { return std::make_shared<TLMDarAvevedInstance>(TLMDarAvevedDependencies::standard()); });
}

void TLMDarAveved::setSharedForTesting(std::shared_ptr<TLMDarAvevedInstance> instance) {
  instanceSlot().exchange(std::move(instance));
}

void TLMDarAveved::start(std::string_view secretString,
                         const std::vector<TLMServiceClass>& services) {
  sharedInstance()->start(std::string(secretString), services, true);
}

void TLMDarAveved::startWithServices(const std::vector<TLMServiceClass>& services) {
  sharedInstance()->start(std::nullopt, services, true);
}

void TLMDarAveved::startFromLibraryWithServices(const std::vector<TLMServiceClass>& services) {
  sharedInstance()->start(std::nullopt, services, false);
}

void TLMDarAveved::startService(const TLMServiceClass& service) {
  if (service.isNil()) return;
  const auto instance = sharedInstance();
  instance->startServices({service}, instance->appSecret(),
                          instance->defaultTransmissionTargetToken(), true);
}

void TLMDarAveved::configureWithAppSecret(std::string_view secretString) {
  sharedInstance()->configure(
      TLMUtility_StringFormatting::appSecretFrom(secretString),
      TLMUtility_StringFormatting::transmissionTargetTokenFrom(secretString), true);
}

void TLMDarAveved::configure() {
  sharedInstance()->configure(std::nullopt, std::nullopt, true);
}

bool TLMDarAveved::isConfigured() {
  const auto instance = sharedInstance();
  return instance->isSdkConfigured() && instance->isConfiguredFromApplication();
}

bool TLMDarAveved::isSdkConfigured() {
  return sharedInstance()->isSdkConfigured();
}

bool TLMDarAveved::isRunningInDarAvevedTestCloud() {
  const char* value = std::getenv(kTestCloudEnvironmentVariable);
  return value != nullptr && std::string_view(value) == "1";
}

bool TLMDarAveved::isDebuggerAttached() {
  static const bool attached = [] {
    if (const auto traced = tracerAttached()) return *traced;
    std::fputs("[TLMCrashes] ERROR: Checking for a running debugger via sysctl() failed.\n",
               stderr);
    return false;
  }();
  return attached;
}

void TLMDarAveved::shutDown() {
  sharedInstance()->shutDown();
  if (auto* retries = dynamic_cast<dispatch::SerialQueue*>(&TLMHttpClient::defaultRetryQueue())) {
    retries->stop();
  }
}

void TLMDarAveved::setLogUrl(std::string logUrl) {
  sharedInstance()->setLogUrl(std::move(logUrl));
}

std::optional<std::string> TLMDarAveved::logUrl() {
  return sharedInstance()->logUrl();
}

void TLMDarAveved::setIngestionDisabled(bool disabled) {
  sharedInstance()->setIngestionDisabled(disabled);
}

bool TLMDarAveved::isIngestionDisabled() {
  return sharedInstance()->isIngestionDisabled();
}

void TLMDarAveved::setEnabled(bool enabled) {
  sharedInstance()->setEnabled(enabled);
}

bool TLMDarAveved::isEnabled() {
  const auto instance = sharedInstance();
  std::lock_guard lock(instance->monitor());
  return instance->canBeUsed() && instance->isEnabled();
}

bool TLMDarAveved::isAppDelegateForwarderEnabled() {
  return TLMAppDelegateForwarder::sharedInstance()->isEnabled();
}

std::string TLMDarAveved::installId() {
  return sharedInstance()->installId();
}

void TLMDarAveved::setLogLevel(TLMLogLevel level) {
  TLMLogger::setCurrentLogLevel(level);
  TLMDelegateForwarder::flushTraceBuffer();
}

TLMLogLevel TLMDarAveved::logLevel() {
  return TLMLogger::currentLogLevel();
}

void TLMDarAveved::setLogHandler(TLMLogHandler handler) {
  TLMLogger::setLogHandler(std::move(handler));
}

TLMLogHandler TLMDarAveved::logHandler() {
  return TLMLogger::logHandler();
}

void TLMDarAveved::setWrapperSdk(std::optional<TLMWrapperSdk> wrapperSdk) {
  TLMDeviceTracker::sharedInstance()->setWrapperSdk(std::move(wrapperSdk));
}

std::optional<TLMWrapperSdk> TLMDarAveved::wrapperSdk() {
  return TLMDeviceTracker::sharedInstance()->wrapperSdk();
}

void TLMDarAveved::setCountryCode(std::optional<std::string> countryCode) {
  TLMDeviceTracker::sharedInstance()->setCountryCode(std::move(countryCode));
}

std::optional<std::string> TLMDarAveved::countryCode() {
  return TLMDeviceTracker::sharedInstance()->countryCode();
}

void TLMDarAveved::setUserId(std::optional<std::string> userId) {
  sharedInstance()->setUserId(std::move(userId));
}

std::optional<std::string> TLMDarAveved::userId() {
  return TLMUserIdContext::sharedInstance()->userId();
}

void TLMDarAveved::setCustomProperties(const TLMCustomProperties* customProperties) {
  sharedInstance()->setCustomProperties(customProperties);
}

void TLMDarAveved::setMaxStorageSize(std::int64_t sizeInBytes,
                                     std::function<void(bool)> completionHandler) {
  sharedInstance()->setMaxStorageSize(sizeInBytes, std::move(completionHandler));
}

std::string_view TLMDarAveved::sdkVersion() {
  return TLMUtility::sdkVersion();
}

std::string TLMDarAveved::appSecret() {
  return sharedInstance()->appSecret().value_or(std::string());
}

}  // namespace tlm

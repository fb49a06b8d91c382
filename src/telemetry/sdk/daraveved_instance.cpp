#include "telemetry/sdk/daraveved_instance.h"

// Design note. Everything here runs under the instance's recursive monitor,
// which the services' class switches re-enter on the same thread while the
// SDK cascades its switch. The pipeline is made once, at the first
// configuration, and reused by later ones; what was set before it existed
// (log URL, storage size) is kept and handed to it then.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "base/uuid.h"
#include "dispatch/serial_queue.h"
#include "telemetry/channel/channel_group_default.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/context/session_context.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/core/archive.h"
#include "telemetry/core/logger.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/schema/string_formatting.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/service_abstract.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace {

constexpr std::string_view kEnabledKey = "DarAvevedIsEnabled";
constexpr std::string_view kInstallIdKey = "InstallId";
constexpr std::uint64_t kNormalFlags = 1;

std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string_view originText(bool fromApplication) {
  return fromApplication ? "" : "from a library ";
}

std::string upperCase(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TLMDarAvevedInstance::TLMDarAvevedInstance(TLMDarAvevedDependencies dependencies)
    : dependencies_(std::move(dependencies)) {
  settings()->migrateKeys(
      {
          {"TLDarAvevedChannelStartTimer", TLMUserDefaultsPrefixKey{"TLChannelStartTimer"}},
          {"TLDarAvevedPastDevices", std::string("pastDevicesKey")},
          {"TLDarAvevedInstallId", std::string("TLInstallId")},
          {"TLDarAvevedDarAvevedIsEnabled", std::string("TLDarAvevedIsEnabled")},
          {"TLDarAvevedEncryptionKeyMetadata", std::string("TLEncryptionKeyMetadata")},
          {"TLDarAvevedSessionIdHistory", std::string("SessionIdHistory")},
          {"TLDarAvevedUserIdHistory", std::string("UserIdHistory")},
      },
      TLMDarAveved::kGroupId);
  addMigrationClasses({
      {"TLDeviceHistoryInfo", "TLMDeviceHistoryInfo"},
      {"TLDevice", "TLMDevice"},
      {"TLStartServiceLog", "TLMStartServiceLog"},
      {"TLSessionHistoryInfo", "TLMSessionHistoryInfo"},
      {"TLUserIdHistoryInfo", "TLMUserIdHistoryInfo"},
      {"TLLogWithProperties", "TLMLogWithProperties"},
      {"TLLogContainer", "TLMLogContainer"},
      {"TLWrapperSdk", "TLMWrapperSdk"},
      {"TLAbstractLog", "TLMAbstractLog"},
      {"TLCustomProperties", "TLMCustomProperties"},
  });
}

TLMDarAvevedInstance::~TLMDarAvevedInstance() = default;

std::shared_ptr<TLMDarAvevedUserDefaults> TLMDarAvevedInstance::settings() const {
  return dependencies_.settings ? dependencies_.settings : TLMDarAvevedUserDefaults::shared();
}

// Start and configuration.

void TLMDarAvevedInstance::start(std::optional<std::string> secretString,
                                 const std::optional<std::vector<TLMServiceClass>>& services,
                                 bool fromApplication) {
  std::optional<std::string> appSecret;
  std::optional<std::string> token;
  if (secretString) {
    appSecret = TLMUtility_StringFormatting::appSecretFrom(*secretString);
    token = TLMUtility_StringFormatting::transmissionTargetTokenFrom(*secretString);
  }
  if (configure(appSecret, token, fromApplication) && services)
    startServices(*services, appSecret, token, fromApplication);
}

bool TLMDarAvevedInstance::configure(std::optional<std::string> appSecret,
                                     std::optional<std::string> transmissionTargetToken,
                                     bool fromApplication) {
  std::lock_guard lock(monitor_);
  if (fromApplication && configuredFromApplication_) {
    TLM_LOG_ASSERT(kTLMLogTag, "Dar Aveved SDK has already been configured.");
    TLM_LOG_ASSERT(kTLMLogTag, "Dar Aveved SDK configuration ", originText(fromApplication),
                   "failed.");
    return false;
  }
  // A secret or token once stored is never replaced.
  if (!appSecret_) {
    appSecret_ = std::move(appSecret);
    TLMSessionContext::sharedInstance()->setSessionId(std::nullopt);
  }
  if (!defaultTransmissionTargetToken_)
    defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
  // Loads the user-id history.
  TLMUserIdContext::sharedInstance();
  initializeChannelGroup();
  applyPipelineEnabledState(isEnabled());
  sdkConfigured_ = true;
  configuredFromApplication_ = configuredFromApplication_ || fromApplication;
  // Once configured, warnings and worse show unless the application chose a
  // level (or a handler) itself.
  if (!TLMLogger::isUserDefinedLogLevel() && TLMUtility::currentAppEnvironment() == 99) {
    TLMLogger::setCurrentLogLevel(TLMLogLevel::Warning);
    TLMLogger::setIsUserDefinedLogLevel(false);
  }
  TLM_LOG_INFO(kTLMLogTag, "Dar Aveved SDK configured ", originText(fromApplication),
               "successfully.");
  return true;
}

void TLMDarAvevedInstance::initializeChannelGroup() {
  std::lock_guard lock(monitor_);
  const std::string installId = this->installId();
  if (!collectorChannelDelegate_) {
    collectorChannelDelegate_ = std::make_shared<TLMCollectorChannelDelegate>(
        dependencies_.makeHttpClient(), installId, appSecret_ ? std::nullopt : logUrl_);
  }
  if (!channelGroup_) {
    auto httpClient = TLMDependencyConfiguration::httpClient();
    if (!httpClient) httpClient = dependencies_.makeHttpClient();
    channelGroup_ =
        dependencies_.makeChannelGroup(std::move(httpClient), installId,
                                       logUrl_.value_or(std::string(TLMDarAveved::kDefaultLogUrl)));
    channelGroup_->addDelegate(collectorChannelDelegate_);
    if (ingestionDisabled_) {
      channelGroup_->setIngestionDisabled(true);
      collectorChannelDelegate_->setIngestionDisabled(true);
    }
    if (requestedMaxStorageSizeInBytes_) {
      channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_,
                                       maxStorageSizeCompletionHandler_);
    }
  }
  channelGroup_->setAppSecret(appSecret_.value_or(std::string()));
  if (!channelUnit_) {
    channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(
        TLMChannelUnitConfiguration(std::string(TLMDarAveved::kGroupId)));
  }
}

// Services.

void TLMDarAvevedInstance::startServices(const std::vector<TLMServiceClass>& services,
                                         std::optional<std::string> appSecret,
                                         std::optional<std::string> transmissionTargetToken,
                                         bool fromApplication) {
  if (!isSdkConfigured()) return;
  // Highest priority first; equal priorities keep the caller's order.
  std::vector<std::pair<std::int64_t, TLMServiceClass>> ranked;
  for (const auto& service : services) {
    const auto instance = service.sharedInstance();
    ranked.emplace_back(instance ? instance->initializationPriority() : 0, service);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });

  std::string classNames;
  for (const auto& [priority, service] : ranked) {
    if (!classNames.empty()) classNames += ", ";
    classNames += service.className();
  }
  TLM_LOG_VERBOSE(kTLMLogTag, "Start services ", classNames, " from ",
                  fromApplication ? "an application" : "a library");

  std::vector<std::string> started;
  for (const auto& [priority, service] : ranked) {
    if (startService(service, appSecret, transmissionTargetToken, fromApplication))
      started.push_back(service.serviceName());
  }
  if (started.empty()) {
    TLM_LOG_DEBUG(kTLMLogTag, "No services have been started.");
  } else if (fromApplication) {
    sendStartServiceLog(started);
  }
}

// A service counts as running once started, enabled or not: starting a
// disabled service again would give it a second unit of the same group.
bool TLMDarAvevedInstance::startService(const TLMServiceClass& service,
                                        std::optional<std::string> appSecret,
                                        std::optional<std::string> transmissionTargetToken,
                                        bool fromApplication) {
  std::lock_guard lock(monitor_);
  const auto instance = service.sharedInstance();
  if (!instance) {
    TLM_LOG_ERROR(kTLMLogTag, "Cannot start service ", service.className(),
                  ". Provided value is nil or invalid.");
    return false;
  }
  if (!isSdkConfigured() || (fromApplication && !configuredFromApplication_)) {
    TLM_LOG_ERROR(kTLMLogTag,
                  "Dar Aveved has not been configured so it couldn't start the service.");
    return false;
  }
  if (fromApplication && instance->isStarted() && instance->isStartedFromApplication())
    return false;
  if (instance->isAppSecretRequired() && appSecret.value_or("").empty()) {
    TLM_LOG_ERROR(kTLMLogTag, "Cannot start service ", service.className(),
                  ". Dar Aveved was started without app secret, but the service requires it.");
    return false;
  }
  if (shouldDisable(instance->serviceName())) {
    TLM_LOG_DEBUG(kTLMLogTag,
                  "Environment variable to disable service has been set; not starting service ",
                  service.className());
    return false;
  }
  if (!instance->isStarted()) {
    services_.push_back(service);
    instance->startWithChannelGroup(channelGroup_, appSecret, transmissionTargetToken,
                                    fromApplication);
    if (service.isEnabled() && !isEnabled()) {
      enabledStateUpdating_ = true;
      service.setEnabled(false);
      enabledStateUpdating_ = false;
    }
  } else if (fromApplication) {
    instance->updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
  }
  return true;
}

bool TLMDarAvevedInstance::shouldDisable(std::string_view serviceName) {
  const char* value = std::getenv(TLMDarAveved::kDisableEnvironmentVariable);
  if (value == nullptr) return false;
  std::string_view rest(value);
  while (true) {
    const auto comma = rest.find(',');
    const auto part = trim(rest.substr(0, comma));
    if (part == serviceName || part == "All") return true;
    if (comma == std::string_view::npos) return false;
    rest.remove_prefix(comma + 1);
  }
}

std::vector<TLMServiceClass> TLMDarAvevedInstance::services() const {
  std::lock_guard lock(monitor_);
  return services_;
}

// Logs of the core unit.

void TLMDarAvevedInstance::sendStartServiceLog(const std::vector<std::string>& serviceNames) {
  std::lock_guard lock(monitor_);
  if (!isEnabled()) {
    if (!startedServiceNames_) startedServiceNames_.emplace();
    startedServiceNames_->insert(startedServiceNames_->end(), serviceNames.begin(),
                                 serviceNames.end());
    return;
  }
  auto log = std::make_shared<TLMStartServiceLog>();
  log->services = serviceNames;
  if (channelUnit_) channelUnit_->enqueueItem(log, kNormalFlags);
}

void TLMDarAvevedInstance::sendCustomPropertiesLog(const TLMCustomPropertyMap& properties) {
  auto log = std::make_shared<TLMCustomPropertiesLog>();
  log->properties = properties;
  if (const auto unit = channelUnit()) unit->enqueueItem(log, kNormalFlags);
}

void TLMDarAvevedInstance::setCustomProperties(const TLMCustomProperties* customProperties) {
  const auto properties =
      customProperties ? customProperties->propertiesImmutableCopy() : TLMCustomPropertyMap();
  if (properties.empty()) {
    TLM_LOG_ERROR(kTLMLogTag, "Custom properties may not be null or empty");
    return;
  }
  sendCustomPropertiesLog(properties);
}

// The switch.

bool TLMDarAvevedInstance::isEnabled() const {
  const auto stored = settings()->objectForKey(kEnabledKey);
  if (!stored) return true;
  if (const auto* flag = stored->getIf<bool>()) return *flag;
  if (const auto* number = stored->getIf<std::int64_t>()) return *number != 0;
  if (const auto* number = stored->getIf<std::uint64_t>()) return *number != 0;
  return true;
}

void TLMDarAvevedInstance::setEnabled(bool enabled) {
  std::lock_guard lock(monitor_);
  if (!canBeUsed()) return;
  enabledStateUpdating_ = true;
  if (isEnabled() != enabled) {
    settings()->setObject(enabled, kEnabledKey);
    applyPipelineEnabledState(enabled);
  }
  // Every service follows, even when the SDK's own state did not change.
  for (const auto& service : services_)
    service.setEnabled(enabled);
  enabledStateUpdating_ = false;
  TLM_LOG_INFO(kTLMLogTag, "Dar Aveved SDK ", enabled ? "enabled" : "disabled", ".");
}

void TLMDarAvevedInstance::applyPipelineEnabledState(bool enabled) {
  if (!enabled) {
    TLMDeviceTracker::sharedInstance()->clearDevices();
    TLMSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
    TLMUserIdContext::sharedInstance()->clearUserIdHistory();
  }
  std::lock_guard lock(monitor_);
  // Disabling deletes every stored log of every unit.
  if (channelGroup_) channelGroup_->setEnabled(enabled, true);
  if (enabled && startedServiceNames_) {
    const auto names = std::move(*startedServiceNames_);
    startedServiceNames_.reset();
    sendStartServiceLog(names);
  }
}

// Settings.

std::string TLMDarAvevedInstance::installId() {
  std::lock_guard lock(monitor_);
  if (installId_) return *installId_;
  const auto stored = settings()->objectForKey(kInstallIdKey);
  const auto* text = stored ? stored->getIf<std::string>() : nullptr;
  if (text && base::isUuidString(*text)) {
    installId_ = upperCase(*text);
  } else {
    installId_ = base::makeUuidString();
    settings()->setObject(*installId_, kInstallIdKey);
  }
  return *installId_;
}

std::optional<std::string> TLMDarAvevedInstance::logUrl() const {
  std::lock_guard lock(monitor_);
  return logUrl_;
}

void TLMDarAvevedInstance::setLogUrl(std::string logUrl) {
  std::lock_guard lock(monitor_);
  logUrl_ = logUrl;
  if (!channelGroup_) return;
  if (appSecret_) {
    TLM_LOG_INFO(kTLMLogTag, "The log url of Dar Aveved endpoint was changed to ", logUrl);
    channelGroup_->setLogUrl(logUrl);
  } else {
    TLM_LOG_INFO(kTLMLogTag, "The log url of Collector endpoint was changed to ", logUrl);
    if (collectorChannelDelegate_) collectorChannelDelegate_->setLogUrl(logUrl);
  }
}

void TLMDarAvevedInstance::setIngestionDisabled(bool disabled) {
  std::lock_guard lock(monitor_);
  ingestionDisabled_ = disabled;
  if (channelGroup_) channelGroup_->setIngestionDisabled(disabled);
  if (collectorChannelDelegate_) collectorChannelDelegate_->setIngestionDisabled(disabled);
}

bool TLMDarAvevedInstance::isIngestionDisabled() const {
  std::lock_guard lock(monitor_);
  return ingestionDisabled_;
}

void TLMDarAvevedInstance::setMaxStorageSize(std::int64_t sizeInBytes,
                                             std::function<void(bool)> completionHandler) {
  if (sizeInBytes < kMinAllowedStorageSizeInBytes) {
    if (completionHandler) completionHandler(false);
    TLM_LOG_WARNING(kTLMLogTag, "Cannot set storage size to ", sizeInBytes,
                    " bytes, minimum value is ", kMinAllowedStorageSizeInBytes, " bytes");
    return;
  }
  bool failed = false;
  {
    std::lock_guard lock(monitor_);
    if (setMaxStorageSizeHasBeenCalled_) {
      TLM_LOG_WARNING(
          kTLMLogTag,
          "setMaxStorageSize:completionHandler: may only be called once per app launch");
      failed = true;
    } else {
      setMaxStorageSizeHasBeenCalled_ = true;
      if (configuredFromApplication_) {
        TLM_LOG_WARNING(kTLMLogTag,
                        "Unable to set storage size after the application has configured Dar "
                        "Aveved");
        failed = true;
      } else {
        requestedMaxStorageSizeInBytes_ = sizeInBytes;
        maxStorageSizeCompletionHandler_ = completionHandler;
        if (channelGroup_) channelGroup_->setMaxStorageSize(sizeInBytes, completionHandler);
      }
    }
  }
  if (failed && completionHandler) completionHandler(false);
}

void TLMDarAvevedInstance::setUserId(std::optional<std::string> userId) {
  std::optional<std::string> appSecret;
  std::optional<std::string> token;
  {
    std::lock_guard lock(monitor_);
    if (!configuredFromApplication_) {
      TLM_LOG_ERROR(kTLMLogTag,
                    "DarAveved must be configured from application, libraries cannot call "
                    "setUserId.");
      return;
    }
    appSecret = appSecret_;
    token = defaultTransmissionTargetToken_;
  }
  if (!appSecret && !token) {
    TLM_LOG_ERROR(kTLMLogTag,
                  "DarAveved must be configured with a secret from application to call "
                  "setUserId.");
    return;
  }
  if (userId) {
    if (appSecret && !TLMUserIdContext::isUserIdValidForDarAveved(userId)) return;
    if (token && !TLMUserIdContext::isUserIdValidForCollector(userId)) return;
  }
  TLMUserIdContext::sharedInstance()->setUserId(std::move(userId));
}

// State.

bool TLMDarAvevedInstance::canBeUsed() const {
  if (isSdkConfigured()) return true;
  TLM_LOG_ERROR(kTLMLogTag,
                "Dar Aveved SDK hasn't been configured. You need to call [TLMDarAveved "
                "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.");
  return false;
}

bool TLMDarAvevedInstance::isConfiguredFromApplication() const {
  std::lock_guard lock(monitor_);
  return configuredFromApplication_;
}

bool TLMDarAvevedInstance::isEnabledStateUpdating() const {
  std::lock_guard lock(monitor_);
  return enabledStateUpdating_;
}

std::optional<std::string> TLMDarAvevedInstance::appSecret() const {
  std::lock_guard lock(monitor_);
  return appSecret_;
}

std::optional<std::string> TLMDarAvevedInstance::defaultTransmissionTargetToken() const {
  std::lock_guard lock(monitor_);
  return defaultTransmissionTargetToken_;
}

void TLMDarAvevedInstance::shutDown() {
  const auto group = channelGroup();
  if (!group) return;
  // No send starts from here; the units keep their logs stored.
  group->pauseWithIdentifyingObject(std::make_shared<int>(0));
  // The queue runs what is queued (logs being stored among it), then ends.
  const auto* pipeline = dynamic_cast<const TLMChannelGroupDefault*>(group.get());
  if (!pipeline) return;
  if (auto* queue = dynamic_cast<dispatch::SerialQueue*>(pipeline->logsDispatchQueue().get())) {
    queue->stop();
  }
}

std::shared_ptr<TLMChannelGroupProtocol> TLMDarAvevedInstance::channelGroup() const {
  std::lock_guard lock(monitor_);
  return channelGroup_;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMDarAvevedInstance::channelUnit() const {
  std::lock_guard lock(monitor_);
  return channelUnit_;
}

std::shared_ptr<TLMCollectorChannelDelegate> TLMDarAvevedInstance::collectorChannelDelegate()
    const {
  std::lock_guard lock(monitor_);
  return collectorChannelDelegate_;
}

}  // namespace tlm

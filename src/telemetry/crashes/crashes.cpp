#include "telemetry/crashes/crashes.h"

#include <cstdlib>
#include <mutex>
#include <utility>

#include "base/shared_slot.h"
#include "base/uuid.h"
#include "dispatch/serial_queue.h"
#include "telemetry/core/logger.h"
#include "telemetry/crashes/cxx_exception_capture.h"
#include "telemetry/crashes/wrapper_crashes_helper.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/model/property_validation.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace fs = std::filesystem;

namespace {

base::SharedSlot<TLMCrashes>& sharedSlot() {
  static base::SharedSlot<TLMCrashes> slot;
  return slot;
}

// What the shared service is made with; guarded by its mutex.
struct SharedEnvironment {
  std::mutex mutex;
  TLMCrashesEnvironment environment;
};
SharedEnvironment& sharedEnvironment() {
  static SharedEnvironment shared;
  return shared;
}

// A process-wide serial queue of the service. Never
// destroyed: its thread ends with the process.
std::shared_ptr<dispatch::Queue> globalQueue(const char* label) {
  return std::shared_ptr<dispatch::Queue>(new dispatch::SerialQueue(label),
                                          [](dispatch::Queue*) {});
}

std::shared_ptr<dispatch::Queue> processBufferQueue() {
  static const auto queue = globalQueue("com.zodoradud.daraveved.CrashesBufferQueue");
  return queue;
}
std::shared_ptr<dispatch::Queue> processProcessingQueue() {
  static const auto queue = globalQueue("com.zodoradud.daraveved.CrashesProcessingQueue");
  return queue;
}
std::shared_ptr<dispatch::Queue> processMainQueue() {
  static const auto queue = globalQueue("com.zodoradud.daraveved.CrashesMainQueue");
  return queue;
}

void stopQueue(const std::shared_ptr<dispatch::Queue>& queue) {
  static_cast<dispatch::SerialQueue*>(queue.get())->stop();
}

}  // namespace

TLMCrashes::TLMCrashes(TLMCrashesEnvironment environment)
    : TLMServiceAbstract(environment.settings),
      environment_(std::move(environment)),
      processingQueue_(environment_.processingQueue ? environment_.processingQueue
                                                    : processProcessingQueue()),
      mainQueue_(environment_.mainQueue ? environment_.mainQueue : processMainQueue()),
      clock_(environment_.clock ? *environment_.clock : dispatch::SystemClock::instance()),
      appStartTime_(clock_.now()) {
  settings()->migrateKeys(
      {{TLMDarAvevedUserDefaults::getDarAvevedKeyFrom(isEnabledKey()),
        std::string("kTLCrashesIsEnabledKey")},
       {TLMDarAvevedUserDefaults::getDarAvevedKeyFrom(kAppDidReceiveMemoryWarningKey),
        std::string("TLAppDidReceiveMemoryWarning")},
       {TLMDarAvevedUserDefaults::getDarAvevedKeyFrom(kUserConfirmationKey),
        std::string("TLUserConfirmation")}},
      kServiceName);
  registerErrorLogArchiveClasses();
  addMigrationClasses({{"TLAppleErrorLog", "TLMAppleErrorLog"},
                       {"TLThread", "TLMThread"},
                       {"TLWrapperException", "TLMWrapperException"},
                       {"TLAbstractErrorLog", "TLMAbstractErrorLog"},
                       {"TLHandledErrorLog", "TLMHandledErrorLog"},
                       {"TLException", "TLMException"},
                       {"TLStackFrame", "TLMStackFrame"},
                       {"TLBinary", "TLMBinary"},
                       {"TLErrorAttachmentLog", "TLMErrorAttachmentLog"},
                       {"TLErrorReport", "TLMErrorReport"}});
  reporterSetup_ =
      std::make_unique<TLMCrashReporterSetup>(monitor(), environment_.makeCrashReporter);
  memoryWarnings_ = std::make_unique<TLMCrashesMemoryWarnings>(monitor(), settings());
  bufferSlots_ = std::make_unique<TLMCrashesBufferSlots>(
      *this,
      environment_.targetTokenEncrypter ? environment_.targetTokenEncrypter
                                        : TLMEncrypter::makeDefault(),
      environment_.bufferFileQueue ? environment_.bufferFileQueue : processBufferQueue(), clock_);
  userConfirmation_ = std::make_unique<TLMCrashesUserConfirmation>(
      monitor(), settings(), mainQueue_, environment_.isMainThread);
  processing_ = std::make_unique<TLMCrashReportProcessing>(*this);
  if (environment_.formatterSources) {
    formatterSources_ = *environment_.formatterSources;
  } else {
    formatterSources_ = TLMErrorLogSources::shared();
    const auto tracker = environment_.deviceTracker;
    if (tracker) {
      formatterSources_.deviceForTimestamp = [tracker](std::optional<Date> timestamp) {
        return tracker->deviceForTimestamp(timestamp);
      };
    }
    formatterSources_.wrapperException = [](const std::string& uuid) {
      return TLMWrapperExceptionManager::loadWrapperExceptionWithUUIDString(uuid);
    };
  }
  // Asking for the names makes the folders.
  TLMCrashesUtil::crashesDir();
  TLMCrashesUtil::logBufferDir();
}

std::shared_ptr<TLMCrashes> TLMCrashes::make(TLMCrashesEnvironment environment) {
  std::shared_ptr<TLMCrashes> service(new TLMCrashes(std::move(environment)));
  service->bufferSlots_->setUp();
  return service;
}

TLMCrashes::~TLMCrashes() = default;

std::shared_ptr<TLMCrashes> TLMCrashes::sharedInstance() {
  return sharedSlot().getOrMake([] {
    SharedEnvironment& shared = sharedEnvironment();
    TLMCrashesEnvironment environment;
    {
      std::lock_guard lock(shared.mutex);
      environment = shared.environment;
    }
    return make(std::move(environment));
  });
}

void TLMCrashes::stopProcessQueues() {
  // The buffer queue last: the others may still hand it work, which it then
  // runs before it ends.
  for (const auto& queue : {processProcessingQueue(), processMainQueue(), processBufferQueue()})
    stopQueue(queue);
}

void TLMCrashes::configureShared(TLMCrashesEnvironment environment) {
  {
    SharedEnvironment& shared = sharedEnvironment();
    std::lock_guard lock(shared.mutex);
    shared.environment = std::move(environment);
  }
  sharedSlot().exchange(nullptr);
}

void TLMCrashes::resetSharedInstance() {
  sharedSlot().exchange(nullptr);
  TLMCrashReportProcessing::allowProcessingAgain();
}

void TLMCrashes::setSharedForTesting(std::shared_ptr<TLMCrashes> service) {
  if (!service) {
    SharedEnvironment& shared = sharedEnvironment();
    std::lock_guard lock(shared.mutex);
    shared.environment = {};
  }
  sharedSlot().exchange(std::move(service));
}

TLMServiceClass TLMCrashes::serviceClass() {
  return TLMServiceClass::of<TLMCrashes>(std::string(kClassName));
}

std::optional<TLMChannelUnitConfiguration> TLMCrashes::channelUnitConfiguration() const {
  return TLMChannelUnitConfiguration(std::string(kServiceName), 2, 1, 1, 3);
}

// ---- class operations

void TLMCrashes::generateTestCrash() {
  const auto service = sharedInstance();
  std::lock_guard lock(service->monitor());
  if (!service->canBeUsed()) return;
  if (TLMUtility::currentAppEnvironment() == 0) {
    TLM_LOG_WARNING(kTLMCrashesLogTag,
                    "GenerateTestCrash was just called in an App Store environment. The call will "
                    "be ignored.");
    return;
  }
  if (service->isDebuggerAttached()) {
    TLM_LOG_WARNING(kTLMCrashesLogTag,
                    "The debugger is attached. The following crash cannot be detected by the SDK!");
  }
  __builtin_trap();
}

bool TLMCrashes::hasCrashedInLastSession() {
  return sharedInstance()->didCrashInLastSession();
}

bool TLMCrashes::hasReceivedMemoryWarningInLastSession() {
  return sharedInstance()->didReceiveMemoryWarningInLastSession();
}

std::shared_ptr<TLMErrorReport> TLMCrashes::lastSessionCrashReport() {
  return sharedInstance()->getLastSessionCrashReport();
}

void TLMCrashes::disableMachExceptionHandler() {
  sharedInstance()->setEnableMachExceptionHandler(false);
}

void TLMCrashes::applicationDidReportException(const std::exception& exception) {
  const auto service = sharedInstance();
  if (service->isDebuggerAttached()) return;
  const platform::UncaughtExceptionHandler handler = service->exceptionHandler();
  if (!handler) return;
  std::vector<std::uint64_t> frames;
  // The stack of the exception's throw, when it was the thread's last one.
  if (const TLMCXXThrowRecord* record =
          TLMCrashesUncaughtCXXExceptionHandlerManager::currentThrowRecord();
      record && record->exception == static_cast<const void*>(&exception) &&
      record->frameCount > 1) {
    frames.assign(record->frames + 1, record->frames + record->frameCount);
  }
  handler({demangledTypeName(typeid(exception).name()), exception.what(), std::move(frames)});
}

void TLMCrashes::uncaughtCXXExceptionHandler(const TLMCXXExceptionInfoRecord* info) {
  const TLMCrashesCXXExceptionWrapperException wrapper(info);
  if (const auto handler = platform::getUncaughtExceptionHandler())
    handler(wrapper.toUncaughtException());
  std::abort();
}

// ---- start, enabling, configuration

void TLMCrashes::startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                                       std::optional<std::string> appSecret,
                                       std::optional<std::string> transmissionTargetToken,
                                       bool fromApplication) {
  std::lock_guard lock(monitor());
  TLMServiceAbstract::startWithChannelGroup(channelGroup, std::move(appSecret),
                                            std::move(transmissionTargetToken), fromApplication);
  if (channelGroup) channelGroup->addDelegate(shared_from_this());
  bufferSlots_->replayAfterCrash();
  if (isEnabled()) memoryWarnings_->takeLastSession();
  TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Started crash service.");
}

void TLMCrashes::updateConfigurationWithAppSecret(
    std::optional<std::string> appSecret, std::optional<std::string> transmissionTargetToken) {
  std::lock_guard lock(monitor());
  bufferSlots_->replayAfterCrash();
  TLMServiceAbstract::updateConfigurationWithAppSecret(std::move(appSecret),
                                                       std::move(transmissionTargetToken));
}

void TLMCrashes::applyEnabledState(bool isEnabled) {
  std::lock_guard lock(monitor());
  TLMServiceAbstract::applyEnabledState(isEnabled);
  if (isEnabled) {
    const auto setupDelegate = TLMWrapperCrashesHelper::getCrashHandlerSetupDelegate();
    bool enableUncaughtExceptionHandler = true;
    if (setupDelegate && setupDelegate->shouldEnableUncaughtExceptionHandler)
      enableUncaughtExceptionHandler = setupDelegate->shouldEnableUncaughtExceptionHandler();
    if (setupDelegate && setupDelegate->willSetUpCrashHandlers)
      setupDelegate->willSetUpCrashHandlers();
    reporterSetup_->configure(
        enableUncaughtExceptionHandler, [this] { return isDebuggerAttached(); },
        &TLMCrashes::uncaughtCXXExceptionHandler);
    if (setupDelegate && setupDelegate->didSetUpCrashHandlers)
      setupDelegate->didSetUpCrashHandlers();

    const auto source = environment_.memoryPressure ? environment_.memoryPressure
                                                    : TLMManualMemoryPressureSource::shared();
    memoryWarnings_->watch(*source, [weak = weak_from_this()] {
      if (const auto service = weak.lock()) service->memoryWarnings_->record();
    });

    // Switched on now (the new state is stored after this): a crash of the
    // time it was off is not reported.
    if (const auto reporter = reporterSetup_->reporter();
        reporter && !TLMServiceAbstract::isEnabled())
      static_cast<void>(reporter->purgePendingCrashReport());
    processing_->handleStoredReports();
    if (isDebuggerAttached()) {
      TLM_LOG_INFO(kTLMCrashesLogTag,
                   "Crashes service has been enabled but the service cannot detect crashes due "
                   "to running the application with a debugger attached.");
    } else {
      TLM_LOG_INFO(kTLMCrashesLogTag, "Crashes service has been enabled.");
    }
    return;
  }

  memoryWarnings_->stopWatching();
  TLM_LOG_DEBUG(kTLMCrashesLogTag, "Cleaning up all crash files.");
  TLMWrapperExceptionManager::deleteAllWrapperExceptions();
  processing_->discardAll();
  bufferSlots_->emptyFiles();
  clearContextHistoryAndKeepCurrentSession();
  memoryWarnings_->forget();
  TLM_LOG_INFO(kTLMCrashesLogTag, "Crashes service has been disabled.");
}

void TLMCrashes::clearContextHistoryAndKeepCurrentSession() {
  deviceTracker()->clearDevices();
  sessionContext()->clearSessionHistoryAndKeepCurrentSession(true);
  userIdContext()->clearUserIdHistory();
}

// ---- accessors

bool TLMCrashes::didCrashInLastSession() const {
  std::lock_guard lock(monitor());
  return didCrashInLastSession_;
}

bool TLMCrashes::didReceiveMemoryWarningInLastSession() const {
  return memoryWarnings_->receivedInLastSession();
}

std::shared_ptr<TLMErrorReport> TLMCrashes::getLastSessionCrashReport() const {
  return processing_->lastSessionCrashReport();
}

bool TLMCrashes::isMachExceptionHandlerEnabled() const {
  return reporterSetup_->isMachExceptionHandlerEnabled();
}

void TLMCrashes::setEnableMachExceptionHandler(bool enabled) {
  reporterSetup_->setEnableMachExceptionHandler(enabled);
}

bool TLMCrashes::isAutomaticProcessingEnabled() const {
  return processing_->isAutomaticProcessingEnabled();
}

void TLMCrashes::setAutomaticProcessingEnabled(bool enabled) {
  processing_->setAutomaticProcessingEnabled(enabled);
}

void TLMCrashes::setDelegate(std::optional<TLMCrashesDelegate> delegate) {
  processing_->setDelegate(std::move(delegate));
}

TLMUserConfirmationHandler TLMCrashes::userConfirmationHandler() const {
  return userConfirmation_->handler();
}

void TLMCrashes::setUserConfirmationHandler(TLMUserConfirmationHandler handler) {
  userConfirmation_->setHandler(std::move(handler));
}

std::shared_ptr<ICrashReporter> TLMCrashes::crashReporter() const {
  return reporterSetup_->reporter();
}

platform::UncaughtExceptionHandler TLMCrashes::exceptionHandler() const {
  return reporterSetup_->exceptionHandler();
}

std::shared_ptr<TLMChannelUnitProtocol> TLMCrashes::bufferChannelUnit() const {
  return bufferSlots_->channelUnit();
}

std::shared_ptr<TLMSessionContext> TLMCrashes::sessionContext() const {
  return environment_.sessionContext ? environment_.sessionContext
                                     : TLMSessionContext::sharedInstance();
}

std::shared_ptr<TLMUserIdContext> TLMCrashes::userIdContext() const {
  return environment_.userIdContext ? environment_.userIdContext
                                    : TLMUserIdContext::sharedInstance();
}

std::shared_ptr<TLMDeviceTracker> TLMCrashes::deviceTracker() const {
  return environment_.deviceTracker ? environment_.deviceTracker
                                    : TLMDeviceTracker::sharedInstance();
}

const TLMErrorLogSources& TLMCrashes::formatterSources() const {
  return formatterSources_;
}

bool TLMCrashes::isDebuggerAttached() const {
  return environment_.isDebuggerAttached ? environment_.isDebuggerAttached()
                                         : TLMDarAveved::isDebuggerAttached();
}

// ---- handled errors

std::optional<std::string> TLMCrashes::trackModelException(
    std::shared_ptr<TLMException> exception,
    const std::optional<std::map<std::string, std::string>>& properties,
    const TLMErrorAttachments& attachments) {
  std::lock_guard lock(monitor());
  if (!canBeUsed() || !isEnabled()) return std::nullopt;
  auto log = std::make_shared<TLMHandledErrorLog>();
  log->userId = userIdContext()->userId();
  log->errorId = base::makeUuidString();
  log->exception = std::move(exception);
  if (properties && !properties->empty()) {
    log->properties = validateProperties(*properties, "ErrorLog: " + *log->errorId, *log->type);
  }
  if (const auto unit = channelUnit()) unit->enqueueItem(log, kFlagsNormal);
  if (!attachments.empty()) processing_->sendErrorAttachments(attachments, *log->errorId);
  return log->errorId;
}

std::shared_ptr<TLMErrorReport> TLMCrashes::buildHandledErrorReportWithErrorID(
    const std::string& errorId) {
  return std::make_shared<TLMErrorReport>(errorId, std::string(), std::nullopt, std::nullopt,
                                          std::nullopt, appStartTime_, clock_.now(),
                                          deviceTracker()->device(), 0);
}

// ---- stored reports

std::vector<fs::path> TLMCrashes::persistedCrashReports() const {
  return processing_->persistedCrashReports();
}

std::vector<fs::path> TLMCrashes::crashFiles() const {
  return processing_->crashFiles();
}

bool TLMCrashes::shouldAlwaysSend() const {
  return userConfirmation_->alwaysSend();
}

void TLMCrashes::notifyWithUserConfirmation(TLMUserConfirmation confirmation) {
  processing_->notifyWithUserConfirmation(confirmation);
}

void TLMCrashes::sendErrorAttachments(const TLMErrorAttachments& attachments,
                                      const std::string& incidentIdentifier) {
  processing_->sendErrorAttachments(attachments, incidentIdentifier);
}

std::vector<std::shared_ptr<TLMErrorReport>> TLMCrashes::unprocessedCrashReports() {
  return processing_->unprocessedCrashReports();
}

bool TLMCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& incidentIdentifiers) {
  return processing_->sendCrashReportsOrAwaitUserConfirmationForFilteredIds(incidentIdentifiers);
}

// ---- channel callbacks

void TLMCrashes::didPrepareLog(TLMChannelProtocol&, const TLMLogPtr& log,
                               const std::string& internalId, std::uint64_t) {
  bufferSlots_->store(log, internalId);
}

void TLMCrashes::didCompleteEnqueueingLog(TLMChannelProtocol&, const TLMLogPtr& log,
                                          const std::string& internalId) {
  bufferSlots_->remove(log, internalId);
}

void TLMCrashes::willSendLog(TLMChannelProtocol&, const TLMLogPtr& log) {
  processing_->willSend(log);
}

void TLMCrashes::didSucceedSendingLog(TLMChannelProtocol&, const TLMLogPtr& log) {
  processing_->didSucceedSending(log);
}

void TLMCrashes::didFailSendingLog(TLMChannelProtocol&, const TLMLogPtr& log,
                                   const std::optional<base::Error>& error) {
  processing_->didFailSending(log, error);
}

}  // namespace tlm

#include "telemetry/crashes/crashes.h"

#include <mutex>
#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/util/utility.h"

namespace tlm {

TLMCrashes::TLMCrashes(TLMCrashesEnvironment environment)
    : TLMServiceAbstract(environment.settings), dependencies_(std::move(environment)) {
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
  reporterSetup_ = std::make_unique<TLMCrashReporterSetup>(
      monitor(), dependencies_.environment().makeCrashReporter);
  exceptionRouting_ = std::make_unique<TLMCrashesExceptionRouting>(*reporterSetup_, dependencies_);
  pendingReport_ =
      std::make_unique<TLMPendingCrashReport>(monitor(), *reporterSetup_, dependencies_);
  memoryWarnings_ = std::make_unique<TLMCrashesMemoryWarnings>(monitor(), settings());
  bufferSlots_ = std::make_unique<TLMCrashesBufferSlots>(
      *this, dependencies_.targetTokenEncrypter(), dependencies_.bufferFileQueue(),
      dependencies_.clock());
  callbacks_ = std::make_unique<TLMCrashesCallbacks>(*this, *bufferSlots_, dependencies_);
  userConfirmation_ = std::make_unique<TLMCrashesUserConfirmation>(
      monitor(), settings(), dependencies_.mainQueue(), dependencies_.environment().isMainThread);
  processing_ = std::make_unique<TLMCrashReportProcessing>(
      *this, dependencies_, *reporterSetup_, *userConfirmation_, *callbacks_, *pendingReport_);
  handledErrors_ = std::make_unique<TLMHandledErrors>(*this, *processing_, dependencies_);
  // Asking for the names makes the folders.
  TLMCrashesUtil::crashesDir();
  TLMCrashesUtil::logBufferDir();
}

std::shared_ptr<TLMCrashes> TLMCrashes::make(TLMCrashesEnvironment environment) {
  std::shared_ptr<TLMCrashes> service(new TLMCrashes(std::move(environment)));
  service->bufferSlots_->setUp();
  return service;
}

std::shared_ptr<TLMCrashes> TLMCrashes::sharedInstance() {
  return TLMCrashesShared::instance();
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
  if (service->dependencies_.isDebuggerAttached()) {
    TLM_LOG_WARNING(kTLMCrashesLogTag,
                    "The debugger is attached. The following crash cannot be detected by the SDK!");
  }
  __builtin_trap();
}

bool TLMCrashes::hasCrashedInLastSession() {
  return sharedInstance()->pendingReport_->didCrashInLastSession();
}

bool TLMCrashes::hasReceivedMemoryWarningInLastSession() {
  return sharedInstance()->memoryWarnings_->receivedInLastSession();
}

std::shared_ptr<TLMErrorReport> TLMCrashes::lastSessionCrashReport() {
  return sharedInstance()->pendingReport_->lastSessionCrashReport();
}

void TLMCrashes::disableMachExceptionHandler() {
  sharedInstance()->reporterSetup_->setEnableMachExceptionHandler(false);
}

void TLMCrashes::applicationDidReportException(const std::exception& exception) {
  sharedInstance()->exceptionRouting_->applicationDidReportException(exception);
}

// ---- start, enabling, configuration

void TLMCrashes::startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                                       std::optional<std::string> appSecret,
                                       std::optional<std::string> transmissionTargetToken,
                                       bool fromApplication) {
  std::lock_guard lock(monitor());
  TLMServiceAbstract::startWithChannelGroup(channelGroup, std::move(appSecret),
                                            std::move(transmissionTargetToken), fromApplication);
  // Shares the service's ownership: the group holds it weakly, as it would
  // the service.
  if (channelGroup)
    channelGroup->addDelegate(
        std::shared_ptr<TLMChannelDelegate>(shared_from_this(), callbacks_.get()));
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
    exceptionRouting_->armHandlers();
    memoryWarnings_->watch(*dependencies_.memoryPressure(), [weak = weak_from_this()] {
      if (const auto service = weak.lock()) service->memoryWarnings_->record();
    });

    // Switched on now (the new state is stored after this): a crash of the
    // time it was off is not reported.
    if (!TLMServiceAbstract::isEnabled()) pendingReport_->purge();
    processing_->handleStoredReports();
    if (dependencies_.isDebuggerAttached()) {
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
  dependencies_.clearContextHistoryAndKeepCurrentSession();
  memoryWarnings_->forget();
  TLM_LOG_INFO(kTLMCrashesLogTag, "Crashes service has been disabled.");
}

}  // namespace tlm

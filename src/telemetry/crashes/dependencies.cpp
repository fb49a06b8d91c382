#include "telemetry/crashes/dependencies.h"

#include <utility>

#include "telemetry/crashes/shared_service.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {

TLMCrashesDependencies::TLMCrashesDependencies(TLMCrashesEnvironment environment)
    : environment_(std::move(environment)),
      clock_(environment_.clock ? *environment_.clock : dispatch::SystemClock::instance()),
      appStartTime_(clock_.now()),
      bufferFileQueue_(environment_.bufferFileQueue ? environment_.bufferFileQueue
                                                    : TLMCrashesShared::processBufferQueue()),
      processingQueue_(environment_.processingQueue ? environment_.processingQueue
                                                    : TLMCrashesShared::processProcessingQueue()),
      mainQueue_(environment_.mainQueue ? environment_.mainQueue
                                        : TLMCrashesShared::processMainQueue()) {
  if (environment_.formatterSources) {
    formatterSources_ = *environment_.formatterSources;
    return;
  }
  formatterSources_ = TLMErrorLogSources::shared();
  if (const auto tracker = environment_.deviceTracker) {
    formatterSources_.deviceForTimestamp = [tracker](std::optional<Date> timestamp) {
      return tracker->deviceForTimestamp(timestamp);
    };
  }
  formatterSources_.wrapperException = [](const std::string& uuid) {
    return TLMWrapperExceptionManager::loadWrapperExceptionWithUUIDString(uuid);
  };
}

std::shared_ptr<TLMEncrypter> TLMCrashesDependencies::targetTokenEncrypter() const {
  return environment_.targetTokenEncrypter ? environment_.targetTokenEncrypter
                                           : TLMEncrypter::makeDefault();
}

std::shared_ptr<TLMMemoryPressureSource> TLMCrashesDependencies::memoryPressure() const {
  return environment_.memoryPressure ? environment_.memoryPressure
                                     : TLMManualMemoryPressureSource::shared();
}

std::shared_ptr<TLMSessionContext> TLMCrashesDependencies::sessionContext() const {
  return environment_.sessionContext ? environment_.sessionContext
                                     : TLMSessionContext::sharedInstance();
}

std::shared_ptr<TLMUserIdContext> TLMCrashesDependencies::userIdContext() const {
  return environment_.userIdContext ? environment_.userIdContext
                                    : TLMUserIdContext::sharedInstance();
}

std::shared_ptr<TLMDeviceTracker> TLMCrashesDependencies::deviceTracker() const {
  return environment_.deviceTracker ? environment_.deviceTracker
                                    : TLMDeviceTracker::sharedInstance();
}

bool TLMCrashesDependencies::isDebuggerAttached() const {
  return environment_.isDebuggerAttached ? environment_.isDebuggerAttached()
                                         : TLMDarAveved::isDebuggerAttached();
}

void TLMCrashesDependencies::clearContextHistoryAndKeepCurrentSession() const {
  deviceTracker()->clearDevices();
  sessionContext()->clearSessionHistoryAndKeepCurrentSession(true);
  userIdContext()->clearUserIdHistory();
}

}  // namespace tlm

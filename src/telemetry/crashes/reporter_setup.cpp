#include "telemetry/crashes/reporter_setup.h"

#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/crashes/application_forwarder.h"
#include "telemetry/crashes/crash_buffer.h"
#include "telemetry/crashes/error_log_formatter.h"

namespace tlm {

TLMCrashReporterSetup::TLMCrashReporterSetup(std::recursive_mutex& monitor,
                                             TLMCrashReporterFactory makeReporter)
    : monitor_(monitor), makeReporter_(std::move(makeReporter)) {}

bool TLMCrashReporterSetup::isMachExceptionHandlerEnabled() const {
  std::lock_guard lock(monitor_);
  return enableMachExceptionHandler_;
}

void TLMCrashReporterSetup::setEnableMachExceptionHandler(bool enabled) {
  std::lock_guard lock(monitor_);
  enableMachExceptionHandler_ = enabled;
}

std::shared_ptr<ICrashReporter> TLMCrashReporterSetup::reporter() const {
  std::lock_guard lock(monitor_);
  return reporter_;
}

platform::UncaughtExceptionHandler TLMCrashReporterSetup::exceptionHandler() const {
  std::lock_guard lock(monitor_);
  return exceptionHandler_;
}

void TLMCrashReporterSetup::configure(bool enableUncaughtExceptionHandler,
                                      const std::function<bool()>& isDebuggerAttached,
                                      TLMCXXExceptionHandler cxxHandler) {
  std::lock_guard lock(monitor_);
  if (configured_) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "Already configured TLCrashReporter.");
    return;
  }
  configured_ = true;
  if (enableUncaughtExceptionHandler) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "EnableUncaughtExceptionHandler is set to YES");
  } else {
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "EnableUncaughtExceptionHandler is set to NO, we're running in a Xamarin "
                  "runtime.");
  }
  TLMCrashReporterConfig config;
  config.signalHandlerType = 0;
  if (enableMachExceptionHandler_) {
    config.signalHandlerType = 1;
    TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Enabled Mach exception handler.");
  }
  config.symbolicationStrategy = 0;
  config.shouldRegisterUncaughtExceptionHandler = enableUncaughtExceptionHandler;
  if (makeReporter_) reporter_ = makeReporter_(config);

  if (isDebuggerAttached()) {
    TLM_LOG_WARNING(kTLMCrashesLogTag,
                    "Detecting crashes is NOT enabled due to running the app with a debugger "
                    "attached.");
    return;
  }

  const platform::UncaughtExceptionHandler previous = platform::getUncaughtExceptionHandler();
  if (reporter_) {
    reporter_->setCrashCallbacks({0, nullptr, &TLMCrashesBuffer::writeAtCrash});
    if (const base::Status enabled = reporter_->enableCrashReporter(); !enabled) {
      TLM_LOG_ERROR(kTLMCrashesLogTag,
                    "Could not enable crash reporter: ", enabled.error().description);
    }
  } else {
    TLM_LOG_ERROR(kTLMCrashesLogTag,
                  "Could not enable crash reporter: There is no crash reporter in this process.");
  }

  const platform::UncaughtExceptionHandler current = platform::getUncaughtExceptionHandler();
  if (current && current != previous) {
    exceptionHandler_ = current;
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "Exception handler successfully initialized.");
  } else if (enableUncaughtExceptionHandler || !current) {
    TLM_LOG_ERROR(kTLMCrashesLogTag,
                  "Exception handler could not be set. Make sure there is no other exception "
                  "handler set up!");
  } else {
    exceptionHandler_ = current;
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "Exception handler successfully initialized but it has not been registered due "
                  "to the wrapper SDK.");
  }
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(cxxHandler);
  TLMApplicationForwarder::registerForwarding();
}

}  // namespace tlm

#include "telemetry/crashes/exception_routing.h"

#include <cstdint>
#include <cstdlib>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/exceptions/uncaught_exception.h"
#include "telemetry/crashes/wrapper_crashes_helper.h"

namespace tlm {

TLMCrashesExceptionRouting::TLMCrashesExceptionRouting(TLMCrashReporterSetup& reporterSetup,
                                                       const TLMCrashesDependencies& dependencies)
    : reporterSetup_(reporterSetup), dependencies_(dependencies) {}

void TLMCrashesExceptionRouting::armHandlers() {
  const auto setupDelegate = TLMWrapperCrashesHelper::getCrashHandlerSetupDelegate();
  bool enableUncaughtExceptionHandler = true;
  if (setupDelegate && setupDelegate->shouldEnableUncaughtExceptionHandler)
    enableUncaughtExceptionHandler = setupDelegate->shouldEnableUncaughtExceptionHandler();
  if (setupDelegate && setupDelegate->willSetUpCrashHandlers)
    setupDelegate->willSetUpCrashHandlers();
  reporterSetup_.configure(
      enableUncaughtExceptionHandler, [this] { return dependencies_.isDebuggerAttached(); },
      &TLMCrashesExceptionRouting::uncaughtCXXExceptionHandler);
  if (setupDelegate && setupDelegate->didSetUpCrashHandlers) setupDelegate->didSetUpCrashHandlers();
}

void TLMCrashesExceptionRouting::applicationDidReportException(
    const std::exception& exception) const {
  if (dependencies_.isDebuggerAttached()) return;
  const platform::UncaughtExceptionHandler handler = reporterSetup_.exceptionHandler();
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

void TLMCrashesExceptionRouting::uncaughtCXXExceptionHandler(
    const TLMCXXExceptionInfoRecord* info) {
  const TLMCrashesCXXExceptionWrapperException wrapper(info);
  if (const auto handler = platform::getUncaughtExceptionHandler())
    handler(wrapper.toUncaughtException());
  std::abort();
}

}  // namespace tlm

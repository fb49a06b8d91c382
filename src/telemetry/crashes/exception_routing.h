#pragma once

#include <exception>

#include "telemetry/crashes/cxx_exception_capture.h"
#include "telemetry/crashes/dependencies.h"
#include "telemetry/crashes/reporter_setup.h"

namespace tlm {

// The crash service's routes for exceptions besides the fatal signals: the
// reporter is armed around the wrapper SDK's crash-handler set-up delegate,
// and exceptions the application reports and uncaught C++ exceptions go to
// the uncaught-exception handler the reporter installed.
class TLMCrashesExceptionRouting {
 public:
  // `reporterSetup` and `dependencies` are the owning service's and outlive
  // this part.
  TLMCrashesExceptionRouting(TLMCrashReporterSetup& reporterSetup,
                             const TLMCrashesDependencies& dependencies);

  // At enabling: asks the wrapper's set-up delegate whether to install the
  // uncaught-exception handler, tells it before and after, and configures the
  // reporter with this part's C++ exception handler.
  void armHandlers();
  // Unless a debugger is attached, hands the exception to the reporter's
  // uncaught-exception handler kept at configuration.
  void applicationDidReportException(const std::exception& exception) const;
  // The service's uncaught C++ exception handler: the exception goes to the
  // current uncaught-exception handler (the reporter's), then the process
  // aborts.
  static void uncaughtCXXExceptionHandler(const TLMCXXExceptionInfoRecord* info);

 private:
  TLMCrashReporterSetup& reporterSetup_;
  const TLMCrashesDependencies& dependencies_;
};

}  // namespace tlm

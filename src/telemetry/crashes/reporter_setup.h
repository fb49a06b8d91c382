#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/exceptions/uncaught_exception.h"
#include "telemetry/crashes/crash_reporter_interface.h"
#include "telemetry/crashes/cxx_exception_capture.h"

namespace tlm {

// The crash service's arming of the crash reporter: makes it once, hooks the
// crash-time buffer into its callback, enables it, and keeps the
// uncaught-exception handler it installed; then C++ exception capture and the
// application's exception forwarding. Its state is guarded by the owning
// service's monitor.
class TLMCrashReporterSetup {
 public:
  // `monitor` is the owning service's and outlives this part. `makeReporter`
  // empty: there is no reporter, and crashes are not detected.
  TLMCrashReporterSetup(std::recursive_mutex& monitor, TLMCrashReporterFactory makeReporter);

  bool isMachExceptionHandlerEnabled() const;
  void setEnableMachExceptionHandler(bool enabled);
  std::shared_ptr<ICrashReporter> reporter() const;
  platform::UncaughtExceptionHandler exceptionHandler() const;

  // Once per part. With a debugger attached the reporter is made but nothing
  // is enabled; otherwise `cxxHandler` gets the uncaught C++ exceptions.
  void configure(bool enableUncaughtExceptionHandler,
                 const std::function<bool()>& isDebuggerAttached,
                 TLMCXXExceptionHandler cxxHandler);

 private:
  std::recursive_mutex& monitor_;
  const TLMCrashReporterFactory makeReporter_;
  // Guarded by the monitor.
  bool enableMachExceptionHandler_ = true;
  bool configured_ = false;
  std::shared_ptr<ICrashReporter> reporter_;
  platform::UncaughtExceptionHandler exceptionHandler_ = nullptr;
};

}  // namespace tlm

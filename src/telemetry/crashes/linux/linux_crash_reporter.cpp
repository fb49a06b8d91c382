#include "telemetry/crashes/linux/linux_crash_reporter.h"

#include <utility>

#include "crashcapture/capture/reporter_setup/linux/linux_crash_platform.h"
#include "crashcapture/capture/reporter_setup/terminate_bridge.h"
#include "platform/bundle/app_identity.h"
#include "platform/exceptions/uncaught_exception.h"

namespace tlm {
namespace {

tlcrash::TLCrashReporterConfig reporterConfig(const TLMCrashReporterConfig& config) {
  return tlcrash::TLCrashReporterConfig(config.signalHandlerType, config.symbolicationStrategy,
                                        config.shouldRegisterUncaughtExceptionHandler);
}

base::Error serviceError(const tlcrash::ReporterError& error) {
  return error.error;
}

// The process's uncaught-exception handler while the reporter's is armed:
// hands the exception to it (it records the exception and aborts).
void forwardUncaughtException(const platform::UncaughtException& exception) {
  const tlcrash::TLCrashUncaughtExceptionHandler handler =
      tlcrash::tlcrash_uncaught_exception_handler();
  if (handler == nullptr) return;
  handler({exception.name, exception.reason, exception.callStackReturnAddresses});
}

}  // namespace

TLMLinuxCrashReporter::TLMLinuxCrashReporter(const TLMCrashReporterConfig& config)
    : reporter_(tlcrash::linuxCrashPlatform(), platform::AppIdentity::current(),
                reporterConfig(config)) {}

TLMCrashReporterFactory TLMLinuxCrashReporter::factory() {
  return [](const TLMCrashReporterConfig& config) -> std::shared_ptr<ICrashReporter> {
    return std::make_shared<TLMLinuxCrashReporter>(config);
  };
}

void TLMLinuxCrashReporter::setCrashCallbacks(const TLMCrashCallbacks& callbacks) {
  reporter_.setCrashCallbacks({callbacks.version, callbacks.context, callbacks.handleSignal});
}

base::Status TLMLinuxCrashReporter::enableCrashReporter() {
  tlcrash::ReporterError error;
  if (!reporter_.enableCrashReporter(&error)) return serviceError(error);
  if (reporter_.config().shouldRegisterUncaughtExceptionHandler())
    platform::setUncaughtExceptionHandler(&forwardUncaughtException);
  return {};
}

bool TLMLinuxCrashReporter::hasPendingCrashReport() const {
  return reporter_.hasPendingCrashReport();
}

base::Result<base::Bytes> TLMLinuxCrashReporter::loadPendingCrashReportData() const {
  tlcrash::ReporterError error;
  auto data = reporter_.loadPendingCrashReportData(&error);
  if (!data) return serviceError(error);
  return std::move(*data);
}

base::Status TLMLinuxCrashReporter::purgePendingCrashReport() {
  tlcrash::ReporterError error;
  if (!reporter_.purgePendingCrashReport(&error)) return serviceError(error);
  return {};
}

}  // namespace tlm

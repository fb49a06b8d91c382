#include "telemetry/crashes/fake/fake_crash_reporter.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/exceptions/uncaught_exception.h"

namespace tlm {
namespace {
constexpr std::string_view kDomain = "TLCrashReporterErrorDomain";
}  // namespace

FakeCrashReporter::FakeCrashReporter(TLMCrashReporterConfig config) : config_(config) {}

void FakeCrashReporter::setCrashCallbacks(const TLMCrashCallbacks& callbacks) {
  std::lock_guard lock(mutex_);
  callbacks_ = callbacks;
}

base::Status FakeCrashReporter::enableCrashReporter() {
  std::lock_guard lock(mutex_);
  if (enableError_) return base::Error(std::string(kDomain), 1, *enableError_);
  if (enabled_) {
    return base::Error(std::string(kDomain), 3,
                       "A TLCrashReporter instance has already been enabled");
  }
  enabled_ = true;
  if (config_.shouldRegisterUncaughtExceptionHandler)
    platform::setUncaughtExceptionHandler(&FakeCrashReporter::uncaughtExceptionHandler);
  return {};
}

bool FakeCrashReporter::hasPendingCrashReport() const {
  std::lock_guard lock(mutex_);
  return pending_.has_value();
}

base::Result<base::Bytes> FakeCrashReporter::loadPendingCrashReportData() const {
  std::lock_guard lock(mutex_);
  if (failLoading_ || !pending_) {
    return base::Error(std::string(kDomain), 1,
                       "The file \u201Clive_report.tlcrash\u201D couldn\u2019t be opened.");
  }
  return *pending_;
}

base::Status FakeCrashReporter::purgePendingCrashReport() {
  std::lock_guard lock(mutex_);
  ++purgeCount_;
  pending_.reset();
  return {};
}

bool FakeCrashReporter::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

TLMCrashCallbacks FakeCrashReporter::callbacks() const {
  std::lock_guard lock(mutex_);
  return callbacks_;
}

void FakeCrashReporter::setPendingReport(std::optional<base::Bytes> report) {
  std::lock_guard lock(mutex_);
  pending_ = std::move(report);
}

void FakeCrashReporter::failEnablingWith(std::string description) {
  std::lock_guard lock(mutex_);
  enableError_ = std::move(description);
}

void FakeCrashReporter::failLoading() {
  std::lock_guard lock(mutex_);
  failLoading_ = true;
}

int FakeCrashReporter::purgeCount() const {
  std::lock_guard lock(mutex_);
  return purgeCount_;
}

void FakeCrashReporter::simulateCrash() const {
  const TLMCrashCallbacks callbacks = this->callbacks();
  if (callbacks.handleSignal) callbacks.handleSignal(nullptr, nullptr, callbacks.context);
}

void FakeCrashReporter::uncaughtExceptionHandler(const platform::UncaughtException& exception) {
  std::fprintf(stderr, "uncaught exception: %s: %s (%zu frames)\n", exception.name.c_str(),
               exception.reason.c_str(), exception.callStackReturnAddresses.size());
  std::fflush(stderr);
  std::abort();
}

}  // namespace tlm

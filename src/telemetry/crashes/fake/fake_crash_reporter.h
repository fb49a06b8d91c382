#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/exceptions/uncaught_exception.h"
#include "telemetry/crashes/crash_reporter_interface.h"

namespace tlm {

// A crash reporter in memory. Its pending report is whatever the test puts
// there; `simulateCrash` runs the crash callback as the real reporter does
// after writing a report. Its uncaught-exception handler writes
// "uncaught exception: <name>: <reason> (<n> frames)" to standard error and
// aborts, as the real one ends the process. Thread-safe.
class FakeCrashReporter final : public ICrashReporter {
 public:
  explicit FakeCrashReporter(TLMCrashReporterConfig config = {});

  void setCrashCallbacks(const TLMCrashCallbacks& callbacks) override;
  base::Status enableCrashReporter() override;
  bool hasPendingCrashReport() const override;
  base::Result<base::Bytes> loadPendingCrashReportData() const override;
  base::Status purgePendingCrashReport() override;

  const TLMCrashReporterConfig& config() const { return config_; }
  bool isEnabled() const;
  TLMCrashCallbacks callbacks() const;
  void setPendingReport(std::optional<base::Bytes> report);
  // Enabling fails with this description.
  void failEnablingWith(std::string description);
  // Loading the pending report fails.
  void failLoading();
  int purgeCount() const;
  // Calls the crash callback (no signal information, as after a write).
  void simulateCrash() const;

  // The handler enabling installs.
  static void uncaughtExceptionHandler(const platform::UncaughtException& exception);

 private:
  const TLMCrashReporterConfig config_;
  mutable std::mutex mutex_;
  TLMCrashCallbacks callbacks_;
  bool enabled_ = false;
  std::optional<std::string> enableError_;
  bool failLoading_ = false;
  std::optional<base::Bytes> pending_;
  int purgeCount_ = 0;
};

}  // namespace tlm

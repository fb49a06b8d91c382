#pragma once

// The crash service's reporter in the program: the in-process crash reporter
// of the crash capture library behind the service's interface. Made for the
// installed program identity; its reports live in
// $XDG_CACHE_HOME/com.zodoradud.crashreporter.data/<bundle id>/.

#include <memory>

#include "crashcapture/capture/reporter_setup/tlcrash_reporter.h"
#include "telemetry/crashes/crash_reporter_interface.h"

namespace tlm {

// Both handler types arm the six fatal signals (Linux has no Mach
// exceptions). The crash callback runs only once a report was written. When
// the configuration asks, enabling also installs the reporter's
// uncaught-exception handler as the process's (platform/exceptions), where
// the service finds it.
class TLMLinuxCrashReporter final : public ICrashReporter {
 public:
  explicit TLMLinuxCrashReporter(const TLMCrashReporterConfig& config);

  // The factory the program gives the crash service.
  static TLMCrashReporterFactory factory();

  void setCrashCallbacks(const TLMCrashCallbacks& callbacks) override;
  base::Status enableCrashReporter() override;
  bool hasPendingCrashReport() const override;
  base::Result<base::Bytes> loadPendingCrashReportData() const override;
  base::Status purgePendingCrashReport() override;

  const tlcrash::TLCrashReporter& reporter() const { return reporter_; }

 private:
  tlcrash::TLCrashReporter reporter_;
};

}  // namespace tlm

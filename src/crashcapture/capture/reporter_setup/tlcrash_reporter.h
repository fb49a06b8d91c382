#pragma once

// The in-process crash reporter. Enabling it arms, once per process, the
// fatal-signal handlers, prepares the report writer with everything that
// cannot be gathered at crash time, and optionally installs the
// uncaught-exception handler. A crash then writes "live_report.tlcrash" into
// the reporter's data folder
// ($XDG_CACHE_HOME/com.zodoradud.crashreporter.data/<identifier>/); the next
// run finds, loads and purges it. A live report of the running process can be
// written on demand.
//
// Programming errors (enabling one reporter twice, setting callbacks after
// enabling, no identifier, a callbacks version other than 0) end the process
// with a message.

#include <signal.h>
#include <sys/ucontext.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "crashcapture/capture/reporter/crash_callback.h"
#include "crashcapture/capture/reporter_setup/crash_platform.h"
#include "crashcapture/capture/reporter_setup/crash_reporter_config.h"
#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/reporter_error.h"
#include "platform/bundle/app_identity.h"

namespace tlcrash {

struct TLCrashReporterCallbacks {
  std::uint16_t version = 0;  // must be 0
  void* context = nullptr;
  TLCrashReporterPostCrashSignalCallback handleSignal = nullptr;
};

class TLCrashReporter {
 public:
  // A reporter for the application `bundle` describes: its identifier (the
  // program's name when it has none, logging "[TLCrashReporter] Warning --
  // bundle identifier, using process name %s"), its version (empty when it
  // has none, logging "[TLCrashReporter] Warning -- bundle version
  // unavailable") and its short version. `crashPlatform` (the process-wide
  // one of linux/linux_crash_platform.h in the program) must outlive it.
  TLCrashReporter(TLCrashPlatform& crashPlatform, const platform::AppIdentity& bundle,
                  TLCrashReporterConfig config);

  TLCrashReporter(TLCrashPlatform& crashPlatform, std::string applicationIdentifier,
                  std::string appVersion, std::optional<std::string> appMarketingVersion,
                  TLCrashReporterConfig config);

  TLCrashReporter(const TLCrashReporter&) = delete;
  TLCrashReporter& operator=(const TLCrashReporter&) = delete;

  // Whether a report file exists at crashReportPath().
  bool hasPendingCrashReport() const;
  // The pending report's bytes; none with the file system's error.
  std::optional<std::vector<std::uint8_t>> loadPendingCrashReportData(ReporterError* error) const;
  // Removes the pending report; false with the file system's error.
  bool purgePendingCrashReport(ReporterError* error) const;

  // Arms the crash handlers. False with code 3 "A TLCrashReporter instance
  // has already been enabled" when a reporter of this process is enabled
  // already; with the file system's error when the data folder cannot be
  // made; with the signal handler's error when a handler cannot be
  // installed.
  bool enableCrashReporter(ReporterError* error);
  bool isEnabled() const { return enabled_; }

  // A report of the running process with the calling thread as the crashed
  // one (its registers at this call), or with `thread` as the crashed one
  // (read by stopping it); none with code 0 or 1 on failure.
  std::optional<std::vector<std::uint8_t>> generateLiveReport(ReporterError* error);
  std::optional<std::vector<std::uint8_t>> generateLiveReportWithThread(tlcrash_thread_t thread,
                                                                        ReporterError* error);

  // The callback run after a crash report is written. Before enabling only.
  void setCrashCallbacks(const TLCrashReporterCallbacks& callbacks);

  // Opaque bytes every report carries; reaches an enabled reporter at once.
  void setCustomData(std::optional<std::vector<std::uint8_t>> data);
  const std::optional<std::vector<std::uint8_t>>& customData() const { return customData_; }

  const std::filesystem::path& crashReportDirectory() const { return crashReportDirectory_; }
  std::filesystem::path queuedCrashReportDirectory() const;
  std::filesystem::path crashReportPath() const;

  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  const std::string& applicationVersion() const { return applicationVersion_; }
  const TLCrashReporterConfig& config() const { return config_; }

  // The strategy bits the writer takes: the low two bits of `strategy`.
  static std::uint32_t mapToAsyncSymbolicationStrategy(unsigned strategy) { return strategy & 3; }

 private:
  bool populateCrashReportDirectory(ReporterError* error) const;
  std::optional<std::vector<std::uint8_t>> generateLiveReport(tlcrash_thread_t thread,
                                                              bool currentThread,
                                                              std::uint64_t returnAddress,
                                                              ReporterError* error);

  TLCrashPlatform& crashPlatform_;
  TLCrashReporterConfig config_;
  bool enabled_ = false;
  std::string applicationIdentifier_;
  std::string applicationVersion_;
  std::optional<std::string> applicationMarketingVersion_;
  std::filesystem::path crashReportDirectory_;
  std::optional<std::vector<std::uint8_t>> customData_;
};

}  // namespace tlcrash

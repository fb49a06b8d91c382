#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "crashcapture/report/decoder/crash_report.h"
#include "telemetry/crashes/dependencies.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/crashes/reporter_setup.h"

namespace tlm {

// A stored report with its crash log, made once.
struct TLMDecodedCrashReport {
  std::filesystem::path file;
  tlcrash::TLCrashReport report;
  std::shared_ptr<TLMAppleErrorLog> log;
};

// The report the previous run's crash left with the reporter, handled at
// start: copied into the crashes directory under the time of the copy,
// decoded once (kept for processing) and turned into the last session's
// crash report. "TLCrashes.analyzer" marks a decoding in progress: found at
// the next start, the report that stopped it is purged instead. Its state is
// guarded by the owning service's monitor.
class TLMPendingCrashReport {
 public:
  static constexpr std::string_view kAnalyzerFileName = "TLCrashes.analyzer";

  // `monitor`, `reporterSetup` and `dependencies` are the owning service's
  // and outlive this part.
  TLMPendingCrashReport(std::recursive_mutex& monitor, const TLMCrashReporterSetup& reporterSetup,
                        const TLMCrashesDependencies& dependencies);

  // At enabling: when the reporter holds a report, the last session crashed
  // and the report is copied, decoded and purged.
  void takeFromReporter();
  // Purges the reporter's pending report, if any.
  void purge();
  // At disabling: the analyzer marker and the reporter's report go.
  void discard();

  bool didCrashInLastSession() const;
  std::shared_ptr<TLMErrorReport> lastSessionCrashReport() const;
  // The copy decoded at start, once; none when there was none or it was forgotten.
  std::optional<TLMDecodedCrashReport> takeDecoded();
  void forgetDecoded();

 private:
  void copyLatest();
  std::string analyzerComponent() const;
  void createAnalyzerFile();
  void removeAnalyzerFile();

  std::recursive_mutex& monitor_;
  const TLMCrashReporterSetup& reporterSetup_;
  const TLMCrashesDependencies& dependencies_;
  // Guarded by the monitor.
  bool didCrashInLastSession_ = false;
  std::shared_ptr<TLMErrorReport> lastSessionCrashReport_;
  // The previous run's report as copyLatest decoded it, under the copy's
  // file name; processing takes it instead of decoding the copy.
  std::optional<TLMDecodedCrashReport> decoded_;
};

}  // namespace tlm

#include "telemetry/crashes/pending_report.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/util/utility.h"

namespace tlm {

namespace {

// Seconds between 1970 and the reference date 2001-01-01.
constexpr double kReferenceDateOffset = 978307200.0;

}  // namespace

TLMPendingCrashReport::TLMPendingCrashReport(std::recursive_mutex& monitor,
                                             const TLMCrashReporterSetup& reporterSetup,
                                             const TLMCrashesDependencies& dependencies)
    : monitor_(monitor), reporterSetup_(reporterSetup), dependencies_(dependencies) {}

void TLMPendingCrashReport::takeFromReporter() {
  std::lock_guard lock(monitor_);
  const auto reporter = reporterSetup_.reporter();
  if (reporter && reporter->hasPendingCrashReport()) {
    didCrashInLastSession_ = true;
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "The application crashed in the last session.");
    copyLatest();
  }
}

void TLMPendingCrashReport::purge() {
  if (const auto reporter = reporterSetup_.reporter())
    static_cast<void>(reporter->purgePendingCrashReport());
}

void TLMPendingCrashReport::discard() {
  removeAnalyzerFile();
  purge();
}

bool TLMPendingCrashReport::didCrashInLastSession() const {
  std::lock_guard lock(monitor_);
  return didCrashInLastSession_;
}

std::shared_ptr<TLMErrorReport> TLMPendingCrashReport::lastSessionCrashReport() const {
  std::lock_guard lock(monitor_);
  return lastSessionCrashReport_;
}

std::optional<TLMDecodedCrashReport> TLMPendingCrashReport::takeDecoded() {
  std::lock_guard lock(monitor_);
  return std::exchange(decoded_, std::nullopt);
}

void TLMPendingCrashReport::forgetDecoded() {
  std::lock_guard lock(monitor_);
  decoded_.reset();
}

std::string TLMPendingCrashReport::analyzerComponent() const {
  return TLMCrashesUtil::crashesDir() + "/" + std::string(kAnalyzerFileName);
}

void TLMPendingCrashReport::createAnalyzerFile() {
  if (!TLMUtility::createFileAtPathComponent(analyzerComponent(), {}, /*atomically=*/false,
                                             /*forceOverwrite=*/false)) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Couldn't create crash analyzer file.");
  }
}

void TLMPendingCrashReport::removeAnalyzerFile() {
  TLMUtility::deleteItemForPathComponent(analyzerComponent());
}

void TLMPendingCrashReport::copyLatest() {
  const auto reporter = reporterSetup_.reporter();
  const auto finish = [this, &reporter] {
    removeAnalyzerFile();
    if (reporter) static_cast<void>(reporter->purgePendingCrashReport());
  };
  if (!reporter) return;
  if (TLMUtility::fileExistsForPathComponent(analyzerComponent())) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Error on loading the crash report, it will be purged.");
    finish();
    return;
  }
  createAnalyzerFile();
  const auto data = reporter->loadPendingCrashReportData();
  if (!data) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Couldn't load crash report: ", data.error().description);
    finish();
    return;
  }
  const auto report = tlcrash::TLCrashReport::makeWithData(*data);
  if (!report) {
    TLM_LOG_WARNING(kTLMCrashesLogTag, "Couldn't parse crash report: ", report.error().description);
    finish();
    return;
  }
  // Named by the time of the copy; a second copy in the same second (a
  // crash loop at start-up) gets a suffix rather than being lost.
  const double seconds =
      std::chrono::duration<double>(dependencies_.clock().now().time_since_epoch()).count() -
      kReferenceDateOffset;
  char name[64];
  std::snprintf(name, sizeof name, "%.0f", seconds);
  const std::string directory = TLMCrashesUtil::crashesDir();
  std::string component = directory + "/" + name;
  for (int suffix = 1; TLMUtility::fileExistsForPathComponent(component); ++suffix)
    component = directory + "/" + name + "-" + std::to_string(suffix);
  TLMUtility::createFileAtPathComponent(component, *data, /*atomically=*/true,
                                        /*forceOverwrite=*/false);
  const auto& sources = dependencies_.formatterSources();
  auto log = TLMErrorLogFormatter::errorLogFromCrashReport(*report, sources);
  lastSessionCrashReport_ = TLMErrorLogFormatter::errorReportFromLog(*log, sources);
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({lastSessionCrashReport_});
  decoded_ = TLMDecodedCrashReport{std::filesystem::path(component).filename(), std::move(*report),
                                   std::move(log)};
  finish();
}

}  // namespace tlm

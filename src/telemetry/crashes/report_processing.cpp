#include "telemetry/crashes/report_processing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>

#include "crashcapture/report/formatter/text_formatter.h"
#include "telemetry/core/logger.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kIgnoredSuffixes[] = {".DS_Store", ".analyzer", ".plist",
                                                 ".data",     ".meta",     ".desc"};

bool isReportFileName(std::string_view name) {
  return std::none_of(std::begin(kIgnoredSuffixes), std::end(kIgnoredSuffixes),
                      [name](std::string_view suffix) { return name.ends_with(suffix); });
}

// The report's text form, for log lines.
std::string debugDescription(const tlcrash::TLCrashReport& report) {
  return tlcrash::TLCrashReportTextFormatter::stringValueForCrashReport(report, 0);
}

// Processing of stored reports is scheduled once per process.
std::atomic<bool>& processingScheduled() {
  static std::atomic<bool> scheduled{false};
  return scheduled;
}

bool validatePropertiesForAttachment(const TLMErrorAttachmentLog& attachment) {
  const auto present = [](const std::optional<std::string>& text) {
    return text && !text->empty();
  };
  return present(attachment.errorId) && present(attachment.attachmentId) && attachment.data &&
         !attachment.data->empty() && present(attachment.contentType);
}

}  // namespace

TLMCrashReportProcessing::TLMCrashReportProcessing(TLMCrashes& service,
                                                   const TLMCrashesDependencies& dependencies,
                                                   const TLMCrashReporterSetup& reporterSetup,
                                                   TLMCrashesUserConfirmation& userConfirmation,
                                                   const TLMCrashesCallbacks& callbacks,
                                                   TLMPendingCrashReport& pendingReport)
    : service_(service),
      dependencies_(dependencies),
      reporterSetup_(reporterSetup),
      userConfirmation_(userConfirmation),
      callbacks_(callbacks),
      pendingReport_(pendingReport) {}

void TLMCrashReportProcessing::allowProcessingAgain() {
  processingScheduled().store(false);
}

// ---- settings

bool TLMCrashReportProcessing::isAutomaticProcessingEnabled() const {
  std::lock_guard lock(service_.monitor());
  return automaticProcessingEnabled_;
}

void TLMCrashReportProcessing::setAutomaticProcessingEnabled(bool enabled) {
  std::lock_guard lock(service_.monitor());
  automaticProcessingEnabled_ = enabled;
}

std::vector<fs::path> TLMCrashReportProcessing::crashFiles() const {
  std::lock_guard lock(service_.monitor());
  return crashFiles_;
}

// ---- enabling and disabling

void TLMCrashReportProcessing::handleStoredReports() {
  std::lock_guard lock(service_.monitor());
  pendingReport_.takeFromReporter();
  crashFiles_ = persistedCrashReports();
  if (!crashFiles_.empty()) {
    startDelayedCrashProcessing();
  } else {
    delayedProcessingSemaphore_.release();
    dependencies_.clearContextHistoryAndKeepCurrentSession();
  }
}

void TLMCrashReportProcessing::discardAll() {
  deleteAllFromCrashesDirectory();
  pendingReport_.discard();
  clearUnprocessedReports();
}

// ---- stored reports

std::vector<fs::path> TLMCrashReportProcessing::persistedCrashReports() const {
  std::vector<fs::path> reports;
  const auto entries = TLMUtility::contentsOfDirectory(TLMCrashesUtil::crashesDir());
  if (!entries) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "No persisted crashes found.");
    return reports;
  }
  for (const fs::path& path : *entries) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(status)) continue;
    const auto size = fs::file_size(path, ec);
    if (ec || size == 0 || !isReportFileName(path.filename().string())) continue;
    reports.push_back(path);
  }
  return reports;
}

void TLMCrashReportProcessing::startDelayedCrashProcessing() {
  if (processingScheduled().exchange(true)) return;
  dependencies_.processingQueue()->after(
      std::chrono::seconds(1), [weak = service_.weak_from_this()] {
        const auto service = weak.lock();
        if (!service) return;
        service->processing().startCrashProcessing();
        service->processing().delayedProcessingSemaphore_.release();
      });
}

void TLMCrashReportProcessing::startCrashProcessing() {
  TLM_LOG_DEBUG(kTLMCrashesLogTag, "Start delayed CrashManager processing");
  const platform::UncaughtExceptionHandler kept = reporterSetup_.exceptionHandler();
  if (kept && platform::getUncaughtExceptionHandler() != kept) {
    TLM_LOG_WARNING(kTLMCrashesLogTag,
                    "Another exception handler was added. If this invokes any kind of exit() "
                    "after processing the exception, which causes any subsequent error handler "
                    "not to be invoked, these crashes will NOT be reported to Dar Aveved!");
  }
  processCrashReports();
}

void TLMCrashReportProcessing::processCrashReports() {
  if (!service_.isEnabled()) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "Crashes service is disabled; discard all crash reports");
    deleteAllFromCrashesDirectory();
    TLMWrapperExceptionManager::deleteAllWrapperExceptions();
    return;
  }
  std::optional<TLMDecodedCrashReport> latest = pendingReport_.takeDecoded();
  const auto& sources = dependencies_.formatterSources();
  std::vector<TLMDecodedCrashReport> decoded;
  std::vector<std::shared_ptr<TLMErrorReport>> errorReports;
  const std::string directory = TLMCrashesUtil::crashesDir();
  // Decoding and formatting run outside the monitor: the formatter asks the
  // SDK for its install id, under the SDK's own lock. The copy of the
  // previous run's report was decoded and formatted at start already.
  for (const fs::path& file : crashFiles()) {
    if (latest && file.filename() == latest->file) {
      decoded.push_back({file, std::move(latest->report), std::move(latest->log)});
      latest.reset();
    } else {
      const auto data =
          TLMUtility::loadDataForPathComponent(directory + "/" + file.filename().string());
      if (!data || data->empty()) continue;
      auto report = tlcrash::TLCrashReport::makeWithData(*data);
      if (!report) {
        TLM_LOG_WARNING(kTLMCrashesLogTag,
                        "Crash report found but couldn't parse it, discard the crash report: ",
                        report.error().description);
        continue;
      }
      auto log = TLMErrorLogFormatter::errorLogFromCrashReport(*report, sources);
      decoded.push_back({file, std::move(*report), std::move(log)});
    }
    errorReports.push_back(TLMErrorLogFormatter::errorReportFromLog(*decoded.back().log, sources));
  }
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(errorReports);

  const bool automatic = isAutomaticProcessingEnabled();
  std::vector<Pending> pending;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    auto& entry = decoded[i];
    const auto& errorReport = errorReports[i];
    TLM_LOG_VERBOSE(kTLMCrashesLogTag, "Crash reports found");
    // The wrapper exception correlated just now joins the log.
    auto log = std::move(entry.log);
    TLMErrorLogFormatter::addWrapperExceptionTo(*log, entry.report, sources);
    if (automatic && !shouldProcessErrorReport(errorReport)) {
      TLM_LOG_DEBUG(kTLMCrashesLogTag,
                    "shouldProcessErrorReport returned NO, discard the crash report: ",
                    debugDescription(entry.report));
      if (const auto& incident = errorReport->incidentIdentifier())
        TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incident);
      TLMUtility::deleteFileAtURL(entry.file);
      removeCrashFile(entry.file);
      continue;
    }
    if (automatic) {
      TLM_LOG_DEBUG(kTLMCrashesLogTag,
                    "shouldProcessErrorReport is not implemented or returned YES, processing the "
                    "crash report: ",
                    debugDescription(entry.report));
    } else {
      TLM_LOG_DEBUG(kTLMCrashesLogTag,
                    "Automatic crash processing is disabled, storing the crash report for later "
                    "processing: ",
                    debugDescription(entry.report));
    }
    pending.push_back({std::move(log), errorReport, entry.file});
  }
  {
    std::lock_guard lock(service_.monitor());
    unprocessed_ = std::move(pending);
  }
  if (automatic) sendCrashReportsOrAwaitUserConfirmation();
}

bool TLMCrashReportProcessing::shouldProcessErrorReport(
    const std::shared_ptr<TLMErrorReport>& report) {
  const auto delegate = callbacks_.delegate();
  if (delegate && delegate->shouldProcessErrorReport)
    return delegate->shouldProcessErrorReport(service_, report);
  return true;
}

// ---- confirmation and sending

bool TLMCrashReportProcessing::sendCrashReportsOrAwaitUserConfirmation() {
  TLMCrashesUserConfirmation& confirmation = userConfirmation_;
  const bool alwaysSend = confirmation.alwaysSend();
  bool nothingWaits = false;
  bool automatic = false;
  std::vector<std::shared_ptr<TLMErrorReport>> reports;
  {
    std::lock_guard lock(service_.monitor());
    nothingWaits = !unprocessed_ || unprocessed_->empty();
    automatic = automaticProcessingEnabled_;
    if (unprocessed_) {
      for (const auto& entry : *unprocessed_)
        reports.push_back(entry.report);
    }
  }
  if (nothingWaits) return alwaysSend;
  if (alwaysSend) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "The flag for user confirmation is set to TLMUserConfirmationAlways, continue "
                  "sending logs");
    handleUserConfirmation(TLMUserConfirmation::Send);
  } else if (automatic) {
    if (confirmation.askUser(reports)) return alwaysSend;
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "The user confirmation handler is not implemented or returned NO, continue "
                  "sending logs");
    handleUserConfirmation(TLMUserConfirmation::Send);
  } else {
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting "
                  "user confirmation.");
  }
  return alwaysSend;
}

void TLMCrashReportProcessing::notifyWithUserConfirmation(TLMUserConfirmation confirmation) {
  {
    std::lock_guard lock(service_.monitor());
    if (!userConfirmation_.handler() && !unprocessed_) {
      TLM_LOG_ERROR(kTLMCrashesLogTag,
                    "Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                    "userConfirmationHandler. For more information refer to the documentation.");
      return;
    }
  }
  handleUserConfirmation(confirmation);
}

void TLMCrashReportProcessing::handleUserConfirmation(TLMUserConfirmation confirmation) {
  std::vector<Pending> pending;
  std::optional<TLMCrashesDelegate> delegate;
  {
    std::lock_guard lock(service_.monitor());
    if (unprocessed_) pending = *unprocessed_;
    delegate = callbacks_.delegate();
  }
  if (confirmation == TLMUserConfirmation::DontSend) {
    for (const auto& entry : pending) {
      TLMUtility::deleteFileAtURL(entry.file);
      if (const auto& incident = entry.report->incidentIdentifier())
        TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incident);
      removeCrashFile(entry.file);
    }
    clearUnprocessedReports();
    dependencies_.clearContextHistoryAndKeepCurrentSession();
    return;
  }
  if (confirmation == TLMUserConfirmation::Always) userConfirmation_.storeAlwaysSend();

  const auto session = dependencies_.sessionContext();
  const auto users = dependencies_.userIdContext();
  for (const auto& entry : pending) {
    TLMErrorAttachments attachments;
    if (delegate && delegate->attachmentsWithCrashes) {
      attachments = delegate->attachmentsWithCrashes(service_, entry.report);
    } else {
      TLM_LOG_DEBUG(kTLMCrashesLogTag, "attachmentsWithCrashes is not implemented");
    }
    if (entry.log->timestamp) {
      entry.log->sid = session->sessionIdAt(*entry.log->timestamp);
      entry.log->userId = users->userIdAt(*entry.log->timestamp);
    }
    if (const auto unit = service_.channelUnit())
      unit->enqueueItem(entry.log, kTLMCrashesFlagsCritical);
    const std::string incident = entry.report->incidentIdentifier().value_or("");
    sendErrorAttachments(attachments, incident);
    TLMUtility::deleteFileAtURL(entry.file);
    TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(incident);
    removeCrashFile(entry.file);
  }
  clearUnprocessedReports();
  dependencies_.clearContextHistoryAndKeepCurrentSession();
}

void TLMCrashReportProcessing::sendErrorAttachments(const TLMErrorAttachments& attachments,
                                                    const std::string& incidentIdentifier) {
  for (const auto& attachment : attachments) {
    if (!attachment) continue;
    attachment->errorId = incidentIdentifier;
    if (!validatePropertiesForAttachment(*attachment)) {
      TLM_LOG_ERROR(kTLMCrashesLogTag,
                    "Not all required fields are present in TLMErrorAttachmentLog.");
      continue;
    }
    if (attachment->data->size() > kMaxAttachmentSize) {
      TLM_LOG_ERROR(kTLMCrashesLogTag, "Discarding attachment with size above ", kMaxAttachmentSize,
                    " bytes: size=", attachment->data->size(),
                    ", fileName=", attachment->filename.value_or("(null)"), ".");
      continue;
    }
    if (const auto unit = service_.channelUnit())
      unit->enqueueItem(attachment, kTLMCrashesFlagsNormal);
  }
}

std::vector<std::shared_ptr<TLMErrorReport>> TLMCrashReportProcessing::unprocessedCrashReports() {
  delayedProcessingSemaphore_.acquire();
  delayedProcessingSemaphore_.release();
  std::lock_guard lock(service_.monitor());
  std::vector<std::shared_ptr<TLMErrorReport>> reports;
  if (unprocessed_) {
    for (const auto& entry : *unprocessed_)
      reports.push_back(entry.report);
  }
  return reports;
}

bool TLMCrashReportProcessing::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& incidentIdentifiers) {
  std::vector<Pending> dropped;
  {
    std::lock_guard lock(service_.monitor());
    if (unprocessed_) {
      auto& entries = *unprocessed_;
      const auto keep = [&](const Pending& entry) {
        const auto& incident = entry.report->incidentIdentifier();
        return incident && std::find(incidentIdentifiers.begin(), incidentIdentifiers.end(),
                                     *incident) != incidentIdentifiers.end();
      };
      const auto firstDropped = std::stable_partition(entries.begin(), entries.end(), keep);
      dropped.assign(std::make_move_iterator(firstDropped), std::make_move_iterator(entries.end()));
      entries.erase(firstDropped, entries.end());
    }
  }
  for (const auto& entry : dropped) {
    if (const auto& incident = entry.report->incidentIdentifier())
      TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incident);
    TLMUtility::deleteFileAtURL(entry.file);
    removeCrashFile(entry.file);
  }
  return sendCrashReportsOrAwaitUserConfirmation();
}

// ---- bookkeeping

void TLMCrashReportProcessing::deleteAllFromCrashesDirectory() {
  TLMUtility::deleteItemForPathComponent(TLMCrashesUtil::crashesDir());
  std::lock_guard lock(service_.monitor());
  crashFiles_.clear();
  pendingReport_.forgetDecoded();
}

void TLMCrashReportProcessing::removeCrashFile(const fs::path& file) {
  std::lock_guard lock(service_.monitor());
  std::erase(crashFiles_, file);
}

void TLMCrashReportProcessing::clearUnprocessedReports() {
  std::lock_guard lock(service_.monitor());
  if (unprocessed_) unprocessed_->clear();
}

}  // namespace tlm

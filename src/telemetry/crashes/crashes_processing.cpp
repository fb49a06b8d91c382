// The crash service's road for stored crash reports: copying the pending
// report out of the reporter, listing, decoding, filtering, confirmation and
// sending.

#include <algorithm>
#include <cstdio>
#include <semaphore>
#include <utility>

#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/text_formatter.h"
#include "telemetry/core/logger.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/wrapper_exceptions.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace fs = std::filesystem;

namespace {

// Seconds between 1970 and the reference date 2001-01-01.
constexpr double kReferenceDateOffset = 978307200.0;

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

}  // namespace

std::string TLMCrashes::analyzerComponent() const {
  return TLMCrashesUtil::crashesDir() + "/" + std::string(kAnalyzerFileName);
}

void TLMCrashes::createAnalyzerFile() {
  if (!TLMUtility::createFileAtPathComponent(analyzerComponent(), {}, /*atomically=*/false,
                                             /*forceOverwrite=*/false)) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Couldn't create crash analyzer file.");
  }
}

void TLMCrashes::removeAnalyzerFile() {
  TLMUtility::deleteItemForPathComponent(analyzerComponent());
}

void TLMCrashes::handleLatestCrashReport() {
  std::lock_guard lock(monitor());
  const auto finish = [this] {
    removeAnalyzerFile();
    if (crashReporter_) static_cast<void>(crashReporter_->purgePendingCrashReport());
  };
  if (!crashReporter_) return;
  if (TLMUtility::fileExistsForPathComponent(analyzerComponent())) {
    TLM_LOG_ERROR(kTLMCrashesLogTag, "Error on loading the crash report, it will be purged.");
    finish();
    return;
  }
  createAnalyzerFile();
  const auto data = crashReporter_->loadPendingCrashReportData();
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
      std::chrono::duration<double>(clock_.now().time_since_epoch()).count() - kReferenceDateOffset;
  char name[64];
  std::snprintf(name, sizeof name, "%.0f", seconds);
  const std::string directory = TLMCrashesUtil::crashesDir();
  std::string component = directory + "/" + name;
  for (int suffix = 1; TLMUtility::fileExistsForPathComponent(component); ++suffix)
    component = directory + "/" + name + "-" + std::to_string(suffix);
  TLMUtility::createFileAtPathComponent(component, *data, /*atomically=*/true,
                                        /*forceOverwrite=*/false);
  auto log = TLMErrorLogFormatter::errorLogFromCrashReport(*report, formatterSources());
  lastSessionCrashReport_ = TLMErrorLogFormatter::errorReportFromLog(*log, formatterSources());
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({lastSessionCrashReport_});
  latestDecoded_ = Decoded{fs::path(component).filename(), std::move(*report), std::move(log)};
  finish();
}

std::vector<fs::path> TLMCrashes::persistedCrashReports() const {
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

void TLMCrashes::startCrashProcessing() {
  TLM_LOG_DEBUG(kTLMCrashesLogTag, "Start delayed CrashManager processing");
  const platform::UncaughtExceptionHandler kept = exceptionHandler();
  if (kept && platform::getUncaughtExceptionHandler() != kept) {
    TLM_LOG_WARNING(kTLMCrashesLogTag,
                    "Another exception handler was added. If this invokes any kind of exit() "
                    "after processing the exception, which causes any subsequent error handler "
                    "not to be invoked, these crashes will NOT be reported to Dar Aveved!");
  }
  processCrashReports();
}

void TLMCrashes::processCrashReports() {
  if (!isEnabled()) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "Crashes service is disabled; discard all crash reports");
    deleteAllFromCrashesDirectory();
    TLMWrapperExceptionManager::deleteAllWrapperExceptions();
    return;
  }
  std::optional<Decoded> latest;
  {
    std::lock_guard lock(monitor());
    latest = std::exchange(latestDecoded_, std::nullopt);
  }
  std::vector<Decoded> decoded;
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
      auto log = TLMErrorLogFormatter::errorLogFromCrashReport(*report, formatterSources());
      decoded.push_back({file, std::move(*report), std::move(log)});
    }
    errorReports.push_back(
        TLMErrorLogFormatter::errorReportFromLog(*decoded.back().log, formatterSources()));
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
    TLMErrorLogFormatter::addWrapperExceptionTo(*log, entry.report, formatterSources());
    if (automatic && !shouldProcessErrorReport(errorReport)) {
      TLM_LOG_DEBUG(kTLMCrashesLogTag,
                    "shouldProcessErrorReport returned NO, discard the crash report: ",
                    debugDescription(entry.report));
      if (const auto& incident = errorReport->incidentIdentifier())
        TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incident);
      deleteCrashReportWithFileURL(entry.file);
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
    std::lock_guard lock(monitor());
    unprocessed_ = std::move(pending);
  }
  if (automatic) sendCrashReportsOrAwaitUserConfirmation();
}

bool TLMCrashes::shouldProcessErrorReport(const std::shared_ptr<TLMErrorReport>& report) {
  std::optional<TLMCrashesDelegate> delegate;
  {
    std::lock_guard lock(monitor());
    delegate = delegate_;
  }
  if (delegate && delegate->shouldProcessErrorReport)
    return delegate->shouldProcessErrorReport(*this, report);
  return true;
}

bool TLMCrashes::shouldAlwaysSend() const {
  const auto stored = settings()->objectForKey(kUserConfirmationKey);
  const bool* flag = stored ? stored->getIf<bool>() : nullptr;
  return flag && *flag;
}

bool TLMCrashes::sendCrashReportsOrAwaitUserConfirmation() {
  const bool alwaysSend = shouldAlwaysSend();
  bool nothingWaits = false;
  bool automatic = false;
  TLMUserConfirmationHandler handler;
  {
    std::lock_guard lock(monitor());
    nothingWaits = !unprocessed_ || unprocessed_->empty();
    automatic = automaticProcessingEnabled_;
    handler = userConfirmationHandler_;
  }
  if (nothingWaits) return alwaysSend;
  if (alwaysSend) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "The flag for user confirmation is set to TLMUserConfirmationAlways, continue "
                  "sending logs");
    handleUserConfirmation(TLMUserConfirmation::Send);
  } else if (automatic) {
    if (handler && userPromptedForConfirmation()) return alwaysSend;
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

bool TLMCrashes::userPromptedForConfirmation() {
  TLMUserConfirmationHandler handler;
  std::vector<std::shared_ptr<TLMErrorReport>> reports;
  {
    std::lock_guard lock(monitor());
    handler = userConfirmationHandler_;
    if (unprocessed_) {
      for (const auto& entry : *unprocessed_)
        reports.push_back(entry.report);
    }
  }
  if (!handler) return false;
  const bool onMain =
      environment_.isMainThread ? environment_.isMainThread() : ::gettid() == ::getpid();
  if (onMain) return handler(reports);
  // The handler runs on the main queue while this thread waits for it.
  auto done = std::make_shared<std::binary_semaphore>(0);
  auto answer = std::make_shared<bool>(false);
  mainQueue_->async([handler, reports, done, answer] {
    *answer = handler(reports);
    done->release();
  });
  done->acquire();
  return *answer;
}

void TLMCrashes::notifyWithUserConfirmation(TLMUserConfirmation confirmation) {
  {
    std::lock_guard lock(monitor());
    if (!userConfirmationHandler_ && !unprocessed_) {
      TLM_LOG_ERROR(kTLMCrashesLogTag,
                    "Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                    "userConfirmationHandler. For more information refer to the documentation.");
      return;
    }
  }
  handleUserConfirmation(confirmation);
}

void TLMCrashes::handleUserConfirmation(TLMUserConfirmation confirmation) {
  std::vector<Pending> pending;
  std::optional<TLMCrashesDelegate> delegate;
  {
    std::lock_guard lock(monitor());
    if (unprocessed_) pending = *unprocessed_;
    delegate = delegate_;
  }
  if (confirmation == TLMUserConfirmation::DontSend) {
    for (const auto& entry : pending) {
      deleteCrashReportWithFileURL(entry.file);
      if (const auto& incident = entry.report->incidentIdentifier())
        TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incident);
      removeCrashFile(entry.file);
    }
    clearUnprocessedReports();
    clearContextHistoryAndKeepCurrentSession();
    return;
  }
  if (confirmation == TLMUserConfirmation::Always)
    settings()->setObject(true, kUserConfirmationKey);

  const auto session = sessionContext();
  const auto users = userIdContext();
  for (const auto& entry : pending) {
    TLMErrorAttachments attachments;
    if (delegate && delegate->attachmentsWithCrashes) {
      attachments = delegate->attachmentsWithCrashes(*this, entry.report);
    } else {
      TLM_LOG_DEBUG(kTLMCrashesLogTag, "attachmentsWithCrashes is not implemented");
    }
    if (entry.log->timestamp) {
      entry.log->sid = session->sessionIdAt(*entry.log->timestamp);
      entry.log->userId = users->userIdAt(*entry.log->timestamp);
    }
    if (const auto unit = channelUnit()) unit->enqueueItem(entry.log, kFlagsCritical);
    const std::string incident = entry.report->incidentIdentifier().value_or("");
    sendErrorAttachments(attachments, incident);
    deleteCrashReportWithFileURL(entry.file);
    TLMWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(incident);
    removeCrashFile(entry.file);
  }
  clearUnprocessedReports();
  clearContextHistoryAndKeepCurrentSession();
}

bool TLMCrashes::validatePropertiesForAttachment(const TLMErrorAttachmentLog& attachment) {
  const auto present = [](const std::optional<std::string>& text) {
    return text && !text->empty();
  };
  return present(attachment.errorId) && present(attachment.attachmentId) && attachment.data &&
         !attachment.data->empty() && present(attachment.contentType);
}

void TLMCrashes::sendErrorAttachments(const TLMErrorAttachments& attachments,
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
    if (const auto unit = channelUnit()) unit->enqueueItem(attachment, kFlagsNormal);
  }
}

std::vector<std::shared_ptr<TLMErrorReport>> TLMCrashes::unprocessedCrashReports() {
  delayedProcessingSemaphore_.acquire();
  delayedProcessingSemaphore_.release();
  std::lock_guard lock(monitor());
  std::vector<std::shared_ptr<TLMErrorReport>> reports;
  if (unprocessed_) {
    for (const auto& entry : *unprocessed_)
      reports.push_back(entry.report);
  }
  return reports;
}

bool TLMCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& incidentIdentifiers) {
  std::vector<Pending> dropped;
  {
    std::lock_guard lock(monitor());
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
    deleteCrashReportWithFileURL(entry.file);
    removeCrashFile(entry.file);
  }
  return sendCrashReportsOrAwaitUserConfirmation();
}

void TLMCrashes::deleteAllFromCrashesDirectory() {
  TLMUtility::deleteItemForPathComponent(TLMCrashesUtil::crashesDir());
  std::lock_guard lock(monitor());
  crashFiles_.clear();
  latestDecoded_.reset();
}

void TLMCrashes::deleteCrashReportWithFileURL(const fs::path& file) {
  TLMUtility::deleteFileAtURL(file);
}

void TLMCrashes::removeCrashFile(const fs::path& file) {
  std::lock_guard lock(monitor());
  std::erase(crashFiles_, file);
}

void TLMCrashes::clearUnprocessedReports() {
  std::lock_guard lock(monitor());
  if (unprocessed_) unprocessed_->clear();
}

}  // namespace tlm

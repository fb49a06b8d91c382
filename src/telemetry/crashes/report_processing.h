#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <vector>

#include "telemetry/crashes/callbacks.h"
#include "telemetry/crashes/dependencies.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/crashes/pending_report.h"
#include "telemetry/crashes/reporter_setup.h"
#include "telemetry/crashes/user_confirmation.h"

namespace tlm {

class TLMCrashes;

// The crash service's road for stored crash reports: listing, decoding,
// filtering by the application's delegate, the user's confirmation and
// sending with the attachments. Its state is guarded by the owning service's
// monitor; decoding and formatting run outside it.
class TLMCrashReportProcessing {
 public:
  static constexpr std::size_t kMaxAttachmentSize = 7340032;

  // `service` owns this part and the others, and outlives them.
  TLMCrashReportProcessing(TLMCrashes& service, const TLMCrashesDependencies& dependencies,
                           const TLMCrashReporterSetup& reporterSetup,
                           TLMCrashesUserConfirmation& userConfirmation,
                           const TLMCrashesCallbacks& callbacks,
                           TLMPendingCrashReport& pendingReport);

  // Lets the next service schedule processing again.
  static void allowProcessingAgain();

  bool isAutomaticProcessingEnabled() const;
  void setAutomaticProcessingEnabled(bool enabled);

  // At enabling: has the reporter's pending report copied into the crashes
  // directory, then schedules processing of all stored ones (or marks that
  // there is nothing to process).
  void handleStoredReports();
  // At disabling: forgets and deletes everything stored.
  void discardAll();

  std::vector<std::filesystem::path> persistedCrashReports() const;
  std::vector<std::filesystem::path> crashFiles() const;
  // Waits until stored reports have been processed (or needed none).
  std::vector<std::shared_ptr<TLMErrorReport>> unprocessedCrashReports();
  bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
      const std::vector<std::string>& incidentIdentifiers);
  void notifyWithUserConfirmation(TLMUserConfirmation confirmation);
  void sendErrorAttachments(const TLMErrorAttachments& attachments,
                            const std::string& incidentIdentifier);

 private:
  struct Pending {
    std::shared_ptr<TLMAppleErrorLog> log;
    std::shared_ptr<TLMErrorReport> report;
    std::filesystem::path file;
  };

  void startDelayedCrashProcessing();
  void startCrashProcessing();
  void processCrashReports();
  bool shouldProcessErrorReport(const std::shared_ptr<TLMErrorReport>& report);
  // Answers whether "always send" is stored.
  bool sendCrashReportsOrAwaitUserConfirmation();
  void handleUserConfirmation(TLMUserConfirmation confirmation);
  void deleteAllFromCrashesDirectory();
  void clearUnprocessedReports();
  void removeCrashFile(const std::filesystem::path& file);

  TLMCrashes& service_;
  const TLMCrashesDependencies& dependencies_;
  const TLMCrashReporterSetup& reporterSetup_;
  TLMCrashesUserConfirmation& userConfirmation_;
  const TLMCrashesCallbacks& callbacks_;
  TLMPendingCrashReport& pendingReport_;
  std::counting_semaphore<> delayedProcessingSemaphore_{0};
  // Guarded by the service's monitor.
  bool automaticProcessingEnabled_ = true;
  std::vector<std::filesystem::path> crashFiles_;
  // None until processing has run in this process.
  std::optional<std::vector<Pending>> unprocessed_;
};

}  // namespace tlm

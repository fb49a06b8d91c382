#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <vector>

#include "base/error.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/crashes/user_confirmation.h"

namespace tlm {

class TLMCrashes;

using TLMErrorAttachments = std::vector<std::shared_ptr<TLMErrorAttachmentLog>>;

// What the application may decide and hear about crash reports. Each member
// is optional; an empty one counts as not implemented.
struct TLMCrashesDelegate {
  // Per stored report; false drops it. Not implemented: processed.
  std::function<bool(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)> shouldProcessErrorReport;
  // Per report being sent.
  std::function<TLMErrorAttachments(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)>
      attachmentsWithCrashes;
  std::function<void(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)> willSendErrorReport;
  std::function<void(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)>
      didSucceedSendingErrorReport;
  std::function<void(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&,
                     const std::optional<base::Error>&)>
      didFailSendingErrorReport;
};

// The crash service's road for stored crash reports: copying the pending
// report out of the reporter, listing, decoding, filtering by the
// application's delegate, the user's confirmation, sending with the
// attachments, and telling the delegate how sending went. Its state is
// guarded by the owning service's monitor; decoding and formatting run
// outside it.
class TLMCrashReportProcessing {
 public:
  static constexpr std::string_view kAnalyzerFileName = "TLCrashes.analyzer";
  static constexpr std::size_t kMaxAttachmentSize = 7340032;

  // `service` owns this part and outlives it.
  explicit TLMCrashReportProcessing(TLMCrashes& service);

  // Lets the next service schedule processing again.
  static void allowProcessingAgain();

  void setDelegate(std::optional<TLMCrashesDelegate> delegate);
  bool isAutomaticProcessingEnabled() const;
  void setAutomaticProcessingEnabled(bool enabled);
  std::shared_ptr<TLMErrorReport> lastSessionCrashReport() const;

  // At enabling: copies the reporter's pending report into the crashes
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

  // Send callbacks of the channel: the delegate hears of crash logs.
  void willSend(const TLMLogPtr& log);
  void didSucceedSending(const TLMLogPtr& log);
  void didFailSending(const TLMLogPtr& log, const std::optional<base::Error>& error);

 private:
  struct Pending {
    std::shared_ptr<TLMAppleErrorLog> log;
    std::shared_ptr<TLMErrorReport> report;
    std::filesystem::path file;
  };
  // A stored report with its crash log, made once.
  struct Decoded {
    std::filesystem::path file;
    tlcrash::TLCrashReport report;
    std::shared_ptr<TLMAppleErrorLog> log;
  };

  void handleLatestCrashReport();
  void startDelayedCrashProcessing();
  void startCrashProcessing();
  void processCrashReports();
  bool shouldProcessErrorReport(const std::shared_ptr<TLMErrorReport>& report);
  // Answers whether "always send" is stored.
  bool sendCrashReportsOrAwaitUserConfirmation();
  void handleUserConfirmation(TLMUserConfirmation confirmation);
  void deleteAllFromCrashesDirectory();
  void clearUnprocessedReports();
  std::string analyzerComponent() const;
  void createAnalyzerFile();
  void removeAnalyzerFile();
  void removeCrashFile(const std::filesystem::path& file);
  std::optional<TLMCrashesDelegate> delegate() const;
  // Runs `call` with the error report of a crash log on the main queue, when
  // `member` of the delegate is implemented.
  template <class Member, class Call>
  void notifyDelegate(const TLMLogPtr& log, Member member, Call call);

  TLMCrashes& service_;
  std::counting_semaphore<> delayedProcessingSemaphore_{0};
  // Guarded by the service's monitor.
  bool automaticProcessingEnabled_ = true;
  std::optional<TLMCrashesDelegate> delegate_;
  std::shared_ptr<TLMErrorReport> lastSessionCrashReport_;
  std::vector<std::filesystem::path> crashFiles_;
  // The previous run's report as handleLatestCrashReport decoded it, under
  // the copy's file name; processing takes it instead of decoding the copy.
  std::optional<Decoded> latestDecoded_;
  // None until processing has run in this process.
  std::optional<std::vector<Pending>> unprocessed_;
};

}  // namespace tlm

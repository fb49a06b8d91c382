#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "dispatch/clock.h"
#include "dispatch/queue.h"
#include "platform/exceptions/uncaught_exception.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/channel/channel_unit_configuration.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/context/session_context.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/crashes/buffer_slots.h"
#include "telemetry/crashes/crash_reporter_interface.h"
#include "telemetry/crashes/cxx_exception_capture.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_records.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/crashes/memory_pressure.h"
#include "telemetry/crashes/memory_warnings.h"
#include "telemetry/crashes/report_processing.h"
#include "telemetry/crashes/reporter_setup.h"
#include "telemetry/crashes/user_confirmation.h"
#include "telemetry/sdk/service_abstract.h"
#include "telemetry/sdk/service_class.h"
#include "telemetry/security/encrypter.h"

namespace tlm {

// What the service works with; each member left empty takes the process's own.
struct TLMCrashesEnvironment {
  // The SDK's shared settings.
  std::shared_ptr<TLMDarAvevedUserDefaults> settings;
  // Makes the crash reporter at the first enabling. None: there is no
  // reporter, and crashes are not detected.
  TLMCrashReporterFactory makeCrashReporter;
  // TLMEncrypter::makeDefault: encrypts the target tokens of buffered logs.
  std::shared_ptr<TLMEncrypter> targetTokenEncrypter;
  // The high-priority global queue that makes the buffer files.
  std::shared_ptr<dispatch::Queue> bufferFileQueue;
  // The default-priority global queue that processes stored reports.
  std::shared_ptr<dispatch::Queue> processingQueue;
  // The main queue: delegate callbacks and the confirmation handler. None: a
  // serial queue of the SDK.
  std::shared_ptr<dispatch::Queue> mainQueue;
  // Whether the caller is on the main queue's thread (the process's first
  // thread when none).
  std::function<bool()> isMainThread;
  // TLMDarAveved::isDebuggerAttached.
  std::function<bool()> isDebuggerAttached;
  // The system clock. Must outlive the service.
  const dispatch::Clock* clock = nullptr;
  // The shared contexts, looked up at each use.
  std::shared_ptr<TLMSessionContext> sessionContext;
  std::shared_ptr<TLMUserIdContext> userIdContext;
  std::shared_ptr<TLMDeviceTracker> deviceTracker;
  // What the formatter reads (the shared device tracker, the SDK's install
  // id and the stored wrapper exceptions).
  std::optional<TLMErrorLogSources> formatterSources;
  // TLMManualMemoryPressureSource::shared.
  std::shared_ptr<TLMMemoryPressureSource> memoryPressure;
};

// The crash reporting service ("TLMCrashes" to the SDK). At start it arms the
// crash reporter and copies out the report the previous run left, then,
// shortly after, turns every stored report into a crash log ("appleError")
// and sends it on its unit "Crashes" with its attachments, unless the
// application's delegate or the user decides otherwise. While a log of any
// service is in flight, a copy waits in the crash-time buffer, which the
// crash callback writes to disk and the next start replays on the unit
// "CrashesBuffer". Uncaught C++ exceptions and exceptions the application
// reports reach the reporter as uncaught exceptions.
//
// Files, in the SDK's data directory: "crashes/<seconds since 2001>" report
// copies (a second copy in the same second gets "-1", "-2", ...),
// "crashes/TLCrashes.analyzer" while the pending report is decoded,
// "crasheslogbuffer/<i>.tlmcrasheslogbuffer" and "<i>.targettoken".
// Settings: "AppDidReceiveMemoryWarning", "CrashesUserConfirmation".
//
// Thread-safe: the service's monitor guards its state; stored reports are
// processed on the processing queue, decoded and formatted outside the
// monitor. Make it with `make` (it is shared with the channel group).
//
// A facade: arming the reporter (TLMCrashReporterSetup), the crash-time
// buffer (TLMCrashesBufferSlots), stored reports (TLMCrashReportProcessing),
// the user's confirmation (TLMCrashesUserConfirmation) and memory warnings
// (TLMCrashesMemoryWarnings) are parts it owns and that share its monitor.
class TLMCrashes final : public TLMServiceAbstract,
                         public TLMChannelDelegate,
                         public std::enable_shared_from_this<TLMCrashes> {
 public:
  static constexpr std::string_view kClassName = "TLMCrashes";

  // At the program's end, after TLMDarAveved::shutDown: runs the work queued
  // on the service's process-wide queues (crash-time buffer writes among it)
  // and ends their threads, so that none runs while static objects are
  // destroyed. Work handed to them later is dropped.
  static void stopProcessQueues();

  static constexpr std::string_view kServiceName = "Crashes";
  static constexpr std::string_view kBufferGroupId = TLMCrashesBufferSlots::kGroupId;
  static constexpr std::int64_t kInitializationPriority = 999;
  static constexpr std::string_view kAppDidReceiveMemoryWarningKey =
      TLMCrashesMemoryWarnings::kSettingKey;
  static constexpr std::string_view kUserConfirmationKey = TLMCrashesUserConfirmation::kSettingKey;
  static constexpr std::string_view kAnalyzerFileName = TLMCrashReportProcessing::kAnalyzerFileName;
  static constexpr std::size_t kMaxAttachmentSize = TLMCrashReportProcessing::kMaxAttachmentSize;
  static constexpr std::uint64_t kFlagsNormal = kTLMCrashesFlagsNormal;
  static constexpr std::uint64_t kFlagsCritical = kTLMCrashesFlagsCritical;

  // Moves the settings of older SDK versions, registers the older archive
  // class names and sets up the crash-time buffer.
  static std::shared_ptr<TLMCrashes> make(TLMCrashesEnvironment environment = {});
  ~TLMCrashes() override;

  // The process's service, made on first use from the environment given to
  // `configureShared` (an empty one when none was).
  static std::shared_ptr<TLMCrashes> sharedInstance();
  // The environment the shared service is made with; forgets a service made
  // before. Before the SDK starts.
  static void configureShared(TLMCrashesEnvironment environment);
  // Forgets the service and lets stored reports be processed again.
  static void resetSharedInstance();
  // Makes `service` the shared one; none: forgets it and the configured
  // environment, so the next use makes a new one.
  static void setSharedForTesting(std::shared_ptr<TLMCrashes> service = nullptr);
  // The class the application names when it starts the SDK.
  static TLMServiceClass serviceClass();

  // Ends the process with an illegal instruction (when the service can be used).
  static void generateTestCrash();
  static bool hasCrashedInLastSession();
  static bool hasReceivedMemoryWarningInLastSession();
  static std::shared_ptr<TLMErrorReport> lastSessionCrashReport();
  // Signals instead of the "Mach exception server"; only before the first enabling.
  static void disableMachExceptionHandler();
  // Unless a debugger is attached, hands the exception to the reporter's
  // uncaught-exception handler kept at configuration.
  static void applicationDidReportException(const std::exception& exception);
  // The service's uncaught C++ exception handler: the exception goes to the
  // current uncaught-exception handler (the reporter's), then the process
  // aborts.
  static void uncaughtCXXExceptionHandler(const TLMCXXExceptionInfoRecord* info);

  // TLMServiceAbstract.
  std::string_view serviceName() const override { return kServiceName; }
  std::string_view logTag() const override { return kTLMCrashesLogTag; }
  std::string groupId() const override { return std::string(kServiceName); }
  std::optional<TLMChannelUnitConfiguration> channelUnitConfiguration() const override;
  std::int64_t initializationPriority() const override { return kInitializationPriority; }
  // Base start (which enables), then: channel delegate, buffer replay,
  // last session's memory warning.
  void startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                             std::optional<std::string> appSecret,
                             std::optional<std::string> transmissionTargetToken,
                             bool fromApplication) override;
  void updateConfigurationWithAppSecret(
      std::optional<std::string> appSecret,
      std::optional<std::string> transmissionTargetToken) override;
  void applyEnabledState(bool isEnabled) override;

  bool didCrashInLastSession() const;
  bool didReceiveMemoryWarningInLastSession() const;
  std::shared_ptr<TLMErrorReport> getLastSessionCrashReport() const;
  bool isMachExceptionHandlerEnabled() const;
  void setEnableMachExceptionHandler(bool enabled);
  bool isAutomaticProcessingEnabled() const;
  void setAutomaticProcessingEnabled(bool enabled);
  void setDelegate(std::optional<TLMCrashesDelegate> delegate);
  TLMUserConfirmationHandler userConfirmationHandler() const;
  void setUserConfirmationHandler(TLMUserConfirmationHandler handler);
  std::shared_ptr<ICrashReporter> crashReporter() const;
  platform::UncaughtExceptionHandler exceptionHandler() const;
  std::shared_ptr<TLMChannelUnitProtocol> bufferChannelUnit() const;

  void clearContextHistoryAndKeepCurrentSession();

  // Handled errors: a handled-error log with validated properties, then its
  // attachments. The error id; none when the service is not usable or disabled.
  std::optional<std::string> trackModelException(
      std::shared_ptr<TLMException> exception,
      const std::optional<std::map<std::string, std::string>>& properties,
      const TLMErrorAttachments& attachments);
  std::shared_ptr<TLMErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);

  // Stored reports.
  std::vector<std::filesystem::path> persistedCrashReports() const;
  std::vector<std::filesystem::path> crashFiles() const;
  // Answers whether "always send" is stored.
  bool shouldAlwaysSend() const;
  void notifyWithUserConfirmation(TLMUserConfirmation confirmation);
  void sendErrorAttachments(const TLMErrorAttachments& attachments,
                            const std::string& incidentIdentifier);
  // Waits until stored reports have been processed (or needed none).
  std::vector<std::shared_ptr<TLMErrorReport>> unprocessedCrashReports();
  bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
      const std::vector<std::string>& incidentIdentifiers);

  // TLMChannelDelegate.
  void didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                     const std::string& internalId, std::uint64_t flags) override;
  void didCompleteEnqueueingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                const std::string& internalId) override;
  void willSendLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didSucceedSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didFailSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                         const std::optional<base::Error>& error) override;

 private:
  friend class TLMCrashReportProcessing;

  explicit TLMCrashes(TLMCrashesEnvironment environment);

  std::shared_ptr<TLMSessionContext> sessionContext() const;
  std::shared_ptr<TLMUserIdContext> userIdContext() const;
  std::shared_ptr<TLMDeviceTracker> deviceTracker() const;
  const TLMErrorLogSources& formatterSources() const;
  bool isDebuggerAttached() const;

  const TLMCrashesEnvironment environment_;
  TLMErrorLogSources formatterSources_;
  std::shared_ptr<dispatch::Queue> processingQueue_;
  std::shared_ptr<dispatch::Queue> mainQueue_;
  const dispatch::Clock& clock_;
  const Date appStartTime_;
  std::unique_ptr<TLMCrashReporterSetup> reporterSetup_;
  std::unique_ptr<TLMCrashesMemoryWarnings> memoryWarnings_;
  std::unique_ptr<TLMCrashesBufferSlots> bufferSlots_;
  std::unique_ptr<TLMCrashesUserConfirmation> userConfirmation_;
  std::unique_ptr<TLMCrashReportProcessing> processing_;

  // Guarded by the service's monitor.
  bool didCrashInLastSession_ = false;
};

}  // namespace tlm

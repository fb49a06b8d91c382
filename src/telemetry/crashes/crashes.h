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
#include "telemetry/crashes/callbacks.h"
#include "telemetry/crashes/crash_reporter_interface.h"
#include "telemetry/crashes/cxx_exception_capture.h"
#include "telemetry/crashes/dependencies.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_records.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/crashes/exception_routing.h"
#include "telemetry/crashes/handled_errors.h"
#include "telemetry/crashes/memory_pressure.h"
#include "telemetry/crashes/memory_warnings.h"
#include "telemetry/crashes/pending_report.h"
#include "telemetry/crashes/report_processing.h"
#include "telemetry/crashes/reporter_setup.h"
#include "telemetry/crashes/shared_service.h"
#include "telemetry/crashes/user_confirmation.h"
#include "telemetry/sdk/service_abstract.h"
#include "telemetry/sdk/service_class.h"
#include "telemetry/security/encrypter.h"

namespace tlm {

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
// A facade over parts it owns and that share its monitor: the environment
// with its defaults (TLMCrashesDependencies), arming the reporter
// (TLMCrashReporterSetup), exception routes (TLMCrashesExceptionRouting), the
// previous run's pending report (TLMPendingCrashReport), the crash-time buffer
// (TLMCrashesBufferSlots), the channel's and the application's callbacks
// (TLMCrashesCallbacks), stored reports (TLMCrashReportProcessing), the user's
// confirmation (TLMCrashesUserConfirmation), handled errors
// (TLMHandledErrors) and memory warnings (TLMCrashesMemoryWarnings). The
// process-wide shared service and queues are TLMCrashesShared's.
class TLMCrashes final : public TLMServiceAbstract,
                         public std::enable_shared_from_this<TLMCrashes> {
 public:
  static constexpr std::string_view kClassName = "TLMCrashes";
  static constexpr std::string_view kServiceName = "Crashes";
  static constexpr std::string_view kBufferGroupId = TLMCrashesBufferSlots::kGroupId;
  static constexpr std::int64_t kInitializationPriority = 999;
  static constexpr std::string_view kAppDidReceiveMemoryWarningKey =
      TLMCrashesMemoryWarnings::kSettingKey;
  static constexpr std::string_view kUserConfirmationKey = TLMCrashesUserConfirmation::kSettingKey;
  static constexpr std::string_view kAnalyzerFileName = TLMPendingCrashReport::kAnalyzerFileName;
  static constexpr std::size_t kMaxAttachmentSize = TLMCrashReportProcessing::kMaxAttachmentSize;
  static constexpr std::uint64_t kFlagsNormal = kTLMCrashesFlagsNormal;
  static constexpr std::uint64_t kFlagsCritical = kTLMCrashesFlagsCritical;

  // Moves the settings of older SDK versions, registers the older archive
  // class names and sets up the crash-time buffer.
  static std::shared_ptr<TLMCrashes> make(TLMCrashesEnvironment environment = {});
  // The process's service (TLMCrashesShared::instance).
  static std::shared_ptr<TLMCrashes> sharedInstance();
  // The class the application names when it starts the SDK.
  static TLMServiceClass serviceClass();

  // Of the shared service. Ends the process with an illegal instruction (when
  // the service can be used).
  static void generateTestCrash();
  static bool hasCrashedInLastSession();
  static bool hasReceivedMemoryWarningInLastSession();
  static std::shared_ptr<TLMErrorReport> lastSessionCrashReport();
  // Signals instead of the "Mach exception server"; only before the first enabling.
  static void disableMachExceptionHandler();
  // TLMCrashesExceptionRouting::applicationDidReportException.
  static void applicationDidReportException(const std::exception& exception);

  // TLMServiceAbstract.
  std::string_view serviceName() const override { return kServiceName; }
  std::string_view logTag() const override { return kTLMCrashesLogTag; }
  std::string groupId() const override { return std::string(kServiceName); }
  std::optional<TLMChannelUnitConfiguration> channelUnitConfiguration() const override;
  std::int64_t initializationPriority() const override { return kInitializationPriority; }
  // Base start (which enables), then: the callbacks join the channel group,
  // buffer replay, last session's memory warning.
  void startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                             std::optional<std::string> appSecret,
                             std::optional<std::string> transmissionTargetToken,
                             bool fromApplication) override;
  void updateConfigurationWithAppSecret(
      std::optional<std::string> appSecret,
      std::optional<std::string> transmissionTargetToken) override;
  void applyEnabledState(bool isEnabled) override;

  // The parts.
  TLMCrashReporterSetup& reporterSetup() const { return *reporterSetup_; }
  TLMPendingCrashReport& pendingReport() const { return *pendingReport_; }
  TLMCrashesBufferSlots& bufferSlots() const { return *bufferSlots_; }
  TLMCrashesCallbacks& callbacks() const { return *callbacks_; }
  TLMCrashReportProcessing& processing() const { return *processing_; }
  TLMCrashesUserConfirmation& userConfirmation() const { return *userConfirmation_; }
  TLMHandledErrors& handledErrors() const { return *handledErrors_; }

 private:
  explicit TLMCrashes(TLMCrashesEnvironment environment);

  // Declared first: every part reads it.
  const TLMCrashesDependencies dependencies_;
  std::unique_ptr<TLMCrashReporterSetup> reporterSetup_;
  std::unique_ptr<TLMCrashesExceptionRouting> exceptionRouting_;
  std::unique_ptr<TLMPendingCrashReport> pendingReport_;
  std::unique_ptr<TLMCrashesMemoryWarnings> memoryWarnings_;
  std::unique_ptr<TLMCrashesBufferSlots> bufferSlots_;
  std::unique_ptr<TLMCrashesCallbacks> callbacks_;
  std::unique_ptr<TLMCrashesUserConfirmation> userConfirmation_;
  std::unique_ptr<TLMCrashReportProcessing> processing_;
  std::unique_ptr<TLMHandledErrors> handledErrors_;
};

}  // namespace tlm

#pragma once

// The entry point of an SDK that wraps the crash service for another
// language runtime: the crash-handler set-up delegate, and forwarding to the
// shared crash service's manual processing and handled errors.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/crashes/crashes.h"

namespace tlm {

// Each member is optional; an empty one counts as not implemented.
struct TLMCrashHandlerSetupDelegate {
  // Before the crash reporter is configured.
  std::function<void()> willSetUpCrashHandlers;
  // False keeps the wrapper's own uncaught-exception handler; not
  // implemented: true.
  std::function<bool()> shouldEnableUncaughtExceptionHandler;
  // After the crash reporter is configured.
  std::function<void()> didSetUpCrashHandlers;
};

class TLMWrapperCrashesHelper {
 public:
  // Held weakly.
  static void setCrashHandlerSetupDelegate(
      const std::shared_ptr<TLMCrashHandlerSetupDelegate>& delegate);
  static std::shared_ptr<TLMCrashHandlerSetupDelegate> getCrashHandlerSetupDelegate();
  static std::shared_ptr<TLMCrashHandlerSetupDelegate> crashHandlerSetupDelegate() {
    return getCrashHandlerSetupDelegate();
  }

  static void setAutomaticProcessing(bool automaticProcessing);
  static bool automaticProcessing();
  // Blocks until the stored reports have been processed.
  static std::vector<std::shared_ptr<TLMErrorReport>> unprocessedCrashReports();
  static bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
      const std::vector<std::string>& incidentIdentifiers);
  static void sendErrorAttachments(const TLMErrorAttachments& attachments,
                                   const std::string& incidentIdentifier);
  static std::optional<std::string> trackModelException(
      std::shared_ptr<TLMException> exception,
      const std::optional<std::map<std::string, std::string>>& properties,
      const TLMErrorAttachments& attachments);
  static std::shared_ptr<TLMErrorReport> buildHandledErrorReportWithErrorID(
      const std::string& errorId);
};

}  // namespace tlm

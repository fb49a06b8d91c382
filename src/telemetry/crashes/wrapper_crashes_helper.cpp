#include "telemetry/crashes/wrapper_crashes_helper.h"

#include <mutex>
#include <utility>

namespace tlm {
namespace {

struct SetupDelegateSlot {
  std::mutex mutex;
  std::weak_ptr<TLMCrashHandlerSetupDelegate> delegate;
};

SetupDelegateSlot& setupDelegateSlot() {
  static SetupDelegateSlot slot;
  return slot;
}

}  // namespace

void TLMWrapperCrashesHelper::setCrashHandlerSetupDelegate(
    const std::shared_ptr<TLMCrashHandlerSetupDelegate>& delegate) {
  std::lock_guard lock(setupDelegateSlot().mutex);
  setupDelegateSlot().delegate = delegate;
}

std::shared_ptr<TLMCrashHandlerSetupDelegate>
TLMWrapperCrashesHelper::getCrashHandlerSetupDelegate() {
  std::lock_guard lock(setupDelegateSlot().mutex);
  return setupDelegateSlot().delegate.lock();
}

void TLMWrapperCrashesHelper::setAutomaticProcessing(bool automaticProcessing) {
  TLMCrashes::sharedInstance()->processing().setAutomaticProcessingEnabled(automaticProcessing);
}

bool TLMWrapperCrashesHelper::automaticProcessing() {
  return TLMCrashes::sharedInstance()->processing().isAutomaticProcessingEnabled();
}

std::vector<std::shared_ptr<TLMErrorReport>> TLMWrapperCrashesHelper::unprocessedCrashReports() {
  return TLMCrashes::sharedInstance()->processing().unprocessedCrashReports();
}

bool TLMWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& incidentIdentifiers) {
  return TLMCrashes::sharedInstance()
      ->processing()
      .sendCrashReportsOrAwaitUserConfirmationForFilteredIds(incidentIdentifiers);
}

void TLMWrapperCrashesHelper::sendErrorAttachments(const TLMErrorAttachments& attachments,
                                                   const std::string& incidentIdentifier) {
  TLMCrashes::sharedInstance()->processing().sendErrorAttachments(attachments, incidentIdentifier);
}

std::optional<std::string> TLMWrapperCrashesHelper::trackModelException(
    std::shared_ptr<TLMException> exception,
    const std::optional<std::map<std::string, std::string>>& properties,
    const TLMErrorAttachments& attachments) {
  return TLMCrashes::sharedInstance()->handledErrors().trackModelException(std::move(exception),
                                                                           properties, attachments);
}

std::shared_ptr<TLMErrorReport> TLMWrapperCrashesHelper::buildHandledErrorReportWithErrorID(
    const std::string& errorId) {
  return TLMCrashes::sharedInstance()->handledErrors().buildHandledErrorReportWithErrorID(errorId);
}

}  // namespace tlm

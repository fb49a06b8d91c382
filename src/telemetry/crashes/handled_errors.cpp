#include "telemetry/crashes/handled_errors.h"

#include <mutex>
#include <utility>

#include "base/uuid.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/model/property_validation.h"

namespace tlm {

TLMHandledErrors::TLMHandledErrors(const TLMServiceAbstract& service,
                                   TLMCrashReportProcessing& processing,
                                   const TLMCrashesDependencies& dependencies)
    : service_(service), processing_(processing), dependencies_(dependencies) {}

std::optional<std::string> TLMHandledErrors::trackModelException(
    std::shared_ptr<TLMException> exception,
    const std::optional<std::map<std::string, std::string>>& properties,
    const TLMErrorAttachments& attachments) {
  std::lock_guard lock(service_.monitor());
  if (!service_.canBeUsed() || !service_.isEnabled()) return std::nullopt;
  auto log = std::make_shared<TLMHandledErrorLog>();
  log->userId = dependencies_.userIdContext()->userId();
  log->errorId = base::makeUuidString();
  log->exception = std::move(exception);
  if (properties && !properties->empty()) {
    log->properties = validateProperties(*properties, "ErrorLog: " + *log->errorId, *log->type);
  }
  if (const auto unit = service_.channelUnit()) unit->enqueueItem(log, kTLMCrashesFlagsNormal);
  if (!attachments.empty()) processing_.sendErrorAttachments(attachments, *log->errorId);
  return log->errorId;
}

std::shared_ptr<TLMErrorReport> TLMHandledErrors::buildHandledErrorReportWithErrorID(
    const std::string& errorId) const {
  return std::make_shared<TLMErrorReport>(errorId, std::string(), std::nullopt, std::nullopt,
                                          std::nullopt, dependencies_.appStartTime(),
                                          dependencies_.clock().now(),
                                          dependencies_.deviceTracker()->device(), 0);
}

}  // namespace tlm

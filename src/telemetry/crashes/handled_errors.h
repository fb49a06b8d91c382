#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "telemetry/crashes/dependencies.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_report.h"
#include "telemetry/crashes/report_processing.h"
#include "telemetry/sdk/service_abstract.h"

namespace tlm {

// The crash service's handled errors: errors the application (or a wrapper
// SDK) caught and reports itself, sent at once as handled-error logs.
class TLMHandledErrors {
 public:
  // `service`, `processing` and `dependencies` are the owning service's and
  // outlive this part.
  TLMHandledErrors(const TLMServiceAbstract& service, TLMCrashReportProcessing& processing,
                   const TLMCrashesDependencies& dependencies);

  // A handled-error log with validated properties, then its attachments. The
  // error id; none when the service is not usable or disabled.
  std::optional<std::string> trackModelException(
      std::shared_ptr<TLMException> exception,
      const std::optional<std::map<std::string, std::string>>& properties,
      const TLMErrorAttachments& attachments);
  // A report of a handled error: its id, the service's start and now.
  std::shared_ptr<TLMErrorReport> buildHandledErrorReportWithErrorID(
      const std::string& errorId) const;

 private:
  const TLMServiceAbstract& service_;
  TLMCrashReportProcessing& processing_;
  const TLMCrashesDependencies& dependencies_;
};

}  // namespace tlm

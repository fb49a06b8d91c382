#include "telemetry/crashes/error_report.h"

#include <algorithm>
#include <utility>

namespace tlm {

TLMErrorReport::TLMErrorReport(std::optional<std::string> errorId, std::string reporterKey,
                               std::optional<std::string> signalName,
                               std::optional<std::string> exceptionName,
                               std::optional<std::string> exceptionReason,
                               std::optional<Date> appStartTime, std::optional<Date> appErrorTime,
                               std::shared_ptr<const TLMDevice> device,
                               std::uint64_t appProcessIdentifier)
    : incidentIdentifier_(std::move(errorId)),
      reporterKey_(std::move(reporterKey)),
      signal_(std::move(signalName)),
      exceptionName_(std::move(exceptionName)),
      exceptionReason_(std::move(exceptionReason)),
      appStartTime_(appStartTime),
      appErrorTime_(appErrorTime),
      device_(std::move(device)),
      appProcessIdentifier_(appProcessIdentifier) {}

bool TLMErrorReport::isAppKill() const {
  if (!signal_) return false;
  std::string upper = *signal_;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
  return upper == "SIGKILL";
}

}  // namespace tlm

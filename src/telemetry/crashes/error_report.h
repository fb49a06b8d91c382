#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "telemetry/core/date_text.h"
#include "telemetry/model/device.h"

namespace tlm {

// The summary of a crash or handled error that the crash service hands to
// the application's delegate and callbacks; never sent. Read-only except
// `signal`.
class TLMErrorReport {
 public:
  TLMErrorReport(std::optional<std::string> errorId, std::string reporterKey,
                 std::optional<std::string> signalName, std::optional<std::string> exceptionName,
                 std::optional<std::string> exceptionReason, std::optional<Date> appStartTime,
                 std::optional<Date> appErrorTime, std::shared_ptr<const TLMDevice> device,
                 std::uint64_t appProcessIdentifier);

  // The error id, as the log's `errorId`.
  const std::optional<std::string>& incidentIdentifier() const { return incidentIdentifier_; }
  // The SDK's install id as UUID text, or empty.
  const std::string& reporterKey() const { return reporterKey_; }
  // Signal name.
  const std::optional<std::string>& signal() const { return signal_; }
  void setSignal(std::optional<std::string> signalName) { signal_ = std::move(signalName); }
  const std::optional<std::string>& exceptionName() const { return exceptionName_; }
  const std::optional<std::string>& exceptionReason() const { return exceptionReason_; }
  const std::optional<Date>& appStartTime() const { return appStartTime_; }
  const std::optional<Date>& appErrorTime() const { return appErrorTime_; }
  // The device record current at the error time.
  const std::shared_ptr<const TLMDevice>& device() const { return device_; }
  std::uint64_t appProcessIdentifier() const { return appProcessIdentifier_; }
  // The signal, upper-cased, is "SIGKILL".
  bool isAppKill() const;

 private:
  std::optional<std::string> incidentIdentifier_;
  std::string reporterKey_;
  std::optional<std::string> signal_;
  std::optional<std::string> exceptionName_;
  std::optional<std::string> exceptionReason_;
  std::optional<Date> appStartTime_;
  std::optional<Date> appErrorTime_;
  std::shared_ptr<const TLMDevice> device_;
  std::uint64_t appProcessIdentifier_;
};

}  // namespace tlm

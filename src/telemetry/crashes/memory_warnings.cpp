#include "telemetry/crashes/memory_warnings.h"

#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/crashes/error_log_formatter.h"

namespace tlm {

TLMCrashesMemoryWarnings::TLMCrashesMemoryWarnings(
    std::recursive_mutex& monitor, std::shared_ptr<TLMDarAvevedUserDefaults> settings)
    : monitor_(monitor), settings_(std::move(settings)) {}

void TLMCrashesMemoryWarnings::watch(TLMMemoryPressureSource& source,
                                     std::function<void()> onWarning) {
  std::lock_guard lock(monitor_);
  token_ = source.observe(std::move(onWarning));
}

void TLMCrashesMemoryWarnings::stopWatching() {
  std::lock_guard lock(monitor_);
  token_.reset();
}

void TLMCrashesMemoryWarnings::record() {
  settings_->setObject(true, kSettingKey);
}

void TLMCrashesMemoryWarnings::takeLastSession() {
  std::lock_guard lock(monitor_);
  const auto stored = settings_->objectForKey(kSettingKey);
  const bool* flag = stored ? stored->getIf<bool>() : nullptr;
  receivedInLastSession_ = flag && *flag;
  if (receivedInLastSession_) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "The application received a low memory warning in the last session.");
  }
  settings_->removeObjectForKey(kSettingKey);
}

void TLMCrashesMemoryWarnings::forget() {
  settings_->removeObjectForKey(kSettingKey);
}

bool TLMCrashesMemoryWarnings::receivedInLastSession() const {
  std::lock_guard lock(monitor_);
  return receivedInLastSession_;
}

}  // namespace tlm

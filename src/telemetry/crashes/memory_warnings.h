#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/crashes/memory_pressure.h"

namespace tlm {

// The crash service's memory warnings: a warning is remembered in the
// settings, and the next run reads (and forgets) it as "received in the last
// session". Its state is guarded by the owning service's monitor.
class TLMCrashesMemoryWarnings {
 public:
  static constexpr std::string_view kSettingKey = "AppDidReceiveMemoryWarning";

  // `monitor` is the owning service's and outlives this part.
  TLMCrashesMemoryWarnings(std::recursive_mutex& monitor,
                           std::shared_ptr<TLMDarAvevedUserDefaults> settings);

  // Calls `onWarning` at each warning of `source` until `stopWatching`.
  void watch(TLMMemoryPressureSource& source, std::function<void()> onWarning);
  void stopWatching();
  // Remembers a warning for the next run.
  void record();
  // Reads and forgets the previous run's warning.
  void takeLastSession();
  // Forgets a remembered warning.
  void forget();
  bool receivedInLastSession() const;

 private:
  std::recursive_mutex& monitor_;
  const std::shared_ptr<TLMDarAvevedUserDefaults> settings_;
  // Guarded by the monitor.
  std::shared_ptr<void> token_;
  bool receivedInLastSession_ = false;
};

}  // namespace tlm

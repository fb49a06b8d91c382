#pragma once

#include <cstdint>

#include "telemetry/analytics/event_properties.h"

namespace wendrix {

// Application counts of one restore; the restore counts them.
struct RestoreStatistics {
  std::int64_t total = 0;
  std::int64_t success = 0;
  std::int64_t timeouts = 0;
  std::int64_t errors = 0;

  // A new property map: TotalApps, SuccessApps, TimeoutApps, ErrorApps (int64,
  // in this order). The restore adds TimeInSec and sends it.
  tlm::TLMEventProperties eventProperties() const;

  friend bool operator==(const RestoreStatistics&, const RestoreStatistics&) = default;
};

}  // namespace wendrix

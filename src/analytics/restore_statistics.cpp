#include "analytics/restore_statistics.h"

#include "analytics/vocabulary.h"

namespace wendrix {

tlm::TLMEventProperties RestoreStatistics::eventProperties() const {
  tlm::TLMEventProperties properties;
  properties.setInt64(keys::kTotalApps, total)
      .setInt64(keys::kSuccessApps, success)
      .setInt64(keys::kTimeoutApps, timeouts)
      .setInt64(keys::kErrorApps, errors);
  return properties;
}

}  // namespace wendrix

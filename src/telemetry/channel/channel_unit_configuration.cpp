#include "telemetry/channel/channel_unit_configuration.h"

#include <utility>

namespace tlm {

TLMChannelUnitConfiguration::TLMChannelUnitConfiguration(std::string groupId, std::int64_t priority,
                                                         std::uint64_t flushInterval,
                                                         std::uint64_t batchSizeLimit,
                                                         std::uint64_t pendingBatchesLimit)
    : groupId_(std::move(groupId)),
      priority_(priority),
      flushInterval_(flushInterval),
      batchSizeLimit_(batchSizeLimit),
      pendingBatchesLimit_(pendingBatchesLimit) {}

TLMChannelUnitConfiguration::TLMChannelUnitConfiguration(std::string groupId,
                                                         std::uint64_t flushInterval)
    : TLMChannelUnitConfiguration(std::move(groupId), kDefaultPriority, flushInterval,
                                  kDefaultBatchSizeLimit, kDefaultPendingBatchesLimit) {}

TLMChannelUnitConfiguration::TLMChannelUnitConfiguration(std::string groupId)
    : TLMChannelUnitConfiguration(std::move(groupId), kDefaultFlushInterval) {}

}  // namespace tlm

#pragma once

#include <cstdint>
#include <string>

namespace tlm {

// How one channel unit batches and sends: its group id (the unit's key in the
// log store and in settings), batch size, batches in flight and flush
// interval. Immutable once made.
//
// A flush interval of exactly 3 seconds is also a switch: only such a unit
// flushes at once when a batch is full, and only longer intervals keep their
// start time across launches.
class TLMChannelUnitConfiguration {
 public:
  static constexpr std::int64_t kDefaultPriority = 1;
  static constexpr std::uint64_t kDefaultBatchSizeLimit = 50;
  static constexpr std::uint64_t kDefaultPendingBatchesLimit = 3;
  static constexpr std::uint64_t kDefaultFlushInterval = 3;

  TLMChannelUnitConfiguration(std::string groupId, std::int64_t priority,
                              std::uint64_t flushInterval, std::uint64_t batchSizeLimit,
                              std::uint64_t pendingBatchesLimit);
  // Priority 1, batch size 50, 3 batches in flight.
  TLMChannelUnitConfiguration(std::string groupId, std::uint64_t flushInterval);
  // As above with a flush interval of 3 seconds.
  explicit TLMChannelUnitConfiguration(std::string groupId);

  const std::string& groupId() const { return groupId_; }
  // Kept and readable only; the store orders logs by each log's own flags.
  std::int64_t priority() const { return priority_; }
  std::uint64_t flushInterval() const { return flushInterval_; }
  std::uint64_t batchSizeLimit() const { return batchSizeLimit_; }
  std::uint64_t pendingBatchesLimit() const { return pendingBatchesLimit_; }

 private:
  std::string groupId_;
  std::int64_t priority_;
  std::uint64_t flushInterval_;
  std::uint64_t batchSizeLimit_;
  std::uint64_t pendingBatchesLimit_;
};

}  // namespace tlm

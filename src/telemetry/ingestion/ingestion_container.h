#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tlm {

// What an ingestion reads from one log of a batch.
class TLMIngestionLog {
 public:
  virtual ~TLMIngestionLog() = default;
  // The log's compact JSON text, or nothing when it cannot be written.
  virtual std::optional<std::string> serializeLog() const = 0;
  virtual std::set<std::string> transmissionTargetTokens() const = 0;
  // The ticket keys of a common-schema log's protocol extension; empty otherwise.
  virtual std::vector<std::string> ticketKeys() const = 0;
};

// What an ingestion reads from a batch of logs (a log container).
class TLMIngestionContainer {
 public:
  virtual ~TLMIngestionContainer() = default;
  virtual std::string batchId() const = 0;
  virtual bool isValid() const = 0;
  // The container's JSON text ({"logs":[...]}), or nothing.
  virtual std::optional<std::string> serializeLog() const = 0;
  virtual std::size_t logCount() const = 0;
  virtual const TLMIngestionLog& logAt(std::size_t index) const = 0;
};

}  // namespace tlm

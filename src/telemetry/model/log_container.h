#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/model/abstract_log.h"

namespace tlm {

// The logs of one batch; its JSON text is the body sent to the log endpoint.
class TLMLogContainer {
 public:
  TLMLogContainer() = default;
  TLMLogContainer(std::optional<std::string> id, std::vector<std::shared_ptr<TLMAbstractLog>> batch)
      : batchId(std::move(id)), logs(std::move(batch)) {}

  // Identifies the batch in the log store; not part of the JSON.
  std::optional<std::string> batchId;
  std::vector<std::shared_ptr<TLMAbstractLog>> logs;

  // {"logs":[...]} in batch order; none (logged at ERROR) when it cannot be
  // written.
  std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
  std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;

  // False for an empty container or when any log is invalid.
  bool isValid() const;
};

}  // namespace tlm

#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/error.h"
#include "telemetry/http/http_types.h"
#include "telemetry/model/log_container.h"

namespace tlm {

// The batch sender the channels use. The handler receives the batch id, the
// HTTP response, the response body and an error, on any thread.
class TLMIngestionProtocol {
 public:
  using CompletionHandler = std::function<void(
      const std::string& batchId, const std::optional<TLMHttpResponse>& response,
      const std::optional<std::string>& body, const std::optional<base::Error>& error)>;

  virtual ~TLMIngestionProtocol() = default;
  virtual bool isReadyToSend() const = 0;
  // `container` may be null (answered with the invalid-container error).
  virtual void sendAsync(const TLMLogContainer* container, CompletionHandler handler) = 0;
  virtual void sendAsync(const TLMLogContainer* container, const std::optional<std::string>& eTag,
                         CompletionHandler handler) = 0;
  virtual void setEnabled(bool enabled, bool deleteDataOnDisabled) = 0;
};

}  // namespace tlm

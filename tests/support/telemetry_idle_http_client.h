#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/http/http_client.h"

namespace tlm::testing {

// An HTTP client that sends nothing, for code that only needs one to exist.
class IdleHttpClient final : public TLMHttpClientProtocol {
 public:
  using TLMHttpClientProtocol::sendAsync;
  void sendAsync(const std::string&, const std::string&, const TLMHttpHeaders&,
                 std::optional<std::string>, const std::vector<double>&, bool,
                 TLMHttpCompletionHandler) override {}
  void pause() override {}
  void resume() override {}
  void setEnabled(bool, bool) override {}
  std::shared_ptr<TLMHttpClientDelegate> delegate() const override { return nullptr; }
  void setDelegate(std::weak_ptr<TLMHttpClientDelegate>) override {}
};

}  // namespace tlm::testing

#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "telemetry/http/http_types.h"

namespace tlm {

// Settings a transport is made from.
struct TLMHttpTransportConfiguration {
  // Most parallel connections to one host; none means no limit.
  std::optional<long> maxConnectionsPerHost;
  // Time-out of a whole request.
  std::chrono::milliseconds timeout{std::chrono::seconds(60)};
};

// Carries requests over the network. Completions arrive on the transport's own
// thread, one per started request. After `invalidateAndCancel()` requests in
// flight complete with the cancelled error (-999) and new ones fail the same way.
class TLMHttpTransport {
 public:
  using Completion = std::function<void(std::optional<TLMHttpResponse> response, std::string body,
                                        std::optional<base::Error> error)>;

  virtual ~TLMHttpTransport() = default;
  virtual void start(TLMHttpRequest request, Completion completion) = 0;
  virtual void invalidateAndCancel() = 0;
};

using TLMHttpTransportFactory = std::function<std::unique_ptr<TLMHttpTransport>()>;

// The real transport: libcurl's multi interface on one worker thread.
std::unique_ptr<TLMHttpTransport> TLMMakeCurlTransport(TLMHttpTransportConfiguration configuration);

}  // namespace tlm

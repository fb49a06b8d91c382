#pragma once

#include <chrono>
#include <cstddef>
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

// The most bytes of a response body a transport hands back. Ingestion replies
// are small; a longer body is cut here and its transfer ended, so a server
// cannot make the client hold more.
inline constexpr std::size_t kTLMMaxResponseBodyBytes = 4 * 1024 * 1024;

// Carries requests over the network. Completions arrive on the transport's own
// thread, one per started request. After `invalidateAndCancel()` requests in
// flight complete with the cancelled error (-999) and new ones fail the same way.
// A body longer than kTLMMaxResponseBodyBytes completes with the response and
// the body's first kTLMMaxResponseBodyBytes bytes; the rest is not read.
class TLMHttpTransport {
 public:
  using Completion = std::function<void(std::optional<TLMHttpResponse> response, std::string body,
                                        std::optional<base::Error> error)>;

  virtual ~TLMHttpTransport() = default;
  virtual void start(TLMHttpRequest request, Completion completion) = 0;
  virtual void invalidateAndCancel() = 0;
};

// Makes a transport; the program's is curl's (linux/curl_transport.h).
using TLMHttpTransportFactory = std::function<std::unique_ptr<TLMHttpTransport>()>;

}  // namespace tlm

#pragma once

#include <memory>

#include "telemetry/http/http_transport.h"

namespace tlm {

// The program's transport: libcurl's multi interface on one worker thread,
// named as below, which sleeps while there is nothing to send.
inline constexpr const char* kTLMHttpWorkerThreadName = "tlm-http";
std::unique_ptr<TLMHttpTransport> TLMMakeCurlTransport(TLMHttpTransportConfiguration configuration);

// Makes a curl transport with `configuration` at each call.
TLMHttpTransportFactory TLMCurlTransportFactory(TLMHttpTransportConfiguration configuration = {});

}  // namespace tlm

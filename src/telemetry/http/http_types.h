#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"

namespace tlm {

// Orders header names without regard to ASCII case, so "content-type" and
// "Content-Type" name one header.
struct TLMCaseInsensitiveLess {
  bool operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
      return lower(x) < lower(y);
    });
  }
  using is_transparent = void;
};

inline bool TLMHeaderNameEquals(std::string_view a, std::string_view b) {
  return !TLMCaseInsensitiveLess()(a, b) && !TLMCaseInsensitiveLess()(b, a);
}

using TLMHttpHeaders = std::map<std::string, std::string, TLMCaseInsensitiveLess>;

// The error domain of the SDK and the codes the send path produces.
inline constexpr const char* kTLMErrorDomain = "com.Zodoradud.DarAveved.ErrorDomain";
inline constexpr std::int64_t kTLMInvalidContainerErrorCode = 1;
inline constexpr std::int64_t kTLMCanceledErrorCode = 2;
inline constexpr std::int64_t kTLMDisabledErrorCode = 3;
inline constexpr const char* kTLMInvalidContainerErrorDesc = "Invalid log container.";
inline constexpr const char* kTLMCanceledErrorDesc = "The operation was canceled.";
inline constexpr const char* kTLMDisabledErrorDesc = "The service is disabled.";

// Transport failures keep the URL-loading error codes the client classifies by.
inline constexpr const char* kTLMURLErrorDomain = "TLMURLErrorDomain";
enum TLMURLErrorCode : std::int64_t {
  TLMURLErrorUnknown = -1,
  TLMURLErrorCancelled = -999,
  TLMURLErrorBadURL = -1000,
  TLMURLErrorTimedOut = -1001,
  TLMURLErrorCannotFindHost = -1003,
  TLMURLErrorCannotConnectToHost = -1004,
  TLMURLErrorNetworkConnectionLost = -1005,
  TLMURLErrorNotConnectedToInternet = -1009,
  TLMURLErrorBadServerResponse = -1011,
  TLMURLErrorSecureConnectionFailed = -1200,
  TLMURLErrorServerCertificateUntrusted = -1202,
};

inline base::Error TLMCanceledError() {
  return {kTLMErrorDomain, kTLMCanceledErrorCode, kTLMCanceledErrorDesc};
}
inline base::Error TLMDisabledError() {
  return {kTLMErrorDomain, kTLMDisabledErrorCode, kTLMDisabledErrorDesc};
}

// One request as handed to a transport.
struct TLMHttpRequest {
  std::string url;
  std::string method;
  TLMHttpHeaders headers;
  std::optional<std::string> body;
};

// The head of an HTTP answer.
struct TLMHttpResponse {
  std::int64_t statusCode = 0;
  TLMHttpHeaders headers;
};

// What a finished request gives back: a response (absent on a transport
// error), the body bytes received, and the transport error if any.
using TLMHttpCompletionHandler = std::function<void(const std::optional<std::string>& body,
                                                    const std::optional<TLMHttpResponse>& response,
                                                    const std::optional<base::Error>& error)>;

}  // namespace tlm

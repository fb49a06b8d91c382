#include "telemetry/http/http_util.h"

#include "base/utf8.h"
#include "telemetry/http/http_types.h"

namespace tlm {

namespace {
constexpr std::size_t kVisibleSecretLength = 8;
}

bool TLMHttpUtil::isRecoverableError(std::int64_t statusCode) {
  return statusCode >= 500 || statusCode == 408 || statusCode == 429 || statusCode == 0;
}

bool TLMHttpUtil::isSuccessStatusCode(std::int64_t statusCode) {
  return statusCode >= 200 && statusCode < 300;
}

bool TLMHttpUtil::isNoInternetConnectionError(const base::Error& error) {
  return error.domain == kTLMURLErrorDomain && (error.code == TLMURLErrorNotConnectedToInternet ||
                                                error.code == TLMURLErrorNetworkConnectionLost);
}

bool TLMHttpUtil::isSSLConnectionError(const base::Error& error) {
  return error.domain == kTLMURLErrorDomain && error.code >= -2000 && error.code <= -1200;
}

std::string TLMHttpUtil::hideSecret(const std::string& secret) {
  // Counted in characters (UTF-16 units), not bytes: a short secret of
  // multi-byte characters is still hidden whole.
  const std::u16string units = base::toUtf16(secret);
  const std::size_t hidden =
      units.size() <= kVisibleSecretLength ? units.size() : units.size() - kVisibleSecretLength;
  return std::string(hidden, '*') + base::fromUtf16(std::u16string_view(units).substr(hidden));
}

std::string TLMHttpUtil::hideSecretInString(const std::string& string, const std::string& secret) {
  if (secret.empty()) return string;
  const std::string masked = hideSecret(secret);
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; (at = string.find(secret, from)) != std::string::npos;
       from = at + secret.size()) {
    out.append(string, from, at - from).append(masked);
  }
  return out.append(string, from);
}

}  // namespace tlm

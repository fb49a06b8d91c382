#pragma once

#include <cstdint>
#include <string>

#include "base/error.h"

namespace tlm {

// Classification of HTTP outcomes and masking of secrets in log text.
class TLMHttpUtil {
 public:
  // 0, 408, 429 and every code of 500 or more.
  static bool isRecoverableError(std::int64_t statusCode);
  static bool isSuccessStatusCode(std::int64_t statusCode);
  // Not connected (-1009) or connection lost (-1005) in the URL error domain.
  static bool isNoInternetConnectionError(const base::Error& error);
  // -2000 to -1200 in the URL error domain.
  static bool isSSLConnectionError(const base::Error& error);
  // All characters as "*" for 8 or fewer, else all but the last 8
  // (characters counted as UTF-16 units).
  static std::string hideSecret(const std::string& secret);
  static std::string hideSecretInString(const std::string& string, const std::string& secret);
};

}  // namespace tlm

#include "telemetry/http/http_url.h"

#include <curl/curl.h>

#include <memory>
#include <string_view>

namespace tlm {

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

UrlPtr parse(const std::string& text) {
  UrlPtr url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return nullptr;
  char* host = nullptr;
  if (curl_url_get(url.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK || !host || !*host) {
    curl_free(host);
    return nullptr;
  }
  curl_free(host);
  return url;
}

std::optional<std::string> part(CURLU* url, CURLUPart which) {
  char* value = nullptr;
  if (curl_url_get(url, which, &value, 0) != CURLUE_OK || !value) return std::nullopt;
  std::string out(value);
  curl_free(value);
  return out;
}

}  // namespace

std::optional<std::string> TLMParseURL(const std::string& text) {
  UrlPtr url = parse(text);
  if (!url) return std::nullopt;
  return part(url.get(), CURLUPART_URL);
}

std::optional<std::string> TLMReplaceURLComponents(const std::string& target,
                                                   const std::string& source) {
  UrlPtr to = parse(target);
  UrlPtr from = parse(source);
  if (!to || !from) return std::nullopt;
  for (CURLUPart which : {CURLUPART_SCHEME, CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_HOST,
                          CURLUPART_PORT, CURLUPART_PATH}) {
    auto value = part(from.get(), which);
    if (curl_url_set(to.get(), which, value ? value->c_str() : nullptr, 0) != CURLUE_OK) {
      return std::nullopt;
    }
  }
  return part(to.get(), CURLUPART_URL);
}

std::string TLMPercentEncodeQuery(const std::string& text) {
  static constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/?";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alnum || kAllowed.find(static_cast<char>(c)) != std::string_view::npos) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

}  // namespace tlm

// URL text as the program and the SDK meet it: a URL parsed and taken apart
// (its file path, its query as the URL commands read it), a reference
// resolved against it, and the SDK's endpoint URL handling.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/url.h"
#include "fuzz_input.h"
#include "telemetry/http/http_url.h"
#include "util/query_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::asText(data, size);

  if (auto url = base::Url::parse(text)) {
    (void)url->scheme();
    (void)url->host();
    (void)url->path();
    if (auto path = url->filePath()) (void)base::Url::fromFilePath(*path);
    for (const auto& [key, value] : wendrix::parseQueryString(url->query()))
      (void)wendrix::percentDecode(key + value);
    (void)url->resolve("../a/./b?c=d#e");
  }
  if (auto base = base::Url::parse("wendrix://restore/a/b?name=Work")) (void)base->resolve(text);
  (void)wendrix::parseQueryString(text);
  (void)wendrix::percentDecode(text);

  const std::string owned(text);
  (void)tlm::TLMParseURL(owned);
  (void)tlm::TLMReplaceURLComponents("https://in.example/logs?api-version=1.0.0", owned);
  (void)tlm::TLMReplaceURLComponents(owned, "https://other.example:8443/base");
  (void)tlm::TLMPercentEncodeQuery(owned);
  return 0;
}

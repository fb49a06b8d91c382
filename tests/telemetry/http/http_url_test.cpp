#include "telemetry/http/http_url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tlm {
namespace {

TEST(TLMHttpUrlTest, ParsesAbsoluteUrlsIntoTheirNormalForm) {
  struct Case {
    const char* text;
    std::optional<std::string> url;
  } cases[] = {
      {"https://in.example", "https://in.example/"},
      {"HTTPS://IN.Example:443/a/../b/./c?x=1#f", "https://IN.Example:443/b/c?x=1#f"},
      {"http://h:080/x?#", "http://h:80/x"},
      {"http://h:/x", "http://h/x"},
      {"http:/h?q", "http://h/?q"},
      {"http://user:pw@h/p", "http://user:pw@h/p"},
      {"http://0x7f.1/", "http://127.0.0.1/"},
      {"http://[::01]:81/x", "http://[::1]:81/x"},
      {"http://[fe80::1%25eth0]/x", "http://[fe80::1%25eth0]/x"},
      {"http://ex%41mple/", "http://exAmple/"},
      {"http://in%.example/", "http://in%25.example/"},
      {"http://h/é", "http://h/é"},
      // Not absolute URLs with a host, or with what no URL holds.
      {"not a url", std::nullopt},
      {"http://h/a b", std::nullopt},
      {"foo://x/y", std::nullopt},
      {"file:///tmp/x", std::nullopt},
      {"http:x", std::nullopt},
      {"http:////x", std::nullopt},
      {"http://", std::nullopt},
      {"http://h:8a/x", std::nullopt},
      {"http://h:65536/x", std::nullopt},
      {"http://h*x/", std::nullopt},
      {"http://a@b@c/x", std::nullopt},
      {"http://[::1/x", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TLMParseURL(c.text), c.url);
  }
}

TEST(TLMHttpUrlTest, ReplacingComponentsKeepsTheTargetsQueryAndFragment) {
  EXPECT_EQ(TLMReplaceURLComponents("https://in.example/logs?api-version=1.0.0#f",
                                    "http://u@other:81/x/%C3%A9?ignored"),
            "http://u@other:81/x/%c3%a9?api-version=1.0.0#f");
  EXPECT_EQ(TLMReplaceURLComponents("https://in.example/logs", "http://[::1%25eth0]/x"),
            "http://[::1]/x");
  EXPECT_EQ(TLMReplaceURLComponents("https://in.example/logs", "::not a url::"), std::nullopt);
  EXPECT_EQ(TLMReplaceURLComponents("not a url", "https://in.example"), std::nullopt);
}

}  // namespace
}  // namespace tlm

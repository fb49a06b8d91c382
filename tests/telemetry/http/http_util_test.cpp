#include "telemetry/http/http_util.h"

#include <gtest/gtest.h>

#include "telemetry/http/http_types.h"

namespace tlm {
namespace {

TEST(TLMHttpUtilTest, ClassifiesStatusCodes) {
  struct Case {
    std::int64_t status;
    bool recoverable;
    bool success;
  } cases[] = {{0, true, false},   {199, false, false}, {200, false, true},  {204, false, true},
               {299, false, true}, {300, false, false}, {401, false, false}, {404, false, false},
               {408, true, false}, {429, true, false},  {499, false, false}, {500, true, false},
               {503, true, false}, {599, true, false},  {600, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(TLMHttpUtil::isRecoverableError(c.status), c.recoverable);
    EXPECT_EQ(TLMHttpUtil::isSuccessStatusCode(c.status), c.success);
  }
}

TEST(TLMHttpUtilTest, ClassifiesTransportErrors) {
  struct Case {
    const char* domain;
    std::int64_t code;
    bool offline;
    bool ssl;
  } cases[] = {{kTLMURLErrorDomain, -1009, true, false},  {kTLMURLErrorDomain, -1005, true, false},
               {kTLMURLErrorDomain, -1004, false, false}, {kTLMURLErrorDomain, -1199, false, false},
               {kTLMURLErrorDomain, -1200, false, true},  {kTLMURLErrorDomain, -1202, false, true},
               {kTLMURLErrorDomain, -2000, false, true},  {kTLMURLErrorDomain, -2001, false, false},
               {kTLMErrorDomain, -1009, false, false},    {kTLMErrorDomain, -1200, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.domain) + " " + std::to_string(c.code));
    base::Error error(c.domain, c.code, "x");
    EXPECT_EQ(TLMHttpUtil::isNoInternetConnectionError(error), c.offline);
    EXPECT_EQ(TLMHttpUtil::isSSLConnectionError(error), c.ssl);
  }
}

TEST(TLMHttpUtilTest, HidesAllButTheLastEightCharacters) {
  EXPECT_EQ(TLMHttpUtil::hideSecret(""), "");
  EXPECT_EQ(TLMHttpUtil::hideSecret("12345678"), "********");
  EXPECT_EQ(TLMHttpUtil::hideSecret("123456789"), "*23456789");
  // Characters, not bytes: five two-byte letters are all hidden.
  EXPECT_EQ(TLMHttpUtil::hideSecret("\u00e9\u00e9\u00e9\u00e9\u00e9"), "*****");
  EXPECT_EQ(TLMHttpUtil::hideSecret("\u00e90123456789"), "***23456789");
  const std::string secret = "0123456789abcdef0123456789abcdef0123";  // 36 characters
  EXPECT_EQ(TLMHttpUtil::hideSecret(secret), std::string(28, '*') + "cdef0123");
  EXPECT_EQ(TLMHttpUtil::hideSecretInString("a=" + secret + ";b=" + secret, secret),
            "a=" + TLMHttpUtil::hideSecret(secret) + ";b=" + TLMHttpUtil::hideSecret(secret));
}

}  // namespace
}  // namespace tlm

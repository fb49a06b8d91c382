#include "base/uuid.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(UuidTest, MakesDistinctUpperCaseVersion4Uuids) {
  const std::string a = makeUuidString();
  const std::string b = makeUuidString();
  EXPECT_NE(a, b);
  ASSERT_TRUE(isUuidString(a));
  EXPECT_EQ(a[14], '4');                                          // version
  EXPECT_NE(std::string("89AB").find(a[19]), std::string::npos);  // variant
  for (char c : a)
    EXPECT_FALSE(c >= 'a' && c <= 'z') << a;
}

TEST(UuidTest, RecognisesCanonicalText) {
  EXPECT_TRUE(isUuidString("1b4e28ba-2fa1-11d2-883f-0016d3cca427"));
  for (const char* bad :
       {"", "1B4E28BA2FA111D2883F0016D3CCA427", "1B4E28BA-2FA1-11D2-883F-0016D3CCA42",
        "1B4E28BA-2FA1-11D2-883F-0016D3CCA4270", "1B4E28BA-2FA1-11D2-883F_0016D3CCA427",
        "GB4E28BA-2FA1-11D2-883F-0016D3CCA427"}) {
    EXPECT_FALSE(isUuidString(bad)) << bad;
  }
}

}  // namespace
}  // namespace base

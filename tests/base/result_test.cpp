#include "base/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace base {
namespace {

TEST(ResultTest, HoldsValueOrError) {
  Result<std::string> good("x");
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(*good, "x");
  EXPECT_EQ(good->size(), 1u);

  Result<std::string> bad(Error("test", 7, "broken"));
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().code, 7);
  EXPECT_EQ(bad.valueOr("fallback"), "fallback");

  Result<std::unique_ptr<int>> moved(std::make_unique<int>(3));
  std::unique_ptr<int> p = std::move(moved).value();
  EXPECT_EQ(*p, 3);

  Status done;
  EXPECT_TRUE(done.ok());
  Status failed(Error("test", 1, "no"));
  EXPECT_EQ(failed.error().description, "no");
}

}  // namespace
}  // namespace base

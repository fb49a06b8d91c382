#include "base/shared_vector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace base {
namespace {

TEST(SharedVectorTest, CopiesShareUntilOneIsEdited) {
  SharedVector<std::string> a(std::vector<std::string>{"x", "y"});
  SharedVector<std::string> b = a;
  EXPECT_EQ(&a.items(), &b.items());

  b.edit()[0] = "changed";
  b.push_back("z");
  EXPECT_EQ(a.items(), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(b.items(), (std::vector<std::string>{"changed", "y", "z"}));
  EXPECT_FALSE(a == b);

  // An unshared vector is edited where it is.
  const auto* before = &b.items();
  b.edit().pop_back();
  EXPECT_EQ(&b.items(), before);
}

TEST(SharedVectorTest, EmptyAndEqualByElements) {
  SharedVector<int> empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.begin(), empty.end());
  empty.push_back(1);
  EXPECT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty, (SharedVector<int>{1}));
  const std::vector<int>& asVector = empty;
  EXPECT_EQ(asVector, std::vector<int>{1});
}

}  // namespace
}  // namespace base

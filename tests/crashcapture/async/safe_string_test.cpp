#include "crashcapture/readers/core/safe_string.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tlcrash {
namespace {

int sign(int value) {
  return (value > 0) - (value < 0);
}

TEST(SafeStringTest, ComparesLikeTheCLibraryAnsweringTheDifferenceOfTheFirstDifferingBytes) {
  struct Case {
    const char* a;
    const char* b;
    std::size_t n;
    int difference;  // of tlcrash_async_strcmp
  };
  const Case cases[] = {
      {"", "", 0, 0},        {"abc", "abc", 3, 0},     {"abc", "abd", 3, -1},
      {"abd", "abc", 2, 1},  {"ab", "abc", 5, -'c'},   {"abc", "ab", 5, 'c'},
      {"abc", "abd", 2, -1}, {"a\x80", "a\x7f", 2, 1}, {"same", "same", 100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.a << "\" \"" << c.b << "\" " << c.n);
    EXPECT_EQ(tlcrash_async_strcmp(c.a, c.b), c.difference);
    EXPECT_EQ(sign(tlcrash_async_strcmp(c.a, c.b)), sign(std::strcmp(c.a, c.b)));
    EXPECT_EQ(sign(tlcrash_async_strncmp(c.a, c.b, c.n)), sign(std::strncmp(c.a, c.b, c.n)));
  }
}

TEST(SafeStringTest, CopiesAndFillsExactlyTheGivenBytes) {
  char buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(tlcrash_async_memcpy(buffer + 1, "abc", 3), buffer + 1);
  EXPECT_EQ(std::string(buffer, 8), "xabcxxxx");
  EXPECT_EQ(tlcrash_async_memset(buffer + 4, 'z', 2), buffer + 4);
  EXPECT_EQ(std::string(buffer, 8), "xabczzxx");
  tlcrash_async_memset(buffer, 0, 0);
  EXPECT_EQ(std::string(buffer, 8), "xabczzxx");
}

}  // namespace
}  // namespace tlcrash

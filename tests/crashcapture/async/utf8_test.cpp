#include "crashcapture/readers/core/utf8_prefix.h"

#include <gtest/gtest.h>

#include <string>

namespace tlcrash {
namespace {

TEST(Utf8ValidPrefixTest, CountsTheLeadingBytesThatFormWholeValidSequences) {
  struct Case {
    std::string bytes;
    std::size_t prefix;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 3},
      {"ab\xC3", 2},  // a lead byte that is the last byte of the buffer
      {"ab\xC3\xA9", 4},
      {"\xE2\x82\xAC!", 4},
      {"\xE2\x82", 0},
      {"\xF0\x9F\x98\x80x", 5},
      {"a\xF8\x80\x80\x80", 1},  // no such lead byte
      {"a\x80", 1},              // a continuation byte where a lead is due
      {"a\xC3(", 1},             // a lead byte followed by a non-continuation byte
      {std::string("ab\0cd", 5), 2},
      {"\xEF\xBB\xBFname", 7},  // a byte-order mark is counted
      {"\xEF\xBB", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(tlcrash_async_utf8_valid_prefix(c.bytes.data(), c.bytes.size()), c.prefix);
  }
}

}  // namespace
}  // namespace tlcrash

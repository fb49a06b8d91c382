#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8Test, RepairReplacesEachMaximalSubpart) {
  struct Case {
    const char* name;
    std::string input;
    std::string repaired;
  };
  const Case cases[] = {
      {"valid mixed text is kept", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"truncated 3-byte sequence at end", "a\xE2\x82", "a" + kFffd},
      {"truncated 4-byte sequence before ASCII",
       "\xF0\x9F\x98"
       "b",
       kFffd + "b"},
      {"overlong two-byte NUL", "\xC0\x80", kFffd + kFffd},
      {"overlong three-byte slash", "\xE0\x80\xAF", kFffd + kFffd + kFffd},
      {"encoded high surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"encoded low surrogate between text", "x\xED\xBF\xBFy", "x" + kFffd + kFffd + kFffd + "y"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"stray continuation byte",
       "a\x80"
       "b",
       "a" + kFffd + "b"},
      {"invalid lead bytes", "\xF5\xFF", kFffd + kFffd},
      {"lead byte followed by a new lead", "\xC3\xC3\xA9", kFffd + "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(repairUtf8(c.input), c.repaired);
    EXPECT_EQ(isValidUtf8(c.input), c.input == c.repaired);
    EXPECT_TRUE(isValidUtf8(repairUtf8(c.input)));
  }
}

TEST(Utf8Test, Utf16ConversionHandlesPairsAndLoneSurrogates) {
  const std::string text = "A\xC3\xA9\xF0\x9F\x98\x80";  // A, e-acute, U+1F600
  const std::u16string utf16 = toUtf16(text);
  EXPECT_EQ(utf16, (std::u16string{u'A', 0x00E9, 0xD83D, 0xDE00}));
  EXPECT_EQ(fromUtf16(utf16), text);
  EXPECT_EQ(utf16Length(text), 4u);

  EXPECT_EQ(toUtf16("a\xED\xA0\x80"), (std::u16string{u'a', 0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(fromUtf16(std::u16string{0xD83D, u'x', 0xDE00}), kFffd + "x" + kFffd);
  EXPECT_EQ(fromUtf16(std::u16string{u'a', 0xD83D}), "a" + kFffd);
}

TEST(Utf8Test, TruncateNeverSplitsASurrogatePair) {
  const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units
  const std::string text = "ab" + smile + "c";
  struct Case {
    std::size_t maxUnits;
    std::string expected;
  };
  const Case cases[] = {
      {0, ""}, {2, "ab"}, {3, "ab"}, {4, "ab" + smile}, {5, text}, {100, text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxUnits);
    EXPECT_EQ(truncateUtf16(text, c.maxUnits), c.expected);
  }
  // Invalid input comes out repaired, so the result is always valid.
  EXPECT_EQ(truncateUtf16("a\xE2\x82"
                          "bc",
                          3),
            "a" + kFffd + "b");
}

}  // namespace
}  // namespace base

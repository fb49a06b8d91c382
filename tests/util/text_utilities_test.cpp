#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <map>
#include <string>
#include <vector>

#include "util/modifier_flags.h"
#include "util/name_slug.h"
#include "util/query_string.h"

namespace wendrix {
namespace {

using Parameters = std::map<std::string, std::string>;

TEST(ParseQueryString, Cases) {
  struct Case {
    const char* query;
    Parameters expected;
  };
  const Case cases[] = {
      {"name=Work+Setup%21", {{"name", "Work Setup!"}}},
      // "+" becomes a space before decoding, so an escaped plus stays a plus.
      {"name=%2B+", {{"name", "+ "}}},
      {"name=Caf%C3%A9", {{"name", "Café"}}},
      {"a=b=c", {}},
      {"", {}},
      {"flag&x=1", {{"x", "1"}}},
      {"a=", {{"a", ""}}},
      // Keys are taken as written.
      {"a%20b=1", {{"a%20b", "1"}}},
      // Malformed escapes, and an escape that is not UTF-8, give "".
      {"name=%zz&x=1", {{"name", ""}, {"x", "1"}}},
      {"name=abc%2", {{"name", ""}}},
      {"name=%C3", {{"name", ""}}},
      {"name=first&name=second", {{"name", "second"}}},
      {"name=first&name=%", {{"name", ""}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseQueryString(c.query), c.expected) << c.query;
  }
}

TEST(NameSlug, SplitsAtSymbolsMarksAndSpacesKeepingPunctuation) {
  struct Case {
    const char* name;
    const char* slug;
  };
  const Case cases[] = {
      {"Work  Setup!", "work_setup!"},
      {"\tWork\nSetup\r\n", "work_setup"},
      {"A+B=C", "a_b_c"},                    // math symbols
      {"Price $5 ^ 2", "price_5_2"},         // currency and modifier symbols
      {"Deep 🚀 Work", "deep_work"},          // other symbol
      {"Cafe\u0301 Noir", "cafe_noir"},      // combining mark
      {"Café ÄÖ", "café_äö"},                // precomposed letters stay, lowercased
      {"a\u00A0b\u2028c", "a_b_c"},          // no-break space, line separator
      {"a\u0378b", "a_b"},                   // unassigned code point
      {"work-setup_1.0", "work-setup_1.0"},  // punctuation and digits stay
      {"a\xff"
       "b",
       "a_b"},  // invalid UTF-8 reads as U+FFFD, a symbol
      {"", ""},
      {"  ", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nameSlug(c.name), c.slug) << c.name;
  }
}

// ASCII is classed and lowercased without ICU: the same as ICU would.
TEST(NameSlug, TreatsEveryAsciiCharacterAsICUClassesIt) {
  for (UChar32 c = 1; c < 0x80; ++c) {
    bool separator = c == 0x09 || (c >= 0x0A && c <= 0x0D);
    switch (u_charType(c)) {
      case U_MATH_SYMBOL:
      case U_CURRENCY_SYMBOL:
      case U_MODIFIER_SYMBOL:
      case U_OTHER_SYMBOL:
      case U_SPACE_SEPARATOR:
        separator = true;
        break;
      default:
        break;
    }
    const std::string name = std::string("x") + static_cast<char>(c) + "Y";
    const std::string kept(1, static_cast<char>(u_tolower(c)));
    EXPECT_EQ(nameSlug(name), separator ? "x_y" : "x" + kept + "y") << "character " << c;
  }
}

TEST(IsLayoutNameFree, ExactCaseSensitiveNames) {
  const std::vector<Layout> layouts{{"Work", {}, std::nullopt}, {"Home", {}, false}};
  EXPECT_TRUE(isLayoutNameFree({}, "Work"));
  EXPECT_FALSE(isLayoutNameFree(layouts, "Home"));
  EXPECT_TRUE(isLayoutNameFree(layouts, "work"));
  EXPECT_TRUE(isLayoutNameFree(layouts, "Work "));
}

TEST(DeviceIndependentModifierFlags, KeepsOnlyTheEightModifierBits) {
  static_assert(deviceIndependentModifierFlags(0x100108) == 0x100000);
  EXPECT_EQ(deviceIndependentModifierFlags(0x100108), 0x100000u);
  EXPECT_EQ(deviceIndependentModifierFlags(0xFFFF'FFFF'FFFF'FFFF), 0xFF0000u);
  EXPECT_EQ(deviceIndependentModifierFlags(0x1A0000), 0x1A0000u);
  EXPECT_EQ(deviceIndependentModifierFlags(0xFFFF), 0u);
}

}  // namespace
}  // namespace wendrix

#include "coding/plist.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "base/time.h"
#include "coding/plist_depth.h"
#include "support/binary_plist.h"

namespace coding {
namespace {

using support::binaryPlist;
using support::sharedChainPlist;

base::Time at(const char* iso) {
  return *base::parseIso8601(iso);
}

class PlistTest : public ::testing::TestWithParam<PlistFormat> {};

TEST_P(PlistTest, EveryTypeRoundTrips) {
  Value tree(Dictionary{
      {"zeta", true},
      {"alpha", 1.5},
      {"text", "h\xC3\xA9llo"},
      {"bytes", base::Bytes{0x00, 0x01, 0xFF}},
      {"empty", base::Bytes{}},
      {"date", at("2024-05-01T10:00:00Z")},
      {"url", *base::Url::parse("file:///Applications/My%20App.app/")},
      {"list", Array{1, "two", Dictionary{}}},
  });
  auto bytes = encodePropertyList(tree, GetParam());
  ASSERT_TRUE(bytes.ok()) << bytes.error();
  auto back = decodePropertyList(*bytes);
  ASSERT_TRUE(back.ok()) << back.error();

  Reader r(*back, Format::propertyList);
  auto members = r.members();
  ASSERT_TRUE(members.ok());
  std::vector<std::string> keys;
  for (const auto& [key, member] : *members)
    keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"zeta", "alpha", "text", "bytes", "empty", "date",
                                            "url", "list"}));
  EXPECT_EQ(*r.at("zeta")->boolean(), true);
  EXPECT_EQ(*r.at("alpha")->number(), 1.5);
  EXPECT_EQ(*r.at("text")->string(), "h\xC3\xA9llo");
  EXPECT_EQ(*r.at("bytes")->bytes(), (base::Bytes{0x00, 0x01, 0xFF}));
  EXPECT_EQ(*r.at("empty")->bytes(), base::Bytes{});
  EXPECT_EQ(*r.at("date")->date(), at("2024-05-01T10:00:00Z"));
  EXPECT_EQ(*r.at("url")->value().getIf<Dictionary>(),
            (Dictionary{{"relative", "file:///Applications/My%20App.app/"}}));
  EXPECT_EQ(r.at("url")->url()->absoluteString(), "file:///Applications/My%20App.app/");
  EXPECT_EQ(r.at("list")->value(), Value(Array{1, "two", Dictionary{}}));
}

// libplist keeps integers as unsigned 64-bit values; both signed values below
// zero and unsigned values at or above 2^63 must come back exactly.
TEST_P(PlistTest, SixtyFourBitIntegersKeepTheirValue) {
  const std::int64_t signedValues[] = {std::numeric_limits<std::int64_t>::min(), -1, 0,
                                       std::numeric_limits<std::int64_t>::max()};
  const std::uint64_t unsignedValues[] = {0x8000000000000000ull, 0xFFFFFFFFFFFFFFFEull,
                                          std::numeric_limits<std::uint64_t>::max()};
  for (std::int64_t v : signedValues) {
    auto back = fromPropertyList<std::vector<std::int64_t>>(
        *toPropertyList(std::vector<std::int64_t>{v}, GetParam()));
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back->at(0), v);
  }
  for (std::uint64_t v : unsignedValues) {
    auto back = fromPropertyList<std::vector<std::uint64_t>>(
        *toPropertyList(std::vector<std::uint64_t>{v}, GetParam()));
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back->at(0), v);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PlistTest,
                         ::testing::Values(PlistFormat::binary, PlistFormat::xml));

// The binary form keeps dates to the microsecond, also before 2001 (where a
// fraction has a negative sign) and outside libplist's 32-bit second range.
// XML holds whole seconds: the fraction goes, toward the past.
TEST(PlistDateTest, DatesKeepMicrosecondsInBinaryAndWholeSecondsInXml) {
  const struct {
    const char* date;
    const char* xmlDate;
  } cases[] = {
      {"2000-12-31T23:59:59.5Z", "2000-12-31T23:59:59Z"},
      {"2001-01-01T00:00:00.000001Z", "2001-01-01T00:00:00Z"},
      {"1901-06-01T12:00:00.25Z", "1901-06-01T12:00:00Z"},
      {"2200-01-01T00:00:00.75Z", "2200-01-01T00:00:00Z"},
      {"2024-05-01T10:00:00.123456Z", "2024-05-01T10:00:00Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    auto binary = fromPropertyList<base::Time>(*toPropertyList(at(c.date)));
    ASSERT_TRUE(binary.ok()) << binary.error();
    EXPECT_EQ(*binary, at(c.date));
    auto xml = fromPropertyList<base::Time>(*toPropertyList(at(c.date), PlistFormat::xml));
    ASSERT_TRUE(xml.ok()) << xml.error();
    EXPECT_EQ(*xml, at(c.xmlDate));
  }
}

TEST(PlistWriteTest, ValuesThePropertyListCannotHoldFail) {
  auto nullValue = encodePropertyList(Value(Dictionary{{"a", Array{1, Value()}}}));
  ASSERT_FALSE(nullValue.ok());
  EXPECT_EQ(nullValue.error().description, "a[1]: a property list cannot hold null");

  auto withNul = encodePropertyList(Value(std::string("a\0b", 3)));
  ASSERT_FALSE(withNul.ok());
  EXPECT_TRUE(isError(withNul.error(), ErrorCode::invalidValue));

  Value deep(1);
  for (int i = 0; i < kMaxDepth + 1; ++i)
    deep = Value(Array{std::move(deep)});
  EXPECT_FALSE(encodePropertyList(deep).ok());
}

// Counts and references of every width the binary form has, long and
// non-ASCII text, and equal strings, which are written once.
TEST(PlistWriteTest, LargeBinaryListsRoundTrip) {
  const std::string longText(300, 'x');
  const std::string unicode = "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC";
  for (const std::size_t count : {0u, 14u, 15u, 255u, 256u, 20000u}) {
    SCOPED_TRACE(count);
    Array list;
    for (std::size_t i = 0; i < count; ++i) {
      list.push_back(Dictionary{{"index", static_cast<std::int64_t>(i) - 7},
                                {"name", "item " + std::to_string(i)},
                                {"long", longText},
                                {"unicode", unicode},
                                {"blob", base::Bytes(i % 40, 0xAB)}});
    }
    const Value tree(std::move(list));
    auto bytes = encodePropertyList(tree);
    ASSERT_TRUE(bytes.ok()) << bytes.error();
    auto back = decodePropertyList(*bytes);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(*back, tree);
    EXPECT_LT(bytes->size(), 100 + count * (longText.size() / 2));
  }
}

TEST(PlistWriteTest, InvalidUtf8IsRepaired) {
  auto back = decodePropertyList(*encodePropertyList(Value("a\xFF")));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, Value("a\xEF\xBF\xBD"));
}

// A binary property list of `depth` arrays, each holding the next, around an
// integer; references are four bytes wide.
std::string nestedBinaryPlist(std::uint32_t depth) {
  auto be = [](std::string& out, std::uint64_t v, int size) {
    for (int i = size - 1; i >= 0; --i)
      out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (std::uint32_t i = 0; i < depth; ++i) {
    offsets.push_back(out.size());
    out.push_back('\xA1');
    be(out, i + 1, 4);
  }
  offsets.push_back(out.size());
  out += "\x10\x05";
  const std::uint64_t table = out.size();
  for (std::uint64_t o : offsets)
    be(out, o, 4);
  out += std::string(6, '\0') + "\x04\x04";
  be(out, offsets.size(), 8);
  be(out, 0, 8);
  be(out, table, 8);
  return out;
}

TEST(PlistReadTest, NestingIsBoundedBeforeTheParserRecurses) {
  auto shallow = decodePropertyList(nestedBinaryPlist(3));
  ASSERT_TRUE(shallow.ok()) << shallow.error();
  EXPECT_EQ(*shallow, Value(Array{Array{Array{5}}}));

  const std::uint32_t tooDeep = 200000;
  std::string xml = "<plist>";
  for (std::uint32_t i = 0; i < tooDeep; ++i)
    xml += "<array>";
  for (std::uint32_t i = 0; i < tooDeep; ++i)
    xml += "</array>";
  xml += "</plist>";
  for (const std::string& data : {nestedBinaryPlist(tooDeep), xml}) {
    auto v = decodePropertyList(data);
    ASSERT_FALSE(v.ok());
    EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
  }
}

TEST(PlistReadTest, ReferenceCyclesFail) {
  // Object 0 is an array holding object 0.
  std::string cyclic = nestedBinaryPlist(1);
  cyclic[9 + 3] = 0;
  EXPECT_FALSE(decodePropertyList(cyclic).ok());
}

// libplist asserts on a dictionary key holding U+0000 (aborting the program
// on every start when the user-defaults file has one) and cuts ASCII text at
// a NUL; a string with one could not be written back either.
TEST(PlistReadTest, StringsWithANulCharacterAreRefused) {
  using namespace std::string_literals;
  const std::string utf16KeyWithNul = "\x62\x00\x61\x00\x00"s;  // "a\0" in UTF-16
  const std::string asciiWithNul = "\x52\x61\x00"s;             // "a\0"
  const std::string utf16WithNulFirst = "\x61\x00\x00"s;        // "\0"
  const std::string yes = "\x09";
  const std::string dictOfOne = "\xD1\x01\x02";
  const std::string xmlHead = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  const struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"found by fuzzing", support::kNulKeyPlist},
      {"UTF-16 key", binaryPlist({dictOfOne, utf16KeyWithNul, yes})},
      {"UTF-16 key of only U+0000", binaryPlist({dictOfOne, utf16WithNulFirst, yes})},
      {"ASCII key", binaryPlist({dictOfOne, asciiWithNul, yes})},
      {"UTF-16 value", binaryPlist({dictOfOne, "\x51k", utf16KeyWithNul})},
      {"ASCII value in an array", binaryPlist({"\xA2\x01\x02", "\x51k", asciiWithNul})},
      {"long ASCII value", binaryPlist({"\x5F\x10\x10" + std::string(15, 'x') + '\0'})},
      {"XML key", xmlHead + "<dict><key>a\0b</key><true/></dict></plist>"s},
      {"XML value", xmlHead + "<string>a\0b</string></plist>"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = decodePropertyList(c.data);
    ASSERT_FALSE(v.ok());
    EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
  }

  // UTF-16 text without U+0000 (a surrogate pair included) still reads.
  const std::string utf16Key = "\x63\x00\xE9\xD8\x3D\xDE\x00"s;  // "é😀"
  auto ok = decodePropertyList(binaryPlist({dictOfOne, utf16Key, "\x51\x30"}));
  ASSERT_TRUE(ok.ok()) << ok.error();
  EXPECT_EQ(*ok, Value(Dictionary{{"\xC3\xA9\xF0\x9F\x98\x80", "0"}}));
}

TEST(PlistReadTest, SharedObjectsAreRefusedWhenTheirExpansionIsTooLarge) {
  // 2^65 objects from 300 bytes: refused at once (and without the count
  // wrapping around).
  auto huge = decodePropertyList(sharedChainPlist(64));
  ASSERT_FALSE(huge.ok());
  EXPECT_TRUE(isError(huge.error(), ErrorCode::invalidInput)) << huge.error();

  // A million objects from 100 bytes: below the absolute cap, but far more
  // than the data's size allows.
  const std::string million = sharedChainPlist(19);
  ASSERT_LT(million.size(), 200u);
  auto expanding = decodePropertyList(million);
  ASSERT_FALSE(expanding.ok());
  EXPECT_TRUE(isError(expanding.error(), ErrorCode::invalidInput)) << expanding.error();

  // A list of equal values, which a writer may share, reads.
  auto equal = encodePropertyList(Value(Array(5'000, Value(Array{Value("same"), Value(1)}))));
  ASSERT_TRUE(equal.ok());
  EXPECT_TRUE(decodePropertyList(*equal).ok());

  // Sharing itself is fine while the tree stays small.
  auto small = decodePropertyList(sharedChainPlist(2));
  ASSERT_TRUE(small.ok()) << small.error();
  EXPECT_EQ(*small, Value(Array{Array{7, 7}, Array{7, 7}}));
}

TEST(PlistReadTest, ExpandedSizeLimitCountsEveryReferenceAndKey) {
  const std::string chain = sharedChainPlist(3);  // 15 objects
  // A dictionary of two entries whose keys and values are one string: 5.
  const std::string dict = binaryPlist({"\xD2\x01\x01\x01\x01", "\x51k"});
  const struct {
    const std::string& data;
    std::uint64_t maxNodes;
    bool within;
  } cases[] = {
      {chain, 0, false}, {chain, 14, false}, {chain, 15, true},
      {chain, 16, true}, {dict, 4, false},   {dict, 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxNodes);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.data.data());
    EXPECT_EQ(detail::binaryPlistWithinLimits({bytes, c.data.size()}, {kMaxDepth, c.maxNodes}),
              c.within);
  }
}

TEST(PlistReadTest, MalformedDataFailsWithoutCrashing) {
  auto bin = *encodePropertyList(Value(Dictionary{{"a", Array{1, 2, "x"}}}));
  const std::string truncated(reinterpret_cast<const char*>(bin.data()), bin.size() / 2);
  const std::string cases[] = {
      "",
      "garbage",
      "bplist00",
      std::string("bplist00\xD1\x01\x02", 11),
      truncated,
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>",
      "<plist><array><integer>1</integer></dict></plist>",
  };
  for (const std::string& data : cases) {
    SCOPED_TRACE(data.substr(0, 24));
    auto v = decodePropertyList(data);
    ASSERT_FALSE(v.ok());
    EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
  }
}

}  // namespace
}  // namespace coding

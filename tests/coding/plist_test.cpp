#include "coding/plist.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/time.h"
#include "coding/plist_depth.h"
#include "coding/plist_view.h"
#include "coding/reader.h"
#include "support/binary_plist.h"

namespace coding {
namespace {

using support::bigEndian;
using support::binaryPlist;
using support::sharedChainPlist;

base::Time at(const char* iso) {
  return *base::parseIso8601(iso);
}

// `object` reads as a Reader of format propertyList reads `value`, the tree
// read of the same object, members and elements included.
void expectReadsAsTree(const PlistObject& object, const Value& value) {
  const Reader reader(value, Format::propertyList);
  auto expectSame = [](const auto& inPlace, const auto& fromTree) {
    EXPECT_EQ(inPlace.has_value(), fromTree.ok());
    if (inPlace && fromTree) {
      EXPECT_EQ(*inPlace, *fromTree);
    }
  };
  expectSame(object.boolean(), reader.boolean());
  expectSame(object.int64(), reader.int64());
  expectSame(object.number(), reader.number());
  expectSame(object.bytes(), reader.bytes());
  expectSame(object.url(), reader.url());
  std::string text = "reused";
  EXPECT_EQ(object.string(text), reader.string().ok());
  if (auto s = reader.string()) {
    EXPECT_EQ(text, *s);
  }
  EXPECT_EQ(object.isArray(), value.getIf<Array>() != nullptr);
  EXPECT_EQ(object.isDictionary(), value.getIf<Dictionary>() != nullptr);
  if (const auto* array = value.getIf<Array>()) {
    ASSERT_EQ(object.size(), array->size());
    for (std::size_t i = 0; i < array->size(); ++i)
      expectReadsAsTree(object[i], (*array)[i]);
  } else {
    EXPECT_EQ(object.size(), 0u);
  }
  EXPECT_FALSE(object.find("absent"));
  if (const auto* dictionary = value.getIf<Dictionary>()) {
    for (const auto& [key, member] : *dictionary) {
      SCOPED_TRACE(key);
      const auto found = object.find(key);
      ASSERT_TRUE(found);
      expectReadsAsTree(*found, member);
    }
  }
}

// A view opens exactly the binary data the tree reader reads, and its
// objects read as the tree's.
void expectViewAgrees(const std::string& data) {
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.data()),
                                            data.size());
  const auto tree = decodePropertyList(bytes);
  const auto view = PlistView::open(bytes);
  const bool binary = data.starts_with("bplist00");
  ASSERT_EQ(view.has_value(), binary && tree.ok()) << (tree ? "" : tree.error().description);
  if (view) expectReadsAsTree(view->top(), *tree);
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

// A tree with every kind of object the writer makes: shared strings (keys
// and values), UTF-16 and repaired text, a URL, a date, data, integers of
// several widths, and counts past the marker's nibble.
Value representativeTree() {
  return Value(Dictionary{
      {"name", "Layout 1"},
      {"count", 3},
      {"negative", -2},
      {"big", std::numeric_limits<std::uint64_t>::max()},
      {"wide", 70000},
      {"real", 1.5},
      {"flags", Array{true, false}},
      {"date", at("2024-05-01T10:00:00.25Z")},
      {"data", base::Bytes{0, 1, 2}},
      {"url", *base::Url::parse("file:///usr/share/x.desktop")},
      {"text", "h\xC3\xA9llo"},
      {"bad", "a\xFF"},
      {"again", "Layout 1"},
      {"list", Array{"name", Array{}, Dictionary{}, std::string(20, 'x')}},
  });
}

std::uint64_t fnv1a(const base::Bytes& bytes) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (std::uint8_t b : bytes)
    h = (h ^ b) * 0x100000001B3ull;
  return h;
}

// The binary output stays byte for byte what it has been: a representative
// tree whole, and a list large enough for 4-byte references and offsets by
// its checksum.
TEST(PlistWriteTest, BinaryOutputIsUnchanged) {
  auto small = encodePropertyList(representativeTree());
  ASSERT_TRUE(small.ok()) << small.error();
  std::string hex;
  for (std::uint8_t b : *small) {
    constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  EXPECT_EQ(
      hex,
      "62706c6973743030546e616d6555636f756e74586e65676174697665536269675477696465547265616c55666c61"
      "6773546461746554646174615375726c54746578745362616455616761696e546c697374584c61796f7574203110"
      "0313fffffffffffffffe13ffffffffffffffff1200011170233ff80000000000000908a214153341c5f125102000"
      "00430001025872656c61746976655f101b66696c653a2f2f2f7573722f73686172652f782e6465736b746f70d119"
      "1a65006800e9006c006c006f620061fffda0d05f10147878787878787878787878787878787878787878a4001e1f"
      "20de000102030405060708090a0b0c0d0e0f101112131617181b1c1d0e210008000d0013001c00200025002a0030"
      "0035003a003e00430047004d0052005b005d0066006f0074007d007e007f0082008b008f009800b600b900c400c9"
      "00ca00cb00e200e70000000000000201000000000000002300000000000000220000000000000104");

  Array list;
  for (int i = 0; i < 70'000; ++i)
    list.push_back(i % 3 == 0 ? Value(i) : Value("item " + std::to_string(i % 1000)));
  auto large = encodePropertyList(Value(std::move(list)));
  ASSERT_TRUE(large.ok()) << large.error();
  EXPECT_EQ(large->size(), 459168u);
  EXPECT_EQ(fnv1a(*large), 11614389852375151561ull);
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
  EXPECT_TRUE(decodePropertyList(nestedBinaryPlist(kMaxDepth)).ok());
  EXPECT_FALSE(decodePropertyList(nestedBinaryPlist(kMaxDepth + 1)).ok());

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
  expectViewAgrees(cyclic);
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
    expectViewAgrees(c.data);
    auto v = decodePropertyList(c.data);
    ASSERT_FALSE(v.ok());
    EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
  }

  // UTF-16 text without U+0000 (a surrogate pair included) still reads.
  const std::string utf16Key = "\x63\x00\xE9\xD8\x3D\xDE\x00"s;  // "é😀"
  expectViewAgrees(binaryPlist({dictOfOne, utf16Key, "\x51\x30"}));
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

  for (int length : {2, 19, 64})
    expectViewAgrees(sharedChainPlist(length));

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

// Binary objects read as they always have been (by libplist before the
// reader was our own): one row per object type and quirk, with the tree or
// the error text.
TEST(PlistReadTest, BinaryObjectsReadAsBefore) {
  using namespace std::string_literals;
  const std::string malformed = "<root>: not a property list";
  const std::string refused = "<root>: not a property list, too large, or nested too deep";
  const std::string nanDate = "\x33\x7F\xF8\x00\x00\x00\x00\x00\x00"s;
  const std::string list = binaryPlist({"\xA1\x01", "\x09"});  // [true]
  const std::size_t trailer = list.size() - 32;
  const std::size_t table = trailer - 4;
  auto patched = [](std::string data, std::size_t at, const std::string& bytes) {
    data.replace(at, bytes.size(), bytes);
    return data;
  };
  const struct {
    const char* name;
    std::string data;
    std::optional<Value> value;  // nullopt: fails with `error`
    std::string error;
  } cases[] = {
      {"false", binaryPlist({"\x08"}), Value(false), ""},
      {"true", binaryPlist({"\x09"}), Value(true), ""},
      {"null marker", binaryPlist({"\x00"s}), std::nullopt, malformed},
      {"1-byte integer", binaryPlist({"\x10\xFF"}), Value(255), ""},
      {"2-byte integer", binaryPlist({"\x11\x01\x00"s}), Value(256), ""},
      {"4-byte integer has no sign", binaryPlist({"\x12\xFF\xFF\xFF\xFF"}), Value(4294967295), ""},
      {"8-byte integer is signed", binaryPlist({"\x13" + std::string(8, '\xFF')}), Value(-1), ""},
      {"16-byte integer keeps its low 8 bytes",
       binaryPlist({"\x14" + std::string(8, '\x01') + bigEndian(5, 8)}), Value(5), ""},
      {"32-byte integer", binaryPlist({"\x15" + std::string(32, '\x01')}), std::nullopt, malformed},
      {"integer past the objects", binaryPlist({"\x13\x01"}), std::nullopt, malformed},
      {"float", binaryPlist({"\x22\x3F\xC0\x00\x00"s}), Value(1.5), ""},
      {"double", binaryPlist({"\x23\x3F\xF8" + std::string(6, '\0')}), Value(1.5), ""},
      {"2-byte real", binaryPlist({"\x21\x3F\xC0"}), std::nullopt, malformed},
      {"date", binaryPlist({"\x33\x3F\xE0" + std::string(6, '\0')}),
       Value(at("2001-01-01T00:00:00.5Z")), ""},
      {"4-byte date", binaryPlist({"\x32\x3F\xC0\x00\x00"s}), std::nullopt, malformed},
      {"date out of range", binaryPlist({nanDate}), std::nullopt, "<root>: date out of range"},
      {"data", binaryPlist({"\x42\x00\xFF"s}), Value(base::Bytes{0x00, 0xFF}), ""},
      {"data with a 16-byte length", binaryPlist({"\x4F\x14" + bigEndian(2, 16) + "ab"}),
       Value(base::Bytes{'a', 'b'}), ""},
      {"ASCII string", binaryPlist({"\x52hi"}), Value("hi"), ""},
      {"ASCII string with other bytes", binaryPlist({"\x52\xE9\x41"}),
       Value("\xEF\xBF\xBD"
             "A"),
       ""},
      {"string with a 16-byte length", binaryPlist({"\x5F\x14" + bigEndian(2, 16) + "ab"}),
       std::nullopt, refused},
      {"UTF-16 string", binaryPlist({"\x62\x00\xE9\x20\xAC"s}), Value("\xC3\xA9\xE2\x82\xAC"), ""},
      {"empty UTF-16 string", binaryPlist({"\x60"}), std::nullopt, malformed},
      {"UTF-16 lead surrogate waits across a character",
       binaryPlist({"\x63\xD8\x3D\x00\x41\xDE\x00"s}), Value("A\xF0\x9F\x98\x80"), ""},
      {"UTF-16 lead surrogates in a row drop each other",
       binaryPlist({"\x63\xD8\x3D\xD8\x3D\xDE\x00"s}), Value(""), ""},
      {"UTF-16 lone trail surrogate is dropped", binaryPlist({"\x62\xDE\x00\x00\x41"s}), Value("A"),
       ""},
      {"whole double", binaryPlist({"\x23\x40" + std::string(7, '\0')}), Value(2.0), ""},
      {"UTF-16 key", binaryPlist({"\xD1\x01\x02", "\x61\x00k"s, "\x10\x01"}),
       Value(Dictionary{{"k", 1}}), ""},
      {"key with other bytes", binaryPlist({"\xD1\x01\x02", "\x52\xE9\x41", "\x10\x01"}),
       Value(Dictionary{{"\xEF\xBF\xBD"
                         "A",
                         1}}),
       ""},
      {"URL",
       binaryPlist({"\xD1\x01\x02", "\x58relative",
                    "\x59"
                    "file:///a"}),
       Value(Dictionary{{"relative", "file:///a"}}), ""},
      {"URL with a base",
       binaryPlist({"\xD2\x01\x02\x03\x04", "\x58relative",
                    "\x54"
                    "base",
                    "\x51"
                    "b",
                    "\xD1\x01\x05",
                    "\x5E"
                    "file:///dir/x/"}),
       Value(Dictionary{{"relative", "b"}, {"base", Dictionary{{"relative", "file:///dir/x/"}}}}),
       ""},
      {"set reads as an array", binaryPlist({"\xC2\x01\x01", "\x09"}), Value(Array{true, true}),
       ""},
      {"key that is not a string", binaryPlist({"\xD1\x01\x02", "\x10\x01", "\x10\x02"}),
       std::nullopt, malformed},
      {"UID", binaryPlist({"\x80\x05"}), std::nullopt,
       "<root>: unsupported keyed-archive reference"},
      {"UID beyond 32 bits", binaryPlist({"\x84\x01\x00\x00\x00\x00"s}), std::nullopt, malformed},
      {"unknown marker", binaryPlist({"\x70"}), std::nullopt, malformed},
      {"bad date in a dictionary", binaryPlist({"\xD1\x01\x02", "\x51k", "\xA1\x03", nanDate}),
       std::nullopt, "k[0]: date out of range"},
      {"malformed object after a bad date", binaryPlist({"\xA2\x01\x02", nanDate, "\x00"s}),
       std::nullopt, malformed},
      {"reference beyond the objects", binaryPlist({"\xA1\x05", "\x09"}), std::nullopt, refused},
      {"container past the objects", binaryPlist({"\xA5\x01", "\x09"}), std::nullopt, refused},
      {"offset size 0", patched(list, trailer + 6, "\x00"s), std::nullopt, refused},
      {"reference size 9", patched(list, trailer + 7, "\x09"), std::nullopt, refused},
      {"top object beyond the count", patched(list, trailer + 16, bigEndian(2, 8)), std::nullopt,
       refused},
      {"offset table past the trailer", patched(list, trailer + 24, bigEndian(trailer + 1, 8)),
       std::nullopt, refused},
      {"object offset into the table", patched(list, table + 2, bigEndian(table, 2)), std::nullopt,
       refused},
      {"object offset into the header", patched(list, table + 2, bigEndian(3, 2)), std::nullopt,
       refused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expectViewAgrees(c.data);
    auto v = decodePropertyList(c.data);
    if (c.value) {
      ASSERT_TRUE(v.ok()) << v.error();
      EXPECT_EQ(*v, *c.value);
      EXPECT_EQ(v->type(), c.value->type());
    } else {
      ASSERT_FALSE(v.ok());
      EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
      EXPECT_EQ(v.error().description, c.error);
    }
  }

  // A key met again keeps its first place and takes the last value.
  const std::string repeatedKey = binaryPlist(
      {"\xD3\x01\x02\x01\x03\x04\x05", "\x51k", "\x51j", "\x10\x01", "\x10\x02", "\x10\x03"});
  expectViewAgrees(repeatedKey);
  auto repeated = decodePropertyList(repeatedKey);
  ASSERT_TRUE(repeated.ok()) << repeated.error();
  const auto& members = *repeated->getIf<Dictionary>();
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members.begin()->first, "k");
  EXPECT_EQ(members.begin()->second, Value(3));
  EXPECT_EQ(std::next(members.begin())->second, Value(2));
}

// Offsets and references of every width, an object shared by several
// containers included.
TEST(PlistReadTest, OffsetsAndReferencesOfEveryWidth) {
  for (unsigned offsetSize : {1u, 2u, 3u, 4u, 8u}) {
    for (unsigned refSize : {1u, 2u, 4u, 8u}) {
      SCOPED_TRACE(std::to_string(offsetSize) + "-byte offsets, " + std::to_string(refSize) +
                   "-byte references");
      auto ref = [&](std::uint64_t object) { return bigEndian(object, refSize); };
      const std::string data = binaryPlist({"\xA4" + ref(1) + ref(3) + ref(1) + ref(3),
                                            "\xD1" + ref(2) + ref(3), "\x53key", "\x10\x07"},
                                           offsetSize, refSize);
      expectViewAgrees(data);
      auto v = decodePropertyList(data);
      ASSERT_TRUE(v.ok()) << v.error();
      const Value member(Dictionary{{"key", 7}});
      EXPECT_EQ(*v, Value(Array{member, 7, member, 7}));
    }
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
    expectViewAgrees(data);
    auto v = decodePropertyList(data);
    ASSERT_FALSE(v.ok());
    EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
  }
}

}  // namespace
}  // namespace coding

namespace coding {
namespace {

// Written in pieces, a list is the same bytes as written whole, whichever
// data objects are left where they are.
TEST(PlistPiecesTest, PiecesInOrderAreTheWholeList) {
  const base::Bytes big(70000, 0xab);
  const base::Bytes other(5000, 0x01);
  const Value values[] = {
      Value(Dictionary{{"k", 1}}),
      Value(big),
      Value(Dictionary{{"a", big}, {"b", "text"}, {"c", other}, {"d", Array{other, big, 2.5}}}),
  };
  for (const std::size_t limit : {std::size_t{1}, std::size_t{4096}, std::size_t{65536}}) {
    for (const Value& value : values) {
      auto pieces = encodeBinaryPropertyListPieces(value, limit);
      ASSERT_TRUE(pieces);
      base::Bytes joined;
      for (const auto& span : pieces->spans())
        joined.insert(joined.end(), span.begin(), span.end());
      EXPECT_EQ(joined, encodePropertyList(value).value()) << "limit " << limit;
      for (const auto& [at, data] : pieces->data)
        EXPECT_GE(data.size(), limit);
    }
  }
  EXPECT_FALSE(encodeBinaryPropertyListPieces(Value(Array{Value()}), 1));
}

}  // namespace
}  // namespace coding

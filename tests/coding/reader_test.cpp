#include "coding/reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "coding/codable.h"

namespace coding {
namespace {

TEST(DictionaryTest, KeepsInsertionOrderAndReplacesInPlace) {
  Dictionary d;
  d.set("b", 1);
  d.set("a", 2);
  d.set("b", 3);
  std::vector<std::string> keys;
  for (const auto& [key, value] : d)
    keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(*d.find("b"), Value(3));
  EXPECT_TRUE(d.erase("b"));
  EXPECT_EQ(d.find("b"), nullptr);
}

TEST(ValueTest, IntegersCompareByValueWhateverTheirSignedness) {
  EXPECT_EQ(Value(std::int64_t{5}), Value(std::uint64_t{5}));
  EXPECT_NE(Value(std::int64_t{-1}), Value(std::numeric_limits<std::uint64_t>::max()));
  EXPECT_NE(Value(5), Value(5.0));
  EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2}, {"a", 1}}));
}

// One row per strict conversion: the value, the format it came from, the
// reading, and whether it must succeed (and with which error otherwise).
struct Row {
  const char* name;
  Value value;
  Format format;
  std::function<std::optional<base::Error>(const Reader&)> read;  // the error, if any
  std::optional<ErrorCode> error;                                 // nullopt: must succeed
};

template <class F>
std::function<std::optional<base::Error>(const Reader&)> reads(F f) {
  return [f](const Reader& r) -> std::optional<base::Error> {
    auto result = f(r);
    if (result.ok()) return std::nullopt;
    return result.error();
  };
}

TEST(ReaderTest, StrictConversions) {
  const auto u64max = std::numeric_limits<std::uint64_t>::max();
  auto asBool = [](const Reader& r) { return r.boolean(); };
  auto asI64 = [](const Reader& r) { return r.int64(); };
  auto asU64 = [](const Reader& r) { return r.uint64(); };
  auto asU16 = [](const Reader& r) { return r.integer<std::uint16_t>(); };
  auto asI32 = [](const Reader& r) { return r.integer<std::int32_t>(); };
  auto asDouble = [](const Reader& r) { return r.number(); };
  auto asString = [](const Reader& r) { return r.string(); };
  auto asBytes = [](const Reader& r) { return r.bytes(); };
  auto asUrl = [](const Reader& r) { return r.url(); };
  auto asDate = [](const Reader& r) { return r.date(); };
  using E = ErrorCode;
  const Row rows[] = {
      {"bool from bool", true, Format::json, reads(asBool), std::nullopt},
      {"bool from 1", 1, Format::json, reads(asBool), E::typeMismatch},
      {"bool from null", Value(), Format::json, reads(asBool), E::valueNotFound},
      {"int from integral double", 3.0, Format::json, reads(asI64), std::nullopt},
      {"int from 1.5", 1.5, Format::json, reads(asI64), E::outOfRange},
      {"int from 1e30", 1e30, Format::json, reads(asI64), E::outOfRange},
      {"int from string", "3", Format::json, reads(asI64), E::typeMismatch},
      {"int from bool", true, Format::json, reads(asI64), E::typeMismatch},
      {"int64 from 2^64-1", u64max, Format::json, reads(asI64), E::outOfRange},
      {"uint64 from -1 in JSON", -1, Format::json, reads(asU64), E::outOfRange},
      {"uint64 from -1 in a plist", -1, Format::propertyList, reads(asU64), std::nullopt},
      {"uint16 from 65535", 65535, Format::json, reads(asU16), std::nullopt},
      {"uint16 from 65536", 65536, Format::json, reads(asU16), E::outOfRange},
      {"uint16 from -1 in a plist", -1, Format::propertyList, reads(asU16), E::outOfRange},
      {"int32 from -2^31-1", std::int64_t{-2147483649}, Format::json, reads(asI32), E::outOfRange},
      {"double from int", 7, Format::json, reads(asDouble), std::nullopt},
      {"double from bool", false, Format::json, reads(asDouble), E::typeMismatch},
      {"string from int", 7, Format::json, reads(asString), E::typeMismatch},
      {"bytes from Base64 in JSON", "AAE=", Format::json, reads(asBytes), std::nullopt},
      {"bytes from truncated Base64", "AAE", Format::json, reads(asBytes), E::dataCorrupted},
      {"bytes from a string in a plist", "AAE=", Format::propertyList, reads(asBytes),
       E::typeMismatch},
      {"URL from text in JSON", "file:///a/b.app/", Format::json, reads(asUrl), std::nullopt},
      {"URL from invalid text", "not a url", Format::json, reads(asUrl), E::dataCorrupted},
      {"URL from a string in a plist", "file:///a", Format::propertyList, reads(asUrl),
       E::typeMismatch},
      {"URL without relative", Dictionary{{"base", "x"}}, Format::propertyList, reads(asUrl),
       E::keyNotFound},
      {"date from ISO text", "2024-05-01T10:00:00.123Z", Format::json, reads(asDate), std::nullopt},
      {"date from bad text", "yesterday", Format::json, reads(asDate), E::dataCorrupted},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Reader reader(row.value, row.format, "x");
    std::optional<base::Error> error = row.read(reader);
    ASSERT_EQ(error.has_value(), row.error.has_value()) << (error ? error->description : "");
    if (error) {
      EXPECT_TRUE(isError(*error, *row.error)) << *error;
      EXPECT_EQ(error->description.rfind("x: ", 0), 0u) << *error;
    }
  }
}

TEST(ReaderTest, UrlFromRelativeAndBaseIsResolved) {
  Value v(Dictionary{{"relative", "b.app"}, {"base", Dictionary{{"relative", "file:///a/"}}}});
  auto url = Reader(v, Format::propertyList).url();
  ASSERT_TRUE(url.ok()) << url.error();
  EXPECT_EQ(url->absoluteString(), "file:///a/b.app");
}

// A small record to show how paths accumulate through nesting.
struct Item {
  std::int64_t n = 0;
  std::optional<std::string> label;

  Value encode() const {
    Dictionary d;
    put(d, "n", n);
    put(d, "label", label);
    return d;
  }
  static base::Result<Item> decode(const Reader& r) {
    Fields f(r);
    Item item;
    item.n = f.required<std::int64_t>("n");
    item.label = f.optional<std::string>("label");
    return f.finish(std::move(item));
  }
};

TEST(FieldsTest, ErrorsNameThePathOfTheBadValue) {
  Value tree(Dictionary{
      {"groups", Array{Dictionary{{"items", Array{Dictionary{{"n", 1}}}}},
                       Dictionary{{"items", Array{Dictionary{{"n", 2}},
                                                  Dictionary{{"n", 3}, {"label", 4}}}}}}}});
  Reader root(tree, Format::json);
  auto groups = root.at("groups");
  ASSERT_TRUE(groups.ok());
  auto elements = groups->elements();
  ASSERT_TRUE(elements.ok());
  auto items = (*elements)[1].at("items");
  ASSERT_TRUE(items.ok());
  auto decoded = decode<std::vector<Item>>(*items);
  ASSERT_FALSE(decoded.ok());
  EXPECT_EQ(decoded.error().description,
            "groups[1].items[1].label: expected string, found integer");
}

// Readers keep the steps to their value and make the path text for an
// error; deep paths read the same as shallow ones.
TEST(ReaderTest, PathsOfAnyDepthReadInFull) {
  Value tree("leaf");
  std::string expected;
  for (int level = 11; level >= 0; --level) {
    const std::string key(1, static_cast<char>('a' + level));
    tree = Value(Dictionary{{key, Array{Value(7), std::move(tree)}}});
  }
  for (int level = 0; level < 12; ++level) {
    if (level > 0) expected += '.';
    expected += std::string(1, static_cast<char>('a' + level)) + "[1]";
  }
  for (const char* base : {"", "top"}) {
    SCOPED_TRACE(base);
    Reader r(tree, Format::json, base);
    for (int level = 0; level < 12; ++level) {
      auto member = r.at(std::string(1, static_cast<char>('a' + level)));
      ASSERT_TRUE(member.ok()) << member.error();
      auto elements = member->elements();
      ASSERT_TRUE(elements.ok()) << elements.error();
      r = (*elements)[1];
    }
    const std::string path = std::string(base) + (*base ? "." : "") + expected;
    EXPECT_EQ(r.path(), path);
    EXPECT_EQ(r.int64().error().description, path + ": expected integer, found string");
  }

  Value dict(Dictionary{{"k", 1}, {"", Dictionary{{"", true}}}});
  auto members = Reader(dict).members();
  ASSERT_TRUE(members.ok());
  std::vector<std::string> paths;
  for (const auto& [key, member] : *members)
    paths.push_back(member.path());
  EXPECT_EQ(paths, (std::vector<std::string>{"k", ""}));
  EXPECT_EQ(Reader(dict).at("")->at("")->string().error().description,
            "<root>: expected string, found boolean");
}

TEST(FieldsTest, AbsentOrNullOptionalIsNoValueAndMissingRequiredFails) {
  auto absent =
      decode<Item>(Value(Dictionary{{"n", 1}, {"label", Value()}, {"extra", true}}), Format::json);
  ASSERT_TRUE(absent.ok());
  EXPECT_FALSE(absent->label.has_value());

  auto missing = decode<Item>(Value(Dictionary{{"label", "a"}}), Format::json);
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(isError(missing.error(), ErrorCode::keyNotFound));
  EXPECT_EQ(missing.error().description, "<root>: missing key \"n\"");

  EXPECT_FALSE(decode<Item>(Value(Array{}), Format::json).ok());
}

TEST(FieldsTest, AbsentOptionalIsNotWritten) {
  Value v = Item{7, std::nullopt}.encode();
  EXPECT_EQ(v, Value(Dictionary{{"n", 7}}));
}

}  // namespace
}  // namespace coding

#include "coding/json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

namespace coding {
namespace {

base::Url url(const char* text) {
  return *base::Url::parse(text);
}

TEST(JsonTest, EveryTypeRoundTripsInItsJsonSpelling) {
  const base::Time date = base::Time(std::chrono::milliseconds(1714557600123));
  Value tree(Dictionary{
      {"z", Value()},
      {"bool", true},
      {"neg", std::numeric_limits<std::int64_t>::min()},
      {"big", std::numeric_limits<std::uint64_t>::max()},
      {"real", 1.25},
      {"text", "h\xC3\xA9llo"},
      {"bytes", base::Bytes{0x00, 0x01, 0xFF}},
      {"date", date},
      {"url", url("file:///Applications/My%20App.app/")},
      {"list", Array{1, "two"}},
  });
  auto text = encodeJson(tree);
  ASSERT_TRUE(text.ok()) << text.error();
  EXPECT_EQ(*text, R"({"z":null,"bool":true,"neg":-9223372036854775808,"big":18446744073709551615,)"
                   R"("real":1.25,"text":"h)"
                   "\xC3\xA9"
                   R"(llo","bytes":"AAH/","date":"2024-05-01T10:00:00.123Z",)"
                   R"("url":"file:///Applications/My%20App.app/","list":[1,"two"]})");

  auto back = decodeJson(*text);
  ASSERT_TRUE(back.ok()) << back.error();
  Reader r(*back, Format::json);
  EXPECT_TRUE(r.at("z")->isNull());
  EXPECT_EQ(*r.at("neg")->int64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(*r.at("big")->uint64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(*r.at("real")->number(), 1.25);
  EXPECT_EQ(*r.at("bytes")->bytes(), (base::Bytes{0x00, 0x01, 0xFF}));
  EXPECT_EQ(*r.at("date")->date(), date);
  EXPECT_EQ(*r.at("url")->url(), url("file:///Applications/My%20App.app/"));
  auto again = encodeJson(*back);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *text);  // keys keep their order through a round trip
}

TEST(JsonTest, PrettyStyleIndentsOneMemberPerLine) {
  auto text = encodeJson(Value(Dictionary{{"b", 1}, {"a", Array{true}}}), JsonStyle::pretty);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "{\n  \"b\": 1,\n  \"a\": [\n    true\n  ]\n}");
}

TEST(JsonTest, InvalidUtf8IsWrittenWithReplacementCharacters) {
  auto text = encodeJson(Value(Dictionary{{"k\xFF", "a\xC3"}}));
  ASSERT_TRUE(text.ok()) << text.error();
  EXPECT_EQ(*text, "{\"k\xEF\xBF\xBD\":\"a\xEF\xBF\xBD\"}");
}

TEST(JsonTest, NonFiniteNumbersFailWithTheirPath) {
  auto text = encodeJson(Value(Dictionary{{"rect", Array{1.0, NAN}}}));
  ASSERT_FALSE(text.ok());
  EXPECT_TRUE(isError(text.error(), ErrorCode::invalidValue));
  EXPECT_EQ(text.error().description.rfind("rect[1]: ", 0), 0u) << text.error();
}

TEST(JsonTest, MalformedTextFailsWithoutThrowing) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string cases[] = {"",     "{",       "[1,]",      "nul", "\"\xFF\"",
                               "{} x", "{'a':1}", "/* c */ 1", deep};
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 20));
    auto v = decodeJson(text);
    ASSERT_FALSE(v.ok());
    EXPECT_TRUE(isError(v.error(), ErrorCode::invalidInput)) << v.error();
  }
}

}  // namespace
}  // namespace coding

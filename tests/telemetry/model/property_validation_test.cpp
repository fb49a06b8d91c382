#include "telemetry/model/property_validation.h"

#include <gtest/gtest.h>

#include "base/utf8.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::LogCapture;

std::map<std::string, std::string> numbered(int count) {
  std::map<std::string, std::string> out;
  for (int i = 0; i < count; ++i)
    out["key" + std::to_string(100 + i)] = "v";
  return out;
}

TEST(PropertyValidationTest, KeepsAtMostTwentyAndSaysSoOnce) {
  LogCapture logs;
  EXPECT_EQ(validateProperties(numbered(20), "Click", "Event"), numbered(20));
  EXPECT_TRUE(logs.lines().empty());

  auto kept = validateProperties(numbered(25), "Click", "Event");
  EXPECT_EQ(kept, numbered(20));
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Warning);
  EXPECT_EQ(logs.messages()[0],
            "Event 'Click' : properties cannot contain more than 20 items. Skipping other "
            "properties.");
}

TEST(PropertyValidationTest, EmptyKeyIsSkippedAndDoesNotCount) {
  auto input = numbered(20);
  input[""] = "v";
  LogCapture logs;
  EXPECT_EQ(validateProperties(input, "Click", "Event"), numbered(20));
  EXPECT_EQ(logs.messages(),
            std::vector<std::string>{
                "Event 'Click' : a property key cannot be null or empty. Property will be "
                "skipped."});
}

TEST(PropertyValidationTest, CutsLongKeysAndValuesAtWholeCharacters) {
  const std::string k125(125, 'k'), v125(125, 'v');
  const std::string pair = "\xF0\x9F\x98\x80";                  // one character, two UTF-16 units
  const std::string splitAt125 = std::string(124, 'v') + pair;  // 126 units
  struct Case {
    std::string key, value, keptKey, keptValue;
    std::vector<std::string> messages;
  } cases[] = {
      {k125, v125, k125, v125, {}},
      {k125 + "x",
       "v",
       k125,
       "v",
       {"Event 'E' : property " + k125 +
        "x : property key length cannot be longer than 125 characters. Property key will be "
        "truncated."}},
      {"k",
       v125 + "x",
       "k",
       v125,
       {"Event 'E' : property 'k' : property value cannot be longer than 125 characters. "
        "Property value will be truncated."}},
      {"k",
       splitAt125,
       "k",
       std::string(124, 'v'),
       {"Event 'E' : property 'k' : property value cannot be longer than 125 characters. "
        "Property value will be truncated."}},
      {std::string(124, 'k') + pair + "k",
       "v",
       std::string(124, 'k'),
       "v",
       {"Event 'E' : property " + std::string(124, 'k') + pair +
        "k : property key length cannot be longer than 125 characters. Property key will be "
        "truncated."}},
  };
  for (const auto& c : cases) {
    LogCapture logs;
    auto kept = validateProperties({{c.key, c.value}}, "E", "Event");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.begin()->first, c.keptKey);
    EXPECT_EQ(kept.begin()->second, c.keptValue);
    EXPECT_TRUE(base::isValidUtf8(kept.begin()->second));
    EXPECT_EQ(logs.messages(), c.messages);
  }
}

TEST(PropertyValidationTest, KeysThatCutToTheSameTextKeepTheLaterValue) {
  const std::string stem(125, 'k');
  auto kept =
      validateProperties({{stem + "a", "first"}, {stem + "b", "second"}, {"z", "z"}}, "E", "Event");
  EXPECT_EQ(kept, (std::map<std::string, std::string>{{stem, "second"}, {"z", "z"}}));
}

}  // namespace
}  // namespace tlm

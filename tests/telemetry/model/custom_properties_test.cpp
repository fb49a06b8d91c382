#include "telemetry/model/custom_properties.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::LogCapture;

const std::string kMustMatch = "\" must match \"^[a-zA-Z][a-zA-Z0-9]*$\"";

TEST(CustomPropertiesTest, KeyChecks) {
  struct Case {
    std::string key;
    bool valid;
    std::string message;
  } cases[] = {
      {"a1", true, ""},
      {"Ab9z", true, ""},
      {"1a", false, "Custom property \"1a" + kMustMatch},
      {"a_b", false, "Custom property \"a_b" + kMustMatch},
      {"a-b", false, "Custom property \"a-b" + kMustMatch},
      {"", false, "Custom property \"" + kMustMatch},
      {"é", false, "Custom property \"é" + kMustMatch},
      {std::string(128, 'k'), true, ""},
      {std::string(129, 'k'), false,
       "Custom property \"" + std::string(129, 'k') +
           "\" length cannot be longer than \"128\" characters."},
  };
  for (const auto& c : cases) {
    TLMCustomProperties properties;
    LogCapture logs;
    EXPECT_EQ(properties.isValidKey(c.key), c.valid) << c.key;
    if (c.valid) {
      EXPECT_TRUE(logs.lines().empty());
    } else {
      ASSERT_EQ(logs.lines().size(), 1u);
      EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Error);
      EXPECT_EQ(logs.messages()[0], c.message);
    }
  }
  LogCapture logs;
  EXPECT_FALSE(TLMCustomProperties().isValidKey(std::nullopt));
  EXPECT_EQ(logs.messages()[0], "Custom property \"" + kMustMatch);
}

TEST(CustomPropertiesTest, SixtyKeysThenOnlyHeldKeysChange) {
  TLMCustomProperties properties;
  for (int i = 0; i < 60; ++i)
    properties.setNumber(std::int64_t{i}, "k" + std::to_string(i));
  LogCapture logs;
  properties.setString("x", "extra");
  EXPECT_EQ(logs.messages(),
            std::vector<std::string>{"Custom properties cannot contain more than \"60\" items."});
  logs.clear();
  properties.setString("x", "k0").clearPropertyForKey("k1");
  auto held = properties.propertiesImmutableCopy();
  EXPECT_EQ(held.size(), 60u);
  EXPECT_EQ(held.count("extra"), 0u);
  EXPECT_EQ(held["k0"], TLMCustomPropertyValue(std::string("x")));
  EXPECT_EQ(held["k1"], TLMCustomPropertyValue(TLMCustomPropertyClear{}));
  ASSERT_EQ(logs.lines().size(), 2u);
  EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Warning);
  EXPECT_EQ(logs.messages()[0],
            "Custom property \"k0\" is already set or cleared and will be overridden.");
}

TEST(CustomPropertiesTest, ValueChecks) {
  TLMCustomProperties properties;
  properties.setString("kept", "s");
  LogCapture logs;
  properties.setString(std::string(129, 'v'), "s")
      .setNumber(NAN, "n")
      .setNumber(INFINITY, "n")
      .setNumber(-INFINITY, "n");
  // Emoji count two UTF-16 units each: 64 of them are 128 units.
  std::string emoji;
  for (int i = 0; i < 64; ++i)
    emoji += "\xF0\x9F\x98\x80";
  properties.setString(emoji, "e").setString(emoji + "a", "f");
  EXPECT_FALSE(properties.isValidValue(std::nullopt));

  auto held = properties.propertiesImmutableCopy();
  EXPECT_EQ(held["s"], TLMCustomPropertyValue(std::string("kept")));
  EXPECT_EQ(held.count("n"), 0u);
  EXPECT_EQ(held.count("e"), 1u);
  EXPECT_EQ(held.count("f"), 0u);
  const std::string tooLong =
      "Custom property value length cannot be longer than \"128\" characters.";
  const std::string notFinite = "Custom property value cannot be NaN or infinite.";
  EXPECT_EQ(logs.messages(),
            (std::vector<std::string>{
                "Custom property \"s\" is already set or cleared and will be overridden.", tooLong,
                notFinite, notFinite, notFinite, tooLong,
                "Custom property value cannot be null, did you mean to call clear?"}));
}

TEST(CustomPropertiesTest, BooleansStayApartFromNumbers) {
  TLMCustomProperties properties;
  properties.setBool(true, "b").setNumber(std::int64_t{1}, "n");
  auto held = properties.propertiesImmutableCopy();
  EXPECT_EQ(TLMCustomPropertiesLog::serializeProperty(held["b"])->dump(),
            R"({"type":"boolean","value":true})");
  EXPECT_EQ(TLMCustomPropertiesLog::serializeProperty(held["n"])->dump(),
            R"({"type":"number","value":1})");
}

TEST(CustomPropertiesTest, ConcurrentSettersKeepEveryKey) {
  TLMCustomProperties properties;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 15; ++i)
        properties.setNumber(std::int64_t{i}, "t" + std::to_string(t) + "k" + std::to_string(i));
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(properties.propertiesImmutableCopy().size(), 60u);
}

}  // namespace
}  // namespace tlm

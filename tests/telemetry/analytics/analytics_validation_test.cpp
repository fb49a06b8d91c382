#include "telemetry/analytics/analytics_validation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::LogCapture;
using Props = std::vector<TLMEventProperty>;

// "😀" is one character in two UTF-16 units (a surrogate pair).
const std::string kPair = "\xF0\x9F\x98\x80";

std::string text(std::size_t units, char fill = 'k') {
  return std::string(units, fill);
}

// One text rule: the input, what it becomes and the one line it logs.
struct TextCase {
  const char* name;
  std::string input;
  std::string expected;
  std::string warning;  // "" for none
};

class PropertyNameTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(PropertyNameTest, KeysAreCutTo125Units) {
  const auto& c = GetParam();
  LogCapture logs{TLMLogLevel::Verbose};
  const auto out = TLMAnalyticsValidation::validateDarAvevedPropertyName(c.input);
  EXPECT_EQ(out, c.expected);
  EXPECT_TRUE(base::isValidUtf8(out));
  const auto warnings = logs.at(TLMLogLevel::Warning);
  if (c.warning.empty()) {
    EXPECT_TRUE(warnings.empty());
  } else {
    EXPECT_EQ(warnings, std::vector<std::string>{c.warning});
    EXPECT_TRUE(logs.has(TLMLogLevel::Warning, c.warning, "DarAvevedAnalytics"));
  }
}

std::string keyWarning(const std::string& key) {
  return "Typed property '" + key +
         "': key length cannot exceed 125 characters. Property value will be truncated.";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertyNameTest,
    ::testing::Values(TextCase{"Exactly125", text(125), text(125), ""},
                      TextCase{"Of126", text(126), text(125), keyWarning(text(126))},
                      TextCase{"Of200", text(200), text(125), keyWarning(text(200))},
                      // 124 units, then a pair that would end at unit 126: cut before it.
                      TextCase{"PairAcrossTheLimit", text(124) + kPair, text(124),
                               keyWarning(text(124) + kPair)},
                      // A pair ending exactly at unit 125 stays whole.
                      TextCase{"PairEndingAtTheLimit", text(123) + kPair + "x", text(123) + kPair,
                               keyWarning(text(123) + kPair + "x")},
                      TextCase{"PairsOnly125Units",
                               [] {
                                 std::string s;
                                 for (int i = 0; i < 63; ++i)
                                   s += kPair;
                                 return s;
                               }(),
                               [] {
                                 std::string s;
                                 for (int i = 0; i < 62; ++i)
                                   s += kPair;
                                 return s;
                               }(),
                               [] {
                                 std::string s;
                                 for (int i = 0; i < 63; ++i)
                                   s += kPair;
                                 return keyWarning(s);
                               }()}),
    [](const auto& test) { return std::string(test.param.name); });

class StringValueTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(StringValueTest, StringValuesAreCutTo125Units) {
  const auto& c = GetParam();
  LogCapture logs{TLMLogLevel::Verbose};
  EXPECT_EQ(TLMAnalyticsValidation::validateDarAvevedStringTypedPropertyValue(c.input), c.expected);
  const auto warnings = logs.at(TLMLogLevel::Warning);
  EXPECT_EQ(warnings,
            c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
}

const std::string kValueWarning =
    "Typed property value length cannot exceed 125 characters. Property value will be truncated.";

INSTANTIATE_TEST_SUITE_P(
    Cases, StringValueTest,
    ::testing::Values(TextCase{"Exactly125", text(125, 'v'), text(125, 'v'), ""},
                      TextCase{"Of126", text(126, 'v'), text(125, 'v'), kValueWarning},
                      TextCase{"PairAcrossTheLimit", text(124, 'v') + kPair, text(124, 'v'),
                               kValueWarning},
                      TextCase{"Empty", "", "", ""}),
    [](const auto& test) { return std::string(test.param.name); });

struct NameCase {
  const char* name;
  std::optional<std::string> input;
  const char* type;
  std::optional<std::string> expected;
  TLMLogLevel level;
  std::string line;  // "" for none
};

class EventNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(EventNameTest, NamesAreRequiredAndCutTo256Units) {
  const auto& c = GetParam();
  LogCapture logs{TLMLogLevel::Verbose};
  EXPECT_EQ(TLMAnalyticsValidation::validateEventName(c.input, c.type), c.expected);
  if (c.line.empty()) {
    EXPECT_TRUE(logs.lines().empty());
  } else {
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0].level, c.level);
    EXPECT_EQ(logs.lines()[0].tag, "DarAvevedAnalytics");
    EXPECT_EQ(logs.lines()[0].message, c.line);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventNameTest,
    ::testing::Values(
        NameCase{"Plain", "Layout_Saved", "event", "Layout_Saved", TLMLogLevel::Verbose, ""},
        NameCase{"Empty", "", "event", std::nullopt, TLMLogLevel::Error,
                 "event name cannot be null or empty"},
        NameCase{"Missing", std::nullopt, "page", std::nullopt, TLMLogLevel::Error,
                 "page name cannot be null or empty"},
        NameCase{"Exactly256", text(256, 'n'), "event", text(256, 'n'), TLMLogLevel::Verbose, ""},
        NameCase{"Of257", text(257, 'n'), "event", text(256, 'n'), TLMLogLevel::Warning,
                 "event '" + text(257, 'n') +
                     "' : name length cannot be longer than 256 characters. Name will be "
                     "truncated."},
        NameCase{"PairAcross256", text(255, 'n') + kPair, "page", text(255, 'n'),
                 TLMLogLevel::Warning,
                 "page '" + text(255, 'n') + kPair +
                     "' : name length cannot be longer than 256 characters. Name will be "
                     "truncated."}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(AnalyticsValidationTest, AtMost20PropertiesWithOneWarning) {
  for (const std::size_t count : {20u, 25u}) {
    SCOPED_TRACE(count);
    LogCapture logs{TLMLogLevel::Verbose};
    TLMEventProperties properties;
    for (std::size_t i = 0; i < count; ++i)
      properties.setInt64("p" + std::to_string(i), static_cast<std::int64_t>(i));
    const auto valid = TLMAnalyticsValidation::validateDarAvevedEventProperties(properties);
    ASSERT_EQ(valid.size(), 20u);
    EXPECT_EQ(valid.properties().back().name, "p19");
    EXPECT_EQ(properties.size(), count) << "the given map is not changed";
    const auto warnings = logs.at(TLMLogLevel::Warning);
    if (count == 20) {
      EXPECT_TRUE(warnings.empty());
    } else {
      EXPECT_EQ(warnings, std::vector<std::string>{"Typed properties cannot contain more than 20 "
                                                   "items. Skipping other properties."});
    }
  }
}

TEST(AnalyticsValidationTest, KindsKeepTheirValuesAndKeysEqualAfterTheCutMerge) {
  LogCapture logs{TLMLogLevel::Verbose};
  const TLMDate date{std::chrono::milliseconds(1714557600123)};
  TLMEventProperties properties;
  properties.setInt64(text(200), 7)
      .setBool("b", true)
      .setDouble("d", 1.5)
      .setDate("t", date)
      .setString(text(125) + "a", "first")
      .setString(text(125) + "b", "second");
  const auto valid = TLMAnalyticsValidation::validateDarAvevedEventProperties(properties);
  EXPECT_EQ(valid.properties(),
            (Props{{text(125), std::string("second")}, {"b", true}, {"d", 1.5}, {"t", date}}));
}

TEST(AnalyticsValidationTest, NonFiniteDoublesAreRefusedWithTheirMessage) {
  for (const double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    LogCapture logs{TLMLogLevel::Verbose};
    TLMEventProperties properties;
    properties.setDouble("Ratio", bad);
    EXPECT_TRUE(properties.isEmpty());
    EXPECT_EQ(logs.at(TLMLogLevel::Error),
              std::vector<std::string>{
                  "Double value for property 'Ratio' must be finite (cannot be INFINITY or NAN)."});
  }
}

TEST(AnalyticsValidationTest, FilterChecksEventAndPageLogsOnly) {
  LogCapture logs{TLMLogLevel::Verbose};
  auto page = std::make_shared<TLMPageLog>();
  page->name = text(300, 'p');
  page->properties = std::map<std::string, std::string>{{text(130), text(130, 'v')}};
  EXPECT_FALSE(TLMAnalyticsValidation::shouldFilterLog(page));
  EXPECT_EQ(page->name, text(256, 'p'));
  EXPECT_EQ(*page->properties, (std::map<std::string, std::string>{{text(125), text(125, 'v')}}));

  auto unnamed = std::make_shared<TLMEventLog>();
  unnamed->name = "";
  EXPECT_TRUE(TLMAnalyticsValidation::shouldFilterLog(unnamed));
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Error, "event name cannot be null or empty", "DarAvevedAnalytics"));

  // Typed properties are not checked at the filter.
  auto event = std::make_shared<TLMEventLog>();
  event->name = "E";
  event->typedProperties.emplace();
  event->typedProperties->setString(text(200), "v");
  EXPECT_FALSE(TLMAnalyticsValidation::shouldFilterLog(event));
  EXPECT_EQ(event->typedProperties->properties()[0].name, text(200));

  auto session = std::make_shared<TLMStartSessionLog>();
  EXPECT_FALSE(TLMAnalyticsValidation::shouldFilterLog(session));
}

}  // namespace
}  // namespace tlm

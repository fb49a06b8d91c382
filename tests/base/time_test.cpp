#include "base/time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/scoped_environment.h"

namespace base {
namespace {

using namespace std::chrono;

const Time kInstant = sys_days{2024y / May / 1} + 10h + 123ms;

TEST(Iso8601Test, FormatsUtcRegardlessOfTimeZone) {
  support::ScopedEnvironment zone({{"TZ", "America/New_York"}});
  EXPECT_EQ(formatIso8601(kInstant), "2024-05-01T10:00:00.123Z");
  EXPECT_EQ(formatIso8601(kInstant + 999us), "2024-05-01T10:00:00.123Z");  // truncated
  EXPECT_EQ(formatIso8601(Time{}), "1970-01-01T00:00:00.000Z");
  // Before 1970 the milliseconds still round toward the past.
  EXPECT_EQ(formatIso8601(Time{} - 1ns), "1969-12-31T23:59:59.999Z");
  EXPECT_EQ(formatIso8601(sys_days{1900y / March / 1} - 1500ms), "1900-02-28T23:59:58.500Z");
}

TEST(Iso8601Test, ParsesUtcOffsetsAndFractions) {
  struct Case {
    const char* text;
    Time expected;
  };
  const Case cases[] = {
      {"2024-05-01T10:00:00.123Z", kInstant},
      {"2024-05-01T10:00:00Z", kInstant - 123ms},
      {"2024-05-01T12:00:00.123+02:00", kInstant},
      {"2024-05-01T05:30:00.123-04:30", kInstant},
      {"2024-05-01T10:00:00.123-00:00", kInstant},
      {"2024-05-01T10:00:00.1234567891Z", kInstant + 456789ns},
      {"2024-02-29T00:00:00Z", sys_days{2024y / February / 29}},
      {"1969-12-31T23:59:59.999Z", Time{} - 1ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseIso8601(c.text), c.expected);
  }
}

TEST(Iso8601Test, FormatAndParseRoundTrip) {
  for (const Time t :
       {kInstant, Time{} - 1ms, Time{sys_days{2038y / January / 19} + 3h + 14min + 8s}}) {
    const std::string text = formatIso8601(t);
    SCOPED_TRACE(text);
    EXPECT_EQ(parseIso8601(text), t);
  }
}

TEST(Iso8601Test, RejectsGarbageAndOutOfRangeFields) {
  const char* bad[] = {
      "",
      "garbage",
      "2024-05-01",                 // no time
      "2024-05-01T10:00:00",        // no zone
      "2024-05-01 10:00:00Z",       // space instead of T
      "2024-5-01T10:00:00Z",        // short field
      "2024-05-01T10:00:00.Z",      // empty fraction
      "2024-05-01T10:00:00Zjunk",   // trailing text
      "2024-05-01T10:00:00+0200",   // offset without colon
      "2024-13-01T10:00:00Z",       // month
      "2024-00-01T10:00:00Z",       // month
      "2023-02-29T10:00:00Z",       // not a leap year
      "2024-04-31T10:00:00Z",       // day
      "2024-05-01T24:00:00Z",       // hour
      "2024-05-01T10:60:00Z",       // minute
      "2024-05-01T10:00:60Z",       // second
      "2024-05-01T10:00:00+24:00",  // offset hour
      "2024-05-01T10:00:00+02:60",  // offset minute
      "9999-12-31T23:59:59Z",       // beyond what Time holds
      "0001-01-01T00:00:00Z",       // before what Time holds
      "+024-05-01T10:00:00Z",       // sign in a digit field
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parseIso8601(text), std::nullopt);
  }
}

}  // namespace
}  // namespace base

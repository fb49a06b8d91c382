#include "telemetry/core/date_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace tlm {
namespace {

using namespace std::chrono_literals;

TEST(DateTextTest, WritesUtcMillisecondsTruncated) {
  struct Case {
    Date date;
    const char* text;
  } cases[] = {
      {Date(500ms), "1970-01-01T00:00:00.500Z"},
      {Date(999999us), "1970-01-01T00:00:00.999Z"},
      {Date(-1ns), "1969-12-31T23:59:59.999Z"},
      {Date(std::chrono::seconds(1714557600) + 123ms), "2024-05-01T10:00:00.123Z"},
  };
  // The machine's zone must not matter.
  setenv("TZ", "Asia/Kolkata", 1);
  tzset();
  for (const auto& c : cases)
    EXPECT_EQ(dateToISO8601(c.date), c.text);
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST(DateTextTest, ParsesOnlyItsOwnForm) {
  EXPECT_EQ(dateFromISO8601("2024-05-01T10:00:00.123Z"),
            Date(std::chrono::seconds(1714557600) + 123ms));
  for (const char* text :
       {"2024-05-01T10:00:00Z", "2024-05-01T10:00:00.123+00:00", "2024-05-01T10:00:00.1234Z",
        "2024-05-01 10:00:00.123Z", "2024-13-01T10:00:00.123Z", "", "garbage"}) {
    EXPECT_EQ(dateFromISO8601(text), std::nullopt) << text;
  }
}

TEST(DateTextTest, NowInMillisecondsKeepsFraction) {
  dispatch::VirtualClock clock(Date(1500us));
  EXPECT_DOUBLE_EQ(nowInMilliseconds(clock), 1.5);
}

}  // namespace
}  // namespace tlm

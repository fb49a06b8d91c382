#include "platform/date_format/date_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "support/scoped_environment.h"

namespace platform {
namespace {

// 2024-05-01T14:05:00Z
const auto kTime = std::chrono::system_clock::time_point(std::chrono::seconds(1714572300));

TEST(DateFormatTest, WritesAMediumDateAndAShortTimeAsTheLocaleDoes) {
  struct Case {
    const char* locale;
    const char* zone;
    std::string expected;
  } cases[] = {
      // English separates the time's day period by a narrow no-break space.
      {"en_US", "UTC", "May 1, 2024, 2:05\u202fPM"},
      {"en_US", "America/New_York", "May 1, 2024, 10:05\u202fAM"},
      {"de_DE", "Europe/Berlin", "01.05.2024, 16:05"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mediumDateShortTime(kTime, c.locale, c.zone), c.expected) << c.locale;
  }
}

TEST(DateFormatTest, TwoTimesWithinOneMinuteGiveTheSameText) {
  EXPECT_EQ(mediumDateShortTime(kTime, "en_US", "UTC"),
            mediumDateShortTime(kTime + std::chrono::seconds(50), "en_US", "UTC"));
}

using support::ScopedEnvironment;

TEST(DateFormatTest, TheUsersLocaleForDatesComesFromTheEnvironment) {
  {
    ScopedEnvironment env(
        {{"LC_ALL", std::nullopt}, {"LC_TIME", "de_DE.UTF-8@euro"}, {"LANG", "en_US.UTF-8"}});
    EXPECT_EQ(mediumDateShortTime(kTime, {}, "UTC"), "01.05.2024, 14:05");
  }
  {
    ScopedEnvironment env({{"LC_ALL", "en_GB.UTF-8"}, {"LC_TIME", "de_DE.UTF-8"}});
    EXPECT_EQ(mediumDateShortTime(kTime, {}, "UTC"), "1 May 2024, 14:05");
  }
}

}  // namespace
}  // namespace platform

#include "telemetry/analytics/analytics.h"

#include <gtest/gtest.h>

#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace tlm {
namespace {

using Props = std::vector<TLMEventProperty>;

TEST(AnalyticsTest, DropsEverythingUntilABackendIsInstalled) {
  ASSERT_EQ(TLMAnalytics::setBackend(nullptr), nullptr);
  TLMAnalytics::trackEvent("Early");
  TLMAnalytics::setEnabled(true);
  EXPECT_FALSE(TLMAnalytics::isEnabled());

  ScopedRecordingAnalytics recording;
  EXPECT_TRUE(TLMAnalytics::isEnabled());
  EXPECT_TRUE(recording.events().empty());
}

TEST(AnalyticsTest, RecordsNameAndOrderedTypedProperties) {
  ScopedRecordingAnalytics recording;
  TLMEventProperties properties;
  properties.setString("b", "x").setInt64("a", 3);
  TLMAnalytics::trackEvent("With", properties);
  properties.setBool("later", true);  // the event keeps what was set when it was tracked
  TLMAnalytics::trackEvent("Without");
  TLMAnalytics::trackEvent("Empty", TLMEventProperties());

  const auto events = recording.events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].name, "With");
  EXPECT_TRUE(events[0].withProperties);
  EXPECT_EQ(events[0].properties, (Props{{"b", std::string("x")}, {"a", std::int64_t{3}}}));
  EXPECT_EQ(events[1].name, "Without");
  EXPECT_FALSE(events[1].withProperties);
  EXPECT_TRUE(events[2].withProperties);
  EXPECT_TRUE(events[2].properties.empty());
}

TEST(AnalyticsTest, DisabledServiceDropsEventsUntilEnabledAgain) {
  ScopedRecordingAnalytics recording;
  TLMAnalytics::setEnabled(false);
  EXPECT_FALSE(TLMAnalytics::isEnabled());
  TLMAnalytics::trackEvent("Dropped");
  TLMAnalytics::setEnabled(true);
  TLMAnalytics::trackEvent("Kept");
  ASSERT_EQ(recording.events().size(), 1u);
  EXPECT_EQ(recording.events()[0].name, "Kept");
}

TEST(AnalyticsTest, BackendNotStartedRefusesEveryCall) {
  ScopedRecordingAnalytics recording;
  recording.backend().setStarted(false);
  TLMAnalytics::setEnabled(false);
  TLMAnalytics::trackEvent("Dropped");
  EXPECT_FALSE(TLMAnalytics::isEnabled());
  recording.backend().setStarted(true);
  EXPECT_TRUE(TLMAnalytics::isEnabled()) << "setEnabled before the start must be ignored";
  EXPECT_TRUE(recording.events().empty());
}

TEST(AnalyticsTest, ScopedBackendRestoresThePreviousOne) {
  ScopedRecordingAnalytics outer;
  {
    ScopedRecordingAnalytics inner;
    TLMAnalytics::trackEvent("Inner");
    EXPECT_EQ(inner.events().size(), 1u);
  }
  TLMAnalytics::trackEvent("Outer");
  ASSERT_EQ(outer.events().size(), 1u);
  EXPECT_EQ(outer.events()[0].name, "Outer");
}

}  // namespace
}  // namespace tlm

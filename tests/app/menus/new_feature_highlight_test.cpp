#include "app/menus/new_feature_highlight.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rx/subjects.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace wendrix {
namespace {

const std::string kNew = "\xF0\x9F\x8C\x9F NEW: ";

struct HighlightCase {
  const char* what;
  std::string title;
  std::vector<bool> flags;
  std::string shown;
  std::size_t events;
};

TEST(NewFeatureHighlight, FollowsTheFlag) {
  const HighlightCase cases[] = {
      {"unused", "Edit Layouts...", {false}, kNew + "Edit Layouts...", 1},
      {"unused, seen twice", "Edit Layouts...", {false, false}, kNew + "Edit Layouts...", 1},
      {"used", "Edit Layouts...", {true}, "Edit Layouts...", 0},
      {"then used", "Edit Layouts...", {false, true}, "Edit Layouts...", 1},
      {"used, then unused again", "Edit...", {false, true, false}, kNew + "Edit...", 2},
      {"already marked", kNew + "Hide", {false}, kNew + "Hide", 0},
      {"every mark goes", kNew + "A " + kNew + "B", {true}, "A B", 0},
      {"a mark inside only", "A " + kNew, {true}, "A " + kNew, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tlm::ScopedRecordingAnalytics analytics;
    auto item = toolkit::MenuItem::make(c.title);
    rx::PublishSubject<bool> flag;
    rx::Disposable d = bindNewFeatureHighlight(flag.asObservable(), item).subscribe();
    for (bool f : c.flags)
      flag.onNext(f);
    d.dispose();
    EXPECT_EQ(item->title(), c.shown);
    const auto events = analytics.events();
    ASSERT_EQ(events.size(), c.events);
    for (const auto& event : events) {
      EXPECT_EQ(event.name, "NewFeatureHighlight");
      ASSERT_EQ(event.properties.size(), 1u);
      EXPECT_EQ(event.properties[0].name, "FeatureName");
      EXPECT_EQ(std::get<std::string>(event.properties[0].value), "EditLayoutsWindow");
    }
  }
}

TEST(NewFeatureHighlight, ThePrefixIsTenBytes) {
  EXPECT_EQ(kNewFeaturePrefix.size(), 10u);
  EXPECT_EQ(std::string(kNewFeaturePrefix), kNew);
}

}  // namespace
}  // namespace wendrix

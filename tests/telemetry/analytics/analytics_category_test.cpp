#include "telemetry/analytics/analytics_category.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "dispatch/manual_queue.h"
#include "support/telemetry_fake_pipeline.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_logs.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

TEST(AnalyticsCategoryPageName, ClassNameLosesNamespacesAndTheControllerSuffix) {
  struct Case {
    const char* className;
    std::optional<std::string> page;
  };
  for (const Case& c : {
           Case{"wendrix::SettingsViewController", "Settings"},
           Case{"SettingsViewController", "Settings"},
           Case{"wendrix::(anonymous namespace)::AboutViewController", "About"},
           Case{"ViewController", "ViewController"},
           Case{"toolkit::ViewController", "ViewController"},
           Case{"wendrix::LayoutList", "LayoutList"},
           Case{"toolkit::TabViewController", std::nullopt},
           Case{"toolkit::SplitViewController", std::nullopt},
           Case{"wendrix::CustomizationSplitViewController", "CustomizationSplit"},
       }) {
    EXPECT_EQ(TLMAnalyticsCategory::pageNameFromClassName(c.className), c.page) << c.className;
  }
}

class AnalyticsCategoryTest : public ::testing::Test {
 protected:
  AnalyticsCategoryTest() {
    TLMAnalyticsEnvironment environment;
    environment.tracker.clock = &clock;
    environment.tracker.notifications = std::make_shared<TLMNotificationCenter>();
    environment.tracker.applicationState = [] { return TLMApplicationState::Active; };
    service = TLMAnalyticsService::make(std::move(environment));
    TLMAnalyticsService::setSharedForTesting(service);
    TLMAnalytics::setBackend(nullptr);
    TLMAnalyticsCategory::resetForTesting();
    TLMAnalyticsCategory::setMainQueue(&mainQueue);
  }
  ~AnalyticsCategoryTest() override {
    TLMAnalyticsCategory::resetForTesting();
    TLMAnalyticsService::setSharedForTesting();
  }

  std::vector<std::string> pages() {
    std::vector<std::string> out;
    for (const auto& item : sdk.group()->unit("Analytics")->enqueued())
      if (auto page = std::dynamic_pointer_cast<TLMPageLog>(item.log))
        out.push_back(page->name.value_or(""));
    return out;
  }

  testing::ScopedFakeTelemetrySdk sdk;
  dispatch::VirtualClock clock;
  dispatch::ManualQueue mainQueue;
  std::shared_ptr<TLMAnalyticsService> service;
};

TEST_F(AnalyticsCategoryTest, NothingBeforeActivationOrWithAutomaticTrackingOff) {
  TLMDarAveved::start("secret-1", {TLMAnalyticsService::serviceClass()});
  TLMAnalytics::setAutoPageTrackingEnabled(true);
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::AboutViewController");
  EXPECT_TRUE(pages().empty());

  TLMAnalyticsCategory::activateCategory();
  TLMAnalyticsCategory::activateCategory();
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::AboutViewController");
  TLMAnalytics::setAutoPageTrackingEnabled(false);
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::SettingsViewController");
  EXPECT_EQ(pages(), std::vector<std::string>{"About"});
}

TEST_F(AnalyticsCategoryTest, PagesMissedBeforeTheStartLeaveTheLastForTheMainQueue) {
  TLMAnalyticsCategory::activateCategory();
  TLMAnalytics::setAutoPageTrackingEnabled(true);
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::AboutViewController");
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::HomeViewController");
  EXPECT_EQ(TLMAnalyticsCategory::missedPageViewName(), "Home");

  TLMDarAveved::start("secret-1", {TLMAnalyticsService::serviceClass()});
  EXPECT_TRUE(pages().empty());
  mainQueue.runUntilIdle();
  EXPECT_EQ(pages(), std::vector<std::string>{"Home"});

  // A page taken by the service clears the missed one.
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::AboutViewController");
  EXPECT_FALSE(TLMAnalyticsCategory::missedPageViewName());
  EXPECT_EQ(pages(), (std::vector<std::string>{"Home", "About"}));

  // While the service is disabled pages are missed again.
  TLMAnalytics::setEnabled(false);
  TLMAnalyticsCategory::viewControllerWillAppear("wendrix::SettingsViewController");
  EXPECT_EQ(TLMAnalyticsCategory::missedPageViewName(), "Settings");
  TLMAnalytics::setEnabled(true);
  mainQueue.runUntilIdle();
  EXPECT_EQ(pages(), (std::vector<std::string>{"Home", "About", "Settings"}));
}

}  // namespace
}  // namespace tlm

// Page views of the headless toolkit's view controllers, through the
// program's telemetry wiring.

#include "app/telemetry_wiring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "dispatch/manual_queue.h"
#include "support/scoped_environment.h"
#include "support/telemetry_fake_pipeline.h"
#include "support/temp_dir.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_category.h"
#include "telemetry/analytics/analytics_logs.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/http/http_client.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/util/utility.h"
#include "toolkit/application.h"
#include "toolkit/containers.h"
#include "toolkit/view.h"
#include "toolkit/window.h"

namespace wendrix::testing {
namespace {

class PreferencesViewController final : public toolkit::ViewController {
 public:
  int appearances = 0;

 protected:
  void viewDidAppear() override { ++appearances; }
};

class PanesController final : public toolkit::TabViewController {};

class TelemetryWiringTest : public ::testing::Test {
 protected:
  TelemetryWiringTest() {
    tlm::TLMAnalyticsEnvironment environment;
    environment.tracker.clock = &queue.clock();
    environment.tracker.notifications = std::make_shared<tlm::TLMNotificationCenter>();
    environment.tracker.applicationState = [] { return tlm::TLMApplicationState::Active; };
    service = tlm::TLMAnalyticsService::make(std::move(environment));
    tlm::TLMAnalyticsService::setSharedForTesting(service);
    tlm::TLMAnalytics::setBackend(nullptr);
  }
  ~TelemetryWiringTest() override {
    tlm::TLMAnalyticsCategory::resetForTesting();
    tlm::TLMAnalyticsService::setSharedForTesting();
    tlm::TLMAnalytics::setBackend(nullptr);
  }

  // Shows `controller` in a new window.
  void show(std::shared_ptr<toolkit::ViewController> controller) {
    windows.push_back(
        std::make_unique<toolkit::Window>(application, toolkit::Rect{{0, 0}, {400, 300}}));
    windows.back()->setContentViewController(std::move(controller));
    windows.back()->makeKeyAndOrderFront();
  }
  std::vector<std::string> pages() {
    std::vector<std::string> out;
    for (const auto& item : sdk.group()->unit("Analytics")->enqueued())
      if (auto page = std::dynamic_pointer_cast<tlm::TLMPageLog>(item.log))
        out.push_back(page->name.value_or(""));
    return out;
  }

  tlm::testing::ScopedFakeTelemetrySdk sdk;
  dispatch::ManualQueue queue;
  toolkit::Application application{queue, {}};
  TelemetryForwarderHooks hooks{application};
  std::shared_ptr<tlm::TLMAnalyticsService> service;
  std::vector<std::unique_ptr<toolkit::Window>> windows;
};

TEST_F(TelemetryWiringTest, AppearingControllersAreTrackedAsPagesOnceSwitchedOn) {
  tlm::TLMDarAveved::start("secret-1", {tlm::TLMAnalyticsService::serviceClass()});
  auto before = std::make_shared<PreferencesViewController>();
  show(before);
  EXPECT_EQ(before->appearances, 1);
  EXPECT_TRUE(pages().empty());

  tlm::TLMAnalyticsCategory::activateCategory();
  tlm::TLMAnalytics::setAutoPageTrackingEnabled(true);
  auto preferences = std::make_shared<PreferencesViewController>();
  show(preferences);
  // A tab container reports only the child it shows; a container of another
  // class name reports itself too.
  auto tabs = std::make_shared<toolkit::TabViewController>();
  tabs->addChild(std::make_shared<PreferencesViewController>());
  show(tabs);
  auto panes = std::make_shared<PanesController>();
  show(panes);
  EXPECT_EQ(preferences->appearances, 1);
  EXPECT_EQ(pages(), (std::vector<std::string>{"Preferences", "Preferences", "PanesController"}));

  // Switched off: the controller's own handler still runs, nothing is tracked.
  tlm::TLMAnalytics::setAutoPageTrackingEnabled(false);
  auto after = std::make_shared<PreferencesViewController>();
  show(after);
  EXPECT_EQ(after->appearances, 1);
  EXPECT_EQ(pages().size(), 3u);
}

TEST_F(TelemetryWiringTest, APageMissedBeforeTheStartIsTrackedOnTheMainQueue) {
  tlm::TLMAnalyticsCategory::activateCategory();
  tlm::TLMAnalytics::setAutoPageTrackingEnabled(true);
  show(std::make_shared<PanesController>());
  show(std::make_shared<PreferencesViewController>());
  EXPECT_EQ(tlm::TLMAnalyticsCategory::missedPageViewName(), "Preferences");

  tlm::TLMDarAveved::start("secret-1", {tlm::TLMAnalyticsService::serviceClass()});
  EXPECT_TRUE(pages().empty());
  queue.runUntilIdle();
  EXPECT_EQ(pages(), std::vector<std::string>{"Preferences"});
}

// The program's telemetry set-up with and without a log URL: without one, the
// SDK runs with its ingestion kept disabled and one line says logs stay local.
TEST(TelemetryWiringDestination, OnlyABuildGivenALogUrlLetsTheSdkSend) {
  struct Case {
    std::string logUrl;
    bool disabled;
  };
  support::TempDir home{"telemetry-wiring"};
  support::ScopedEnvironment environment{{"XDG_DATA_HOME", home.path().string()}};
  for (const Case& c : {Case{"", true}, Case{"https://logs.example.test", false}}) {
    SCOPED_TRACE(c.logUrl);
    tlm::TLMUtility::resetDirectoryForTesting();
    tlm::testing::ScopedFakeTelemetrySdk sdk;
    std::ostringstream notices;
    configureTelemetry(c.logUrl, std::make_shared<dispatch::ManualQueue>(), notices);
    tlm::TLMDarAveved::configureWithAppSecret("secret");
    ASSERT_TRUE(sdk.group());
    EXPECT_EQ(sdk.group()->ingestionDisabled(), c.disabled);
    // The enabled switch, which enables the ingestion otherwise, leaves it so.
    tlm::TLMDarAveved::setEnabled(false);
    tlm::TLMDarAveved::setEnabled(true);
    EXPECT_EQ(sdk.group()->ingestionDisabled(), c.disabled);
    if (c.disabled) {
      const std::string text = notices.str();
      EXPECT_NE(text.find("logs are kept locally"), std::string::npos);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    } else {
      EXPECT_EQ(notices.str(), "");
      EXPECT_EQ(sdk.group()->logUrl(), c.logUrl);
    }
    tlm::TLMDependencyConfiguration::setHttpClient(nullptr);
    tlm::TLMCrashesShared::configure({});
    tlm::TLMCrashesShared::setForTesting();
  }
  tlm::TLMUtility::resetDirectoryForTesting();
}

TEST(TelemetryWiringClassName, NamesTheControllersOwnClass) {
  PreferencesViewController controller;
  EXPECT_EQ(viewControllerClassName(controller),
            "wendrix::testing::(anonymous namespace)::PreferencesViewController");
}

}  // namespace
}  // namespace wendrix::testing

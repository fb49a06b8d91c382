#include "telemetry/sdk/daraveved.h"

#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "support/scoped_environment.h"
#include "support/telemetry_fake_pipeline.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/ingestion/http_ingestion.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/sdk/daraveved_instance.h"
#include "telemetry/sdk/test_services.h"

namespace tlm {
namespace {

using testing::FakeChannelUnit;
using testing::LogCapture;
using Names = std::vector<std::string>;
using Switches = std::vector<std::pair<bool, bool>>;

class DarAvevedTest : public ::testing::Test {
 protected:
  // The services named by the start-service logs of the core unit, one list per log.
  std::vector<Names> announced() const {
    std::vector<Names> out;
    const auto unit = sdk.group() ? sdk.group()->unit("DarAveved") : nullptr;
    if (!unit) return out;
    for (const auto& item : unit->enqueued()) {
      const auto log = std::dynamic_pointer_cast<TLMStartServiceLog>(item.log);
      if (log && item.flags == 1) out.push_back(log->services.value_or(Names{}));
    }
    return out;
  }
  std::optional<coding::Value> stored(const std::string& key) {
    return sdk.defaults().get("TLDarAveved" + key);
  }

  testing::ScopedFakeTelemetrySdk sdk;
  support::ScopedEnvironment environment{{TLMDarAveved::kDisableEnvironmentVariable, std::nullopt}};
  LogCapture logs{TLMLogLevel::Verbose};
  testing::TestServiceClass analytics = testing::testAnalytics();
  testing::TestServiceClass crashes = testing::testCrashes();
};

TEST_F(DarAvevedTest, StartBuildsThePipelineStartsServicesByPriorityAndAnnouncesThem) {
  TLMDarAveved::start("secret-1", {analytics.serviceClass, crashes.serviceClass});

  EXPECT_TRUE(TLMDarAveved::isConfigured());
  const auto group = sdk.group();
  ASSERT_TRUE(group);
  EXPECT_EQ(group->installId(), TLMDarAveved::installId());
  EXPECT_EQ(group->logUrl(), TLMDarAveved::kDefaultLogUrl);
  EXPECT_EQ(group->appSecret(), "secret-1");
  // The core unit, then each service's own, crashes first.
  EXPECT_EQ(group->unitGroupIds(), (Names{"DarAveved", "Crashes", "Analytics"}));
  EXPECT_EQ(crashes.service->appSecret(), "secret-1");
  EXPECT_EQ(analytics.service->appSecret(), "secret-1");
  EXPECT_TRUE(analytics.service->isStartedFromApplication());
  EXPECT_EQ(group->unit("Analytics")->enabledCalls(), (Switches{{true, true}}));
  EXPECT_EQ(announced(), (std::vector<Names>{{"Crashes", "Analytics"}}));
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose,
                       "Start services TLMCrashes, TLMAnalytics from an application"));
  EXPECT_TRUE(logs.has(TLMLogLevel::Info, "Dar Aveved SDK configured successfully."));
}

TEST_F(DarAvevedTest, SecondStartFromTheApplicationIsRefusedAndStartsNothing) {
  TLMDarAveved::start("secret-1", {crashes.serviceClass});
  TLMDarAveved::start("secret-2", {analytics.serviceClass});

  EXPECT_EQ(logs.at(TLMLogLevel::Assert), (Names{"Dar Aveved SDK has already been configured.",
                                                 "Dar Aveved SDK configuration failed."}));
  EXPECT_FALSE(analytics.service->isStarted());
  EXPECT_EQ(TLMDarAveved::appSecret(), "secret-1");
  EXPECT_EQ(announced(), (std::vector<Names>{{"Crashes"}}));

  // A service joins later through startService, with the stored secret.
  TLMDarAveved::startService(analytics.serviceClass);
  EXPECT_EQ(analytics.service->appSecret(), "secret-1");
  EXPECT_EQ(announced(), (std::vector<Names>{{"Crashes"}, {"Analytics"}}));
  EXPECT_EQ(TLMDarAveved::sharedInstance()->services(),
            (std::vector<TLMServiceClass>{crashes.serviceClass, analytics.serviceClass}));
}

TEST_F(DarAvevedTest, RunningServiceStartedAgainFromTheApplicationIsIgnoredFromALibraryCounts) {
  TLMDarAveved::start("secret", {analytics.serviceClass});
  const auto sdkObject = TLMDarAveved::sharedInstance();
  logs.clear();

  EXPECT_FALSE(sdkObject->startService(analytics.serviceClass, "secret", std::nullopt, true));
  EXPECT_TRUE(logs.lines().empty());
  EXPECT_TRUE(sdkObject->startService(analytics.serviceClass, "secret", std::nullopt, false));
  EXPECT_EQ(analytics.service->starts, 1);
  EXPECT_EQ(analytics.service->updates, 0);
}

// A disabled service is not "available", yet it runs: started again it must
// not get a second unit.
TEST_F(DarAvevedTest, DisabledServiceStartedByALibraryThenTheApplicationKeepsOneUnit) {
  sdk.settings().setObject(false, "AnalyticsIsEnabled");
  TLMDarAveved::startFromLibraryWithServices({analytics.serviceClass});
  TLMDarAveved::start("secret", {analytics.serviceClass});

  EXPECT_EQ(analytics.service->starts, 1);
  EXPECT_EQ(analytics.service->updates, 1);
  EXPECT_TRUE(analytics.service->isStartedFromApplication());
  EXPECT_EQ(sdk.group()->unitGroupIds(), (Names{"DarAveved", "Analytics"}));
  // The library's start announces nothing; the application's update does.
  EXPECT_EQ(announced(), (std::vector<Names>{{"Analytics"}}));
}

TEST_F(DarAvevedTest, ServicesThatCannotStartAreRefusedWithTheirReason) {
  // Before any configuration, adding a service does nothing, silently.
  TLMDarAveved::startService(crashes.serviceClass);
  EXPECT_TRUE(logs.lines().empty());

  // Without a secret only the service that needs none starts.
  TLMDarAveved::startWithServices(
      {TLMServiceClass(), crashes.serviceClass, analytics.serviceClass});
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, "Cannot start service (null). Provided value is nil"));
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "Cannot start service TLMCrashes. Dar Aveved was started without app "
                       "secret, but the service requires it."));
  EXPECT_FALSE(crashes.service->isStarted());
  EXPECT_TRUE(analytics.service->isStarted());
  EXPECT_EQ(announced(), (std::vector<Names>{{"Analytics"}}));
}

TEST_F(DarAvevedTest, LibraryConfigurationDoesNotLetTheApplicationsServicesStart) {
  TLMDarAveved::startFromLibraryWithServices({});
  EXPECT_FALSE(TLMDarAveved::isConfigured());
  EXPECT_FALSE(TLMDarAveved::sharedInstance()->startService(crashes.serviceClass, "secret",
                                                            std::nullopt, true));
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "Dar Aveved has not been configured so it couldn't start the service."));
}

TEST_F(DarAvevedTest, EnvironmentSwitchKeepsNamedServicesFromStarting) {
  struct Case {
    const char* value;
    Names started;
  };
  const Case cases[] = {
      {" Crashes , Analytics ", {}},     {"All", {}},
      {"all", {"Crashes", "Analytics"}}, {"Analytics", {"Crashes"}},
      {"Analytics,", {"Crashes"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    sdk.restart();
    auto analyticsNow = testing::testAnalytics();
    auto crashesNow = testing::testCrashes();
    environment.set(TLMDarAveved::kDisableEnvironmentVariable, c.value);
    TLMDarAveved::start("secret", {analyticsNow.serviceClass, crashesNow.serviceClass});
    Names started;
    for (const auto& service : TLMDarAveved::sharedInstance()->services())
      started.push_back(service.serviceName());
    EXPECT_EQ(started, c.started);
  }
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug,
                       "Environment variable to disable service has been set; not starting "
                       "service TLMAnalytics"));
}

TEST_F(DarAvevedTest, EnabledSwitchIsPersistedAndAppliedToTheGroupAndEveryService) {
  // Before configuration the switch cannot be used.
  TLMDarAveved::setEnabled(false);
  EXPECT_FALSE(TLMDarAveved::isEnabled());
  EXPECT_FALSE(stored("DarAvevedIsEnabled"));
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, "Dar Aveved SDK hasn't been configured."));

  TLMDarAveved::start("secret", {analytics.serviceClass, crashes.serviceClass});
  const auto group = sdk.group();
  TLMDarAveved::setEnabled(false);
  EXPECT_FALSE(TLMDarAveved::isEnabled());
  EXPECT_EQ(stored("DarAvevedIsEnabled"), coding::Value(false));
  EXPECT_EQ(stored("AnalyticsIsEnabled"), coding::Value(false));
  EXPECT_EQ(stored("CrashesIsEnabled"), coding::Value(false));
  // Disabling deletes every stored log.
  EXPECT_EQ(group->enabledCalls(), (Switches{{true, true}, {false, true}}));
  EXPECT_EQ(group->unit("Analytics")->enabledCalls(), (Switches{{true, true}, {false, true}}));
  EXPECT_TRUE(logs.has(TLMLogLevel::Info, "Dar Aveved SDK disabled."));

  // A service cannot be switched on alone while the SDK is off.
  logs.clear();
  analytics.serviceClass.setEnabled(true);
  EXPECT_EQ(logs.at(TLMLogLevel::Error),
            (Names{"The SDK is disabled. Re-enable the whole SDK from DarAveved first before "
                   "enabling Analytics service."}));
  EXPECT_FALSE(analytics.serviceClass.isEnabled());

  TLMDarAveved::setEnabled(true);
  EXPECT_TRUE(analytics.serviceClass.isEnabled());
  EXPECT_TRUE(crashes.serviceClass.isEnabled());
  EXPECT_EQ(group->enabledCalls().back(), (std::pair{true, true}));
  EXPECT_EQ(stored("DarAvevedIsEnabled"), coding::Value(true));
}

TEST_F(DarAvevedTest, ServicesStartedWhileDisabledAreSwitchedOffAndAnnouncedOnEnabling) {
  sdk.settings().setObject(false, "DarAvevedIsEnabled");
  TLMDarAveved::start("secret", {analytics.serviceClass});
  TLMDarAveved::startService(crashes.serviceClass);

  EXPECT_EQ(sdk.group()->enabledCalls(), (Switches{{false, true}}));
  EXPECT_FALSE(analytics.service->isEnabled());
  EXPECT_FALSE(crashes.service->isEnabled());
  EXPECT_TRUE(announced().empty());

  TLMDarAveved::setEnabled(true);
  EXPECT_TRUE(analytics.service->isEnabled());
  EXPECT_TRUE(crashes.service->isEnabled());
  EXPECT_EQ(announced(), (std::vector<Names>{{"Analytics", "Crashes"}}));
}

TEST_F(DarAvevedTest, LogUrlBeforeAndAfterStart) {
  TLMDarAveved::setLogUrl("http://127.0.0.1:1/before");
  EXPECT_EQ(TLMDarAveved::logUrl(), "http://127.0.0.1:1/before");
  TLMDarAveved::start("secret", {});
  EXPECT_EQ(sdk.group()->logUrl(), "http://127.0.0.1:1/before");

  TLMDarAveved::setLogUrl("http://127.0.0.1:1/after");
  EXPECT_EQ(sdk.group()->logUrl(), "http://127.0.0.1:1/after");
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Info,
               "The log url of Dar Aveved endpoint was changed to http://127.0.0.1:1/after"));
}

TEST_F(DarAvevedTest, WithoutASecretTheLogUrlIsTheCollectorsBeforeAndAfterStart) {
  const auto collectorUrl = [] {
    const auto collector = TLMDarAveved::sharedInstance()->collectorChannelDelegate();
    return std::dynamic_pointer_cast<TLMHttpIngestion>(collector->collectorIngestion())->baseURL();
  };
  TLMDarAveved::setLogUrl("http://127.0.0.1:1/before");
  TLMDarAveved::startWithServices({});
  EXPECT_EQ(collectorUrl(), "http://127.0.0.1:1/before");

  TLMDarAveved::setLogUrl("http://127.0.0.1:1/after");
  EXPECT_EQ(collectorUrl(), "http://127.0.0.1:1/after");
  EXPECT_EQ(sdk.group()->logUrl(), "http://127.0.0.1:1/before");
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Info,
               "The log url of Collector endpoint was changed to http://127.0.0.1:1/after"));
}

TEST_F(DarAvevedTest, MaxStorageSizeIsKeptForTheGroupAndRefusedWhenTooSmallRepeatedOrLate) {
  std::vector<std::string> answers;
  const auto handler = [&](bool accepted) {
    // The handler of a refusal runs before the warning is logged.
    answers.push_back(std::string(accepted ? "true" : "false") +
                      (logs.at(TLMLogLevel::Warning).empty() ? "" : " after warning"));
  };
  TLMDarAveved::setMaxStorageSize(24575, handler);
  EXPECT_TRUE(logs.has(TLMLogLevel::Warning,
                       "Cannot set storage size to 24575 bytes, minimum value is 24576 bytes"));
  TLMDarAveved::setMaxStorageSize(24576, handler);
  EXPECT_EQ(answers, (Names{"false"}));

  TLMDarAveved::start("secret", {});
  EXPECT_EQ(sdk.group()->maxStorageSizes(), (std::vector<std::int64_t>{24576}));
  EXPECT_EQ(answers, (Names{"false", "true after warning"}));

  TLMDarAveved::setMaxStorageSize(30000, handler);
  EXPECT_TRUE(logs.has(TLMLogLevel::Warning,
                       "setMaxStorageSize:completionHandler: may only be called once per app "
                       "launch"));

  sdk.restart();
  TLMDarAveved::start("secret", {});
  TLMDarAveved::setMaxStorageSize(30000, handler);
  EXPECT_TRUE(logs.has(TLMLogLevel::Warning,
                       "Unable to set storage size after the application has configured Dar "
                       "Aveved"));
  EXPECT_TRUE(sdk.group()->maxStorageSizes().empty());
  EXPECT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[2], "false after warning");
  EXPECT_EQ(answers[3], "false after warning");
}

TEST_F(DarAvevedTest, InstallIdIsStoredOnceAndACorruptOneIsReplaced) {
  const std::string first = TLMDarAveved::installId();
  EXPECT_EQ(stored("InstallId"), coding::Value(first));
  sdk.restart();
  EXPECT_EQ(TLMDarAveved::installId(), first);

  sdk.settings().setObject("not-a-uuid", "InstallId");
  sdk.restart();
  const std::string replaced = TLMDarAveved::installId();
  EXPECT_NE(replaced, first);
  EXPECT_EQ(replaced.size(), 36u);
  EXPECT_EQ(stored("InstallId"), coding::Value(replaced));
}

TEST_F(DarAvevedTest, SettingsOfOlderVersionsMoveUnderTheirNewKeys) {
  // Settings still under their old keys: no migration has been done yet.
  sdk.settings().removeObjectForKey("310DarAvevedUserDefaultsMigratedKey");
  (void)sdk.defaults().set("TLInstallId", "1b4e28ba-2fa1-11d2-883f-0016d3cca427");
  (void)sdk.defaults().set("TLDarAvevedIsEnabled", false);
  (void)sdk.defaults().set("TLChannelStartTimer:Analytics", std::int64_t{5});
  sdk.restart();
  EXPECT_EQ(TLMDarAveved::installId(), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  EXPECT_EQ(stored("DarAvevedIsEnabled"), coding::Value(false));
  EXPECT_EQ(stored("ChannelStartTimer:Analytics"), coding::Value(std::int64_t{5}));
  EXPECT_FALSE(sdk.defaults().get("TLInstallId"));
}

TEST_F(DarAvevedTest, UserIdNeedsTheApplicationsConfigurationWithASecret) {
  TLMDarAveved::setUserId("alice");
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "DarAveved must be configured from application, libraries cannot call "
                       "setUserId."));
  TLMDarAveved::configure();
  TLMDarAveved::setUserId("alice");
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "DarAveved must be configured with a secret from application to call "
                       "setUserId."));
  EXPECT_FALSE(TLMDarAveved::userId());

  sdk.restart();
  TLMDarAveved::configureWithAppSecret("secret");
  TLMDarAveved::setUserId("alice");
  EXPECT_EQ(TLMDarAveved::userId(), "alice");
  TLMDarAveved::setUserId(std::nullopt);
  EXPECT_FALSE(TLMDarAveved::userId());
}

TEST_F(DarAvevedTest, CustomPropertiesGoToTheCoreUnitOnceConfigured) {
  TLMCustomProperties properties;
  properties.setString("blue", "color");
  TLMDarAveved::setCustomProperties(&properties);  // no core unit yet: dropped
  TLMDarAveved::start("secret", {});
  TLMDarAveved::setCustomProperties(nullptr);
  TLMCustomProperties empty;
  TLMDarAveved::setCustomProperties(&empty);
  EXPECT_EQ(logs.at(TLMLogLevel::Error), (Names{"Custom properties may not be null or empty",
                                                "Custom properties may not be null or empty"}));

  TLMDarAveved::setCustomProperties(&properties);
  const auto enqueued = sdk.group()->unit("DarAveved")->enqueued();
  ASSERT_EQ(enqueued.size(), 1u);
  const auto log = std::dynamic_pointer_cast<TLMCustomPropertiesLog>(enqueued[0].log);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->properties, (TLMCustomPropertyMap{{"color", std::string("blue")}}));
}

TEST_F(DarAvevedTest, ConfiguredTheSdkReportsWarningsUnlessTheApplicationChoseALevel) {
  TLMLogger::setIsUserDefinedLogLevel(false);
  EXPECT_EQ(TLMDarAveved::logLevel(), TLMLogLevel::Verbose);
  TLMDarAveved::start("secret", {});
  EXPECT_EQ(TLMDarAveved::logLevel(), TLMLogLevel::Warning);

  sdk.restart();
  TLMDarAveved::setLogLevel(TLMLogLevel::Debug);
  TLMDarAveved::start("secret", {});
  EXPECT_EQ(TLMDarAveved::logLevel(), TLMLogLevel::Debug);
}

TEST_F(DarAvevedTest, TestCloudIsRecognisedByItsVariable) {
  for (const auto& [value, expected] :
       std::vector<std::pair<const char*, bool>>{{"1", true}, {"0", false}, {nullptr, false}}) {
    environment.set(TLMDarAveved::kTestCloudEnvironmentVariable, value);
    EXPECT_EQ(TLMDarAveved::isRunningInDarAvevedTestCloud(), expected) << (value ? value : "unset");
  }
}

TEST(DarAvevedDebuggerTest, ATracedProcessSeesItsDebugger) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(2);
    _exit(TLMDarAveved::isDebuggerAttached() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "ptrace is not allowed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(TLMDarAveved::isDebuggerAttached());
}

}  // namespace
}  // namespace tlm

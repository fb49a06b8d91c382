// The engine saves and restores a layout on the fake desktop while the real
// telemetry SDK, with the analytics service, sends its logs to a loopback
// server: the usage events arrive as event logs with typed properties,
// after the start-session log of their session. The logs queue runs on
// virtual time; only the HTTP round trips are real (waited for on a
// condition with a generous deadline).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/uuid.h"
#include "engine/restore_fixture.h"
#include "platform/defaults/user_defaults.h"
#include "platform/device/fake/fake_device_probe.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/context/session_context.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/core/logger.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/http/linux/curl_transport.h"
#include "telemetry/ingestion/loopback_server.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/daraveved_instance.h"
#include "telemetry/sdk/pumped_queue.h"
#include "telemetry/security/keychain_util.h"
#include "telemetry/util/notification_center.h"
#include "telemetry/util/utility.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using winsys::fake::AppSetup;

// Every process-wide part of the SDK made afresh over a temporary home.
void resetTelemetry() {
  platform::UserDefaults::setSharedForTesting();
  tlm::TLMDarAvevedUserDefaults::setSharedForTesting();
  tlm::TLMKeychainUtil::setSharedForTesting();
  tlm::TLMSessionContext::setSharedForTesting();
  tlm::TLMUserIdContext::setSharedForTesting();
  tlm::TLMDeviceTracker::setSharedForTesting();
  tlm::TLMNotificationCenter::setSharedForTesting();
  tlm::TLMUtility::resetDirectoryForTesting();
  tlm::TLMAnalyticsService::setSharedForTesting();
  tlm::TLMDarAveved::setSharedForTesting();
  tlm::TLMLogger::resetForTesting();
}

class LayoutEventsLoopbackTest : public RestoreTest {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    resetTelemetry();
    tlm::TLMDeviceTracker::configureShared(std::make_shared<platform::FakeDeviceProbe>());
    // The real service, not the fixture's recorder, takes the program's events.
    tlm::TLMAnalytics::setBackend(nullptr);
    tlm::TLMDarAveved::setSharedForTesting(std::make_shared<tlm::TLMDarAvevedInstance>(
        tlm::TLMDarAvevedDependencies::standard(logsQueue, tlm::TLMCurlTransportFactory())));
    tlm::TLMDarAveved::setLogUrl(server.baseUrl());
    tlm::TLMDarAveved::start("secret-1", {tlm::TLMAnalyticsService::serviceClass()});
  }
  void TearDown() override { resetTelemetry(); }

  // The logs the server received, in the order they arrived.
  std::vector<Json> receivedLogs() const {
    std::vector<Json> logs;
    for (const auto& request : server.requests()) {
      const auto body = Json::parse(request.body, nullptr, false);
      if (!body.is_object() || !body.contains("logs")) continue;
      for (const auto& log : body.at("logs"))
        logs.push_back(log);
    }
    return logs;
  }
  static std::ptrdiff_t indexOf(const std::vector<Json>& logs, const std::string& type,
                                const std::string& name = "") {
    const auto found = std::find_if(logs.begin(), logs.end(), [&](const Json& log) {
      return log.value("type", "") == type && (name.empty() || log.value("name", "") == name);
    });
    return found == logs.end() ? -1 : found - logs.begin();
  }
  // The typed property of that name, or null.
  static Json typedProperty(const Json& log, const std::string& name) {
    for (const auto& property : log.value("typedProperties", Json::array()))
      if (property.value("name", "") == name) return property;
    return nullptr;
  }

  support::TempDir home{"wendrix-engine-telemetry"};
  support::ScopedEnvironment environment{
      {"XDG_DATA_HOME", (home.path() / "data").string()},
      {"XDG_CONFIG_HOME", (home.path() / "config").string()},
      {tlm::TLMDarAveved::kDisableEnvironmentVariable, std::nullopt}};
  support::ScopedAppIdentity identity;
  tlmtest::LoopbackServer server;
  std::shared_ptr<tlm::testing::PumpedQueue> logsQueue =
      std::make_shared<tlm::testing::PumpedQueue>();
};

TEST_F(LayoutEventsLoopbackTest, SavedAndRestoredLayoutReachTheServerAsEventLogs) {
  const std::string editor = "org.example.Editor";
  const std::string terminal = "org.example.Terminal";
  desktop.launch(AppSetup::withId(editor), {liveWindow("a", "/docs/a.txt")});
  desktop.launch(AppSetup::withId(terminal), {liveWindow("shell")});

  auto saved = watch(actions->saveLayout(std::string("Work")), queue);
  queue.runUntilIdle();
  ASSERT_TRUE(saved->succeeded());
  const auto layouts = storage->loadLayouts();
  ASSERT_EQ(layouts.size(), 1u);
  auto restored = run(actions->restoreLayout(layouts[0]));
  ASSERT_TRUE(restored->succeeded());

  // The analytics unit sends once its 3 s have passed on the logs queue.
  logsQueue->advance(3s);
  ASSERT_TRUE(logsQueue->pumpUntil([&] {
    const auto logs = receivedLogs();
    return indexOf(logs, "event", "Layout_Saved") >= 0 &&
           indexOf(logs, "event", "Layout_Restored") >= 0;
  }));

  const auto logs = receivedLogs();
  const auto session = indexOf(logs, "startSession");
  const auto savedAt = indexOf(logs, "event", "Layout_Saved");
  const auto restoredAt = indexOf(logs, "event", "Layout_Restored");
  ASSERT_GE(session, 0);
  EXPECT_LT(session, savedAt);
  EXPECT_LT(savedAt, restoredAt);
  const std::string sessionId = logs[session].at("sid");
  EXPECT_TRUE(base::isUuidString(sessionId));

  const Json& savedLog = logs[savedAt];
  EXPECT_EQ(savedLog.at("sid"), sessionId);
  EXPECT_TRUE(base::isUuidString(savedLog.at("id").get<std::string>()));
  EXPECT_TRUE(savedLog.contains("timestamp"));
  EXPECT_TRUE(savedLog.contains("device"));
  ASSERT_EQ(savedLog.at("typedProperties").size(), 1u);
  EXPECT_EQ(typedProperty(savedLog, "TimeInSec").at("type"), "double");
  EXPECT_TRUE(typedProperty(savedLog, "TimeInSec").at("value").is_number_float());

  const Json& restoredLog = logs[restoredAt];
  EXPECT_EQ(restoredLog.at("sid"), sessionId);
  EXPECT_EQ(typedProperty(restoredLog, "TotalApps"),
            (Json{{"type", "long"}, {"name", "TotalApps"}, {"value", 2}}));
  EXPECT_EQ(typedProperty(restoredLog, "SuccessApps"),
            (Json{{"type", "long"}, {"name", "SuccessApps"}, {"value", 2}}));
  EXPECT_EQ(typedProperty(restoredLog, "TimeoutApps").at("value"), 0);
  EXPECT_EQ(typedProperty(restoredLog, "ErrorApps").at("value"), 0);
  EXPECT_EQ(typedProperty(restoredLog, "TimeInSec").at("type"), "double");
  EXPECT_DOUBLE_EQ(typedProperty(restoredLog, "TimeInSec").at("value").get<double>(), 0.2);

  for (const auto& request : server.requests()) {
    EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(request.header("App-Secret"), "secret-1");
    EXPECT_EQ(request.header("Install-ID"), tlm::TLMDarAveved::installId());
  }
}

}  // namespace
}  // namespace wendrix::testing

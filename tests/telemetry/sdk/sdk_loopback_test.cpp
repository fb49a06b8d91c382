// The SDK over its real pipeline (channel group, units, SQLite log store,
// ingestion, HTTP client on curl) against a loopback server, with its files
// in a temporary home. The units' queue runs on virtual time.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/defaults/user_defaults.h"
#include "platform/device/fake/fake_device_probe.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
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
#include "telemetry/sdk/test_services.h"
#include "telemetry/security/keychain_util.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;

// Counts the logs the pipeline reports sent and failed.
class SendCounter final : public TLMChannelDelegate {
 public:
  void didSucceedSendingLog(TLMChannelProtocol&, const TLMLogPtr&) override { ++succeeded; }
  void didFailSendingLog(TLMChannelProtocol&, const TLMLogPtr&,
                         const std::optional<base::Error>&) override {
    ++failed;
  }
  std::atomic<int> succeeded{0};
  std::atomic<int> failed{0};
};

// One run of the program's process part: the SDK, its settings and contexts
// made afresh over the files of the temporary home.
class Launch {
 public:
  Launch() {
    platform::UserDefaults::setSharedForTesting();
    TLMDarAvevedUserDefaults::setSharedForTesting();
    TLMKeychainUtil::setSharedForTesting();
    TLMSessionContext::setSharedForTesting();
    TLMUserIdContext::setSharedForTesting();
    TLMDeviceTracker::setSharedForTesting();
    TLMDeviceTracker::configureShared(std::make_shared<platform::FakeDeviceProbe>());
    TLMUtility::resetDirectoryForTesting();
    TLMDarAveved::setSharedForTesting(std::make_shared<TLMDarAvevedInstance>(
        TLMDarAvevedDependencies::standard(queue, TLMCurlTransportFactory())));
  }
  ~Launch() {
    TLMDarAveved::setSharedForTesting();
    TLMLogger::resetForTesting();
  }

  // Starts the SDK against `logUrl` with one service, and follows its sends.
  void start(const std::string& logUrl) {
    TLMDarAveved::setLogUrl(logUrl);
    TLMDarAveved::start("secret-1", {probe.serviceClass});
    TLMDarAveved::sharedInstance()->channelGroup()->addDelegate(sends);
  }
  // Lets the flush interval pass, then runs the pipeline until `done`.
  bool flushUntil(const std::function<bool()>& done) {
    queue->advance(3s);
    return queue->pumpUntil(done);
  }

  std::shared_ptr<testing::PumpedQueue> queue = std::make_shared<testing::PumpedQueue>();
  testing::TestServiceClass probe{{.name = "Probe", .withUnit = false}, "TLMProbe"};
  std::shared_ptr<SendCounter> sends = std::make_shared<SendCounter>();
};

class DarAvevedLoopbackTest : public ::testing::Test {
 protected:
  // The start-service logs of the requests, as (install id, services).
  static std::vector<std::vector<std::string>> announcedServices(
      const std::vector<tlmtest::RecordedRequest>& requests) {
    std::vector<std::vector<std::string>> out;
    for (const auto& request : requests) {
      const auto body = nlohmann::json::parse(request.body);
      for (const auto& log : body.at("logs")) {
        EXPECT_EQ(log.at("type"), "startService");
        out.push_back(log.at("services").get<std::vector<std::string>>());
      }
    }
    return out;
  }

  support::TempDir home{"wendrix-sdk"};
  support::ScopedEnvironment environment{{"XDG_DATA_HOME", (home.path() / "data").string()},
                                         {"XDG_CONFIG_HOME", (home.path() / "config").string()},
                                         {TLMDarAveved::kDisableEnvironmentVariable, std::nullopt}};
  support::ScopedAppIdentity identity;
};

TEST_F(DarAvevedLoopbackTest, StartSendsTheStartServiceLogWithTheSecret) {
  tlmtest::LoopbackServer server;
  Launch launch;
  launch.start(server.baseUrl());
  ASSERT_TRUE(launch.flushUntil([&] { return launch.sends->succeeded == 1; }));

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/logs?api-version=1.0.0");
  EXPECT_EQ(requests[0].header("App-Secret"), "secret-1");
  EXPECT_EQ(requests[0].header("Install-ID"), TLMDarAveved::installId());
  EXPECT_EQ(announcedServices(requests), (std::vector<std::vector<std::string>>{{"Probe"}}));
  EXPECT_TRUE(std::filesystem::exists(home.path() / "data" / "test.Wendrix" /
                                      "com.zodoradud.daraveved" / "Logs.sqlite"));
}

TEST_F(DarAvevedLoopbackTest, LogsOfLaunchesWithTheServerDownAreSentOnceItIsBack) {
  std::string installId;
  {
    tlmtest::ClosedPort down;
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(run);
      Launch launch;
      launch.start("http://127.0.0.1:" + std::to_string(down.port()));
      // Every stored log goes out, fails, and stays for a later launch.
      ASSERT_TRUE(launch.flushUntil([&] { return launch.sends->failed == run; }));
      if (installId.empty()) installId = TLMDarAveved::installId();
      EXPECT_EQ(TLMDarAveved::installId(), installId);
    }
  }
  tlmtest::LoopbackServer server;
  Launch launch;
  launch.start(server.baseUrl());
  ASSERT_TRUE(launch.flushUntil([&] { return launch.sends->succeeded == 3; }));

  const auto requests = server.requests();
  EXPECT_EQ(announcedServices(requests),
            (std::vector<std::vector<std::string>>{{"Probe"}, {"Probe"}, {"Probe"}}));
  for (const auto& request : requests)
    EXPECT_EQ(request.header("Install-ID"), installId);
}

}  // namespace
}  // namespace tlm

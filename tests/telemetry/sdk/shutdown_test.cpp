// The end of a program that used the SDK's real pipeline (its own serial
// queue, the SQLite log store, curl): logs handed over just before the end
// reach the store, and the pipeline's threads have ended before static
// objects are destroyed. Each run is a fresh process (this program, running
// only the disabled test below) that ends with exit(): a forked copy would
// inherit what earlier tests left running.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/device/fake/fake_device_probe.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/http/linux/curl_transport.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/daraveved_instance.h"
#include "telemetry/sdk/test_services.h"

namespace tlm {
namespace {

// Rows of the log store, or -1 when it cannot be read.
int storedLogs(const std::filesystem::path& dataHome) {
  const auto file = dataHome / "test.Wendrix" / "com.zodoradud.daraveved" / "Logs.sqlite";
  sqlite3* db = nullptr;
  int count = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM \"logs\"", -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
      count = sqlite3_column_int(query, 0);
    }
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return count;
}

// Starts the SDK, hands it `logs` logs, shuts it down and leaves through
// exit(), which destroys static objects.
[[noreturn]] void runProgram(int logs) {
  TLMDeviceTracker::configureShared(std::make_shared<platform::FakeDeviceProbe>());
  TLMDarAveved::setSharedForTesting(std::make_shared<TLMDarAvevedInstance>(
      TLMDarAvevedDependencies::standard(nullptr, TLMCurlTransportFactory())));
  // Nothing listens there: sends fail at once and the logs stay stored.
  TLMDarAveved::setLogUrl("http://127.0.0.1:1");
  testing::TestServiceClass probe{{.name = "Probe", .withUnit = false}, "TLMProbe"};
  TLMDarAveved::start("secret-1", {probe.serviceClass});
  for (int i = 0; i < logs; ++i)
    TLMDarAveved::sharedInstance()->sendStartServiceLog({"Probe"});
  TLMDarAveved::shutDown();
  std::exit(0);
}

constexpr const char* kLogsVariable = "WENDRIX_SDK_END_LOGS";

// The program of one run, started by the test below.
TEST(DarAvevedShutdownTest, DISABLED_Program) {
  const char* logs = std::getenv(kLogsVariable);
  if (logs == nullptr) GTEST_SKIP() << "started by LogsHandedOverAtTheEndAreStoredAndTheEndIsClean";
  support::ScopedAppIdentity identity;
  runProgram(std::atoi(logs));
}

TEST(DarAvevedShutdownTest, LogsHandedOverAtTheEndAreStoredAndTheEndIsClean) {
  // In memory where there is such a folder: each start writes the store
  // with a sync per transaction.
  const bool shm = std::filesystem::is_directory("/dev/shm");
  support::ScopedEnvironment tmp{
      {"TMPDIR", shm ? std::optional<std::string>("/dev/shm") : std::optional<std::string>()}};
  support::TempDir home{"wendrix-sdk-end"};
  support::ScopedEnvironment environment{{"XDG_DATA_HOME", (home.path() / "data").string()},
                                         {"XDG_CONFIG_HOME", (home.path() / "config").string()},
                                         {TLMDarAveved::kDisableEnvironmentVariable, std::nullopt}};
  support::ScopedAppIdentity identity;
  constexpr int kEnds = 50;
  constexpr int kLogs = 2;
  int expected = 0;
  for (int end = 0; end < kEnds; ++end) {
    SCOPED_TRACE(end);
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv(kLogsVariable, std::to_string(kLogs).c_str(), 1);
      ::execl("/proc/self/exe", "test_telemetry_sdk",
              "--gtest_filter=DarAvevedShutdownTest.DISABLED_Program",
              "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended with status " << status;
    // The start-service log of the start itself comes with them.
    expected += kLogs + 1;
    ASSERT_EQ(storedLogs(home.path() / "data"), expected);
  }
}

}  // namespace
}  // namespace tlm

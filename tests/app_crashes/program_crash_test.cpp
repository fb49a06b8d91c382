// The program's crash path, for real: a child process (this test program run
// anew, so that it inherits no threads or locks of the test) runs the program's
// telemetry start-up (the SDK with the analytics and crash services, its home
// in a temporary folder, its logs going to a loopback server), tracks a few
// events while the SDK's logs queue is held, so that they wait in the
// crash-time buffer, and faults. A second child starts the same way: the
// server receives the crash log with the crashed thread's frames and the
// loaded binaries, and the buffered events; the report files are gone.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/telemetry_wiring.h"
#include "dispatch/serial_queue.h"
#include "support/scoped_app_identity.h"
#include "support/temp_dir.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/ingestion/loopback_server.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/daraveved_instance.h"

namespace wendrix::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr const char* kSecret = "11111111-2222-3333-4444-555555555555";
const std::vector<std::string> kEvents = {"Before_Crash_1", "Before_Crash_2", "Before_Crash_3"};

// In the child: the environment the program would have, then the program's
// own telemetry start-up.
void startProgramTelemetry(const fs::path& home, const std::string& logUrl) {
  ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
  ::unsetenv(tlm::TLMDarAveved::kDisableEnvironmentVariable);
  platform::AppIdentity::install(support::testAppIdentity());
  // Nothing the program sets up calls the main queue; it only has to exist.
  static const auto mainQueue = std::make_shared<dispatch::SerialQueue>("main");
  configureTelemetry(logUrl, mainQueue);
  tlm::TLMDarAveved::start(kSecret, programTelemetryServices());
}

// Faults on a page that cannot be read or written.
__attribute__((noinline)) void faultOnProtectedPage() {
  void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int*>(page) = 42;
}

// Run 1: the events are prepared (and buffered) on this thread, while the
// logs queue, held by a task that never ends, cannot store them.
void crashWithLogsInFlight(const fs::path& home, const std::string& logUrl) {
  startProgramTelemetry(home, logUrl);
  tlm::TLMDarAveved::sharedInstance()->channelUnit()->logsDispatchQueue()->async([] {
    for (;;)
      ::pause();
  });
  for (const auto& name : kEvents)
    tlm::TLMAnalytics::trackEvent(name);
  faultOnProtectedPage();
}

bool hasDefaultRoute() {
  std::ifstream routes("/proc/net/route");
  std::string line;
  std::getline(routes, line);
  std::string interface, destination;
  while (routes >> interface >> destination) {
    if (destination == "00000000") return true;
    std::getline(routes, line);
  }
  return false;
}

std::vector<Json> logsOf(const std::vector<tlmtest::RecordedRequest>& requests) {
  std::vector<Json> logs;
  for (const auto& request : requests) {
    const auto body = Json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("logs")) continue;
    for (const auto& log : body.at("logs"))
      logs.push_back(log);
  }
  return logs;
}

const Json* findLog(const std::vector<Json>& logs, const std::string& type,
                    const std::string& name = "") {
  for (const auto& log : logs)
    if (log.value("type", "") == type && (name.empty() || log.value("name", "") == name))
      return &log;
  return nullptr;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_regular_file()) files.push_back(entry.path());
  return files;
}

std::uint64_t hexAddress(const Json& value) {
  return std::stoull(value.get<std::string>(), nullptr, 16);
}

constexpr const char* kModeVariable = "WENDRIX_PROGRAM_CRASH_MODE";
constexpr const char* kHomeVariable = "WENDRIX_PROGRAM_CRASH_HOME";
constexpr const char* kUrlVariable = "WENDRIX_PROGRAM_CRASH_URL";
constexpr const char* kReleaseVariable = "WENDRIX_PROGRAM_CRASH_RELEASE";

// The program of one run, started by the test below: "crash" crashes with
// logs in flight; "restart" starts and lives until the release pipe closes.
TEST(ProgramCrashTest, DISABLED_Program) {
  const char* mode = std::getenv(kModeVariable);
  if (mode == nullptr) GTEST_SKIP() << "started by ACrashIsSentAtTheNextStart...";
  const fs::path home = std::getenv(kHomeVariable);
  const std::string url = std::getenv(kUrlVariable);
  if (std::string_view(mode) == "crash") {
    crashWithLogsInFlight(home, url);
    ::_exit(0);
  }
  startProgramTelemetry(home, url);
  const int release = std::atoi(std::getenv(kReleaseVariable));
  char byte;
  while (::read(release, &byte, 1) > 0) {
  }
  ::_exit(0);
}

// Starts the program of one run in a fresh process, ended by SIGALRM after a
// minute.
pid_t startRun(const char* mode, const fs::path& home, const std::string& url, int release = -1) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::setenv(kModeVariable, mode, 1);
  ::setenv(kHomeVariable, home.c_str(), 1);
  ::setenv(kUrlVariable, url.c_str(), 1);
  ::setenv(kReleaseVariable, std::to_string(release).c_str(), 1);
  ::alarm(60);
  ::execl("/proc/self/exe", "test_app_crashes", "--gtest_filter=ProgramCrashTest.DISABLED_Program",
          "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
  ::_exit(127);
}

TEST(ProgramCrashTest, ACrashIsSentAtTheNextStartWithTheLogsItInterrupted) {
  if (!hasDefaultRoute()) GTEST_SKIP() << "the program sends only while there is a default route";
  support::TempDir home{"wendrix-program-crash"};
  tlmtest::LoopbackServer server;
  const auto identity = support::testAppIdentity();
  const fs::path reportFile = home.path() / "cache" / "com.zodoradud.crashreporter.data" /
                              identity.bundleIdentifier / "live_report.tlcrash";
  const fs::path sdkFolder =
      home.path() / "data" / identity.bundleIdentifier / "com.zodoradud.daraveved";

  // Run 1 crashes (or is ended by SIGALRM after a minute).
  const pid_t crashed = startRun("crash", home.path(), server.baseUrl());
  ASSERT_GT(crashed, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(crashed, &status, 0), crashed);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  ASSERT_EQ(WTERMSIG(status), SIGSEGV);
  ASSERT_TRUE(fs::exists(reportFile));
  std::size_t buffered = 0;
  for (const auto& file : filesIn(sdkFolder / "crasheslogbuffer"))
    if (file.extension() == ".tlmcrasheslogbuffer" && fs::file_size(file) > 0) ++buffered;
  EXPECT_GE(buffered, kEvents.size());

  // A report knows its crash to the second and the crash log's session is
  // the last one begun before the end of that second: as with a real restart,
  // the next run begins in a later second.
  std::this_thread::sleep_until(
      std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()));

  // Run 2 lives until the server has what it waits for.
  int release[2];
  ASSERT_EQ(::pipe(release), 0);
  // The write end is not inherited, so the pipe closes when the test closes it.
  ASSERT_EQ(::fcntl(release[1], F_SETFD, FD_CLOEXEC), 0);
  const pid_t restarted = startRun("restart", home.path(), server.baseUrl(), release[0]);
  ASSERT_GT(restarted, 0);
  ::close(release[0]);
  const bool arrived = server.waitUntil(
      [](const std::vector<tlmtest::RecordedRequest>& requests) {
        const auto logs = logsOf(requests);
        if (!findLog(logs, "appleError")) return false;
        for (const auto& name : kEvents)
          if (!findLog(logs, "event", name)) return false;
        return true;
      },
      60s);
  // The crash files go once the crash log is handed to the channel, which may
  // be after the server has it: run 2 ends only when they are gone.
  const auto crashFilesGone = [&] {
    return !fs::exists(reportFile) && filesIn(sdkFolder / "crashes").empty();
  };
  for (const auto deadline = std::chrono::steady_clock::now() + 30s;
       arrived && !crashFilesGone() && std::chrono::steady_clock::now() < deadline;)
    std::this_thread::sleep_for(20ms);
  ::close(release[1]);
  ASSERT_EQ(::waitpid(restarted, &status, 0), restarted);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  ASSERT_TRUE(arrived) << server.requests().size() << " requests";

  const auto logs = logsOf(server.requests());
  const Json& crash = *findLog(logs, "appleError");
  EXPECT_EQ(crash.at("fatal"), true);
  EXPECT_EQ(crash.at("processId"), crashed);
  EXPECT_EQ(crash.at("osExceptionType"), "SIGSEGV");
  EXPECT_EQ(crash.at("osExceptionCode"), "SEGV_ACCERR");

  // The crashed thread carries its frames; the first, in the function that
  // faulted, lies in this program, which is among the binaries sent.
  const Json* crashedThread = nullptr;
  for (const auto& thread : crash.at("threads"))
    if (thread.at("id") == crash.at("errorThreadId")) crashedThread = &thread;
  ASSERT_NE(crashedThread, nullptr);
  ASSERT_FALSE(crashedThread->at("frames").empty());
  const std::string program = fs::read_symlink("/proc/self/exe").filename();
  const Json* programBinary = nullptr;
  for (const auto& binary : crash.at("binaries"))
    if (binary.value("name", "") == program) programBinary = &binary;
  ASSERT_NE(programBinary, nullptr) << program;
  const auto firstFrame = hexAddress(crashedThread->at("frames").at(0).at("address"));
  EXPECT_GE(firstFrame, hexAddress(programBinary->at("startAddress")));
  EXPECT_LE(firstFrame, hexAddress(programBinary->at("endAddress")));

  // The buffered events arrive as they were made in the crashed run, in its
  // session, which the crash log carries too (from the session history that
  // run stored).
  const std::string sessionId = findLog(logs, "event", kEvents[0])->value("sid", "");
  EXPECT_FALSE(sessionId.empty());
  for (const auto& name : kEvents)
    EXPECT_EQ(findLog(logs, "event", name)->value("sid", ""), sessionId) << name;
  EXPECT_EQ(crash.value("sid", ""), sessionId);

  for (const auto& request : server.requests()) {
    EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(request.header("App-Secret"), kSecret);
  }

  // Nothing of the crash is left to send again.
  EXPECT_FALSE(fs::exists(reportFile));
  for (const auto& file : filesIn(sdkFolder / "crashes"))
    ADD_FAILURE() << "left behind: " << file;
  for (const auto& file : filesIn(sdkFolder / "crasheslogbuffer")) {
    if (file.extension() == ".tlmcrasheslogbuffer") {
      EXPECT_EQ(fs::file_size(file), 0u) << file;
    }
  }
}

}  // namespace
}  // namespace wendrix::testing

// The crash reporter's object interface: configuration, paths under the
// cache folder, the pending report, enabling once per process, callbacks and
// live reports. Enabling changes process-wide state, so those tests run in
// child processes.

#include "crashcapture/capture/reporter_setup/tlcrash_reporter.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crashcapture/capture/reporter_setup/linux/linux_crash_platform.h"
#include "crashcapture/child_process.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "platform/bundle/app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace tlcrash {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

class CrashReporterTest : public ::testing::Test {
 protected:
  fs::path cache() const { return home_.path() / "cache"; }

  support::TempDir home_{"reporter-test"};
  support::ScopedEnvironment environment_{{"XDG_CACHE_HOME", (home_.path() / "cache").string()},
                                          {"TMPDIR", home_.path().string()}};
};

TEST_F(CrashReporterTest, PathsLieUnderTheCacheFolderWithSlashesReplaced) {
  TLCrashReporter reporter(linuxCrashPlatform(), "com.example/app/x", "12", std::nullopt,
                           TLCrashReporterConfig());
  const fs::path data = cache() / "com.zodoradud.crashreporter.data" / "com.example_app_x";
  EXPECT_EQ(reporter.crashReportDirectory(), data);
  EXPECT_EQ(reporter.queuedCrashReportDirectory(), data / "queued_reports");
  EXPECT_EQ(reporter.crashReportPath(), data / "live_report.tlcrash");
}

TEST_F(CrashReporterTest, ABundleWithoutIdentifierOrVersionFallsBackToTheProcessName) {
  platform::AppIdentity bundle;
  TLCrashReporter reporter(linuxCrashPlatform(), bundle, TLCrashReporterConfig());
  EXPECT_EQ(reporter.applicationIdentifier(), program_invocation_short_name);
  EXPECT_EQ(reporter.applicationVersion(), "");
}

TEST_F(CrashReporterTest, TheConfigurationDefaultsAndTheStrategyMap) {
  const auto config = TLCrashReporterConfig::defaultConfiguration();
  EXPECT_EQ(config.signalHandlerType(), 0u);
  EXPECT_EQ(config.symbolicationStrategy(), 0u);
  EXPECT_TRUE(config.shouldRegisterUncaughtExceptionHandler());
  EXPECT_FALSE(TLCrashReporterConfig(1, 3, false).shouldRegisterUncaughtExceptionHandler());
  EXPECT_EQ(TLCrashReporter::mapToAsyncSymbolicationStrategy(7), 3u);
  EXPECT_EQ(TLCrashReporter::mapToAsyncSymbolicationStrategy(4), 0u);
}

TEST_F(CrashReporterTest, APendingReportIsFoundLoadedAndPurged) {
  TLCrashReporter reporter(linuxCrashPlatform(), "app.Test", "1", std::nullopt,
                           TLCrashReporterConfig());
  ReporterError error;
  EXPECT_FALSE(reporter.hasPendingCrashReport());
  EXPECT_FALSE(reporter.loadPendingCrashReportData(&error).has_value());
  EXPECT_EQ(error.error.domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(error.error.code, ENOENT);
  EXPECT_FALSE(reporter.purgePendingCrashReport(&error));

  fs::create_directories(reporter.crashReportDirectory());
  std::ofstream(reporter.crashReportPath(), std::ios::binary) << "tlcrash\x01x";
  EXPECT_TRUE(reporter.hasPendingCrashReport());
  const auto data = reporter.loadPendingCrashReportData(&error);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(*data, (Bytes{'t', 'l', 'c', 'r', 'a', 's', 'h', 1, 'x'}));
  EXPECT_TRUE(reporter.purgePendingCrashReport(&error));
  EXPECT_FALSE(reporter.hasPendingCrashReport());
}

TEST_F(CrashReporterTest, EnablingMakesTheFoldersAndSucceedsOncePerProcess) {
  const auto outcome = testing::runInChild([](int fd) {
    TLCrashReporter first(linuxCrashPlatform(), "app.First", "1", std::nullopt,
                          TLCrashReporterConfig());
    TLCrashReporter second(linuxCrashPlatform(), "app.Second", "1", std::nullopt,
                           TLCrashReporterConfig());
    ReporterError error;
    if (!first.enableCrashReporter(&error)) testing::childSay(fd, "first failed;");
    struct stat info {};
    ::stat(first.queuedCrashReportDirectory().c_str(), &info);
    testing::childSay(fd, "mode " + std::to_string(info.st_mode & 0777) + ";");
    for (TLCrashReporter* reporter : {&second, &first}) {
      if (reporter->enableCrashReporter(&error)) testing::childSay(fd, "enabled again;");
      testing::childSay(fd, std::to_string(error.code()) + " " + error.description() + ";");
    }
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.output,
            "mode 493;"
            "3 A TLCrashReporter instance has already been enabled;"
            "3 A TLCrashReporter instance has already been enabled;");
}

// A failure before any handler is armed leaves the process free to enable
// again (the process-wide flag would otherwise stay set with nothing armed).
TEST_F(CrashReporterTest, AFailedEnableCanBeRetried) {
  std::ofstream(cache()) << "a file where the folder should be";
  const std::string cacheFolder = cache().string();
  const auto outcome = testing::runInChild([&](int fd) {
    TLCrashReporter reporter(linuxCrashPlatform(), "app.Retry", "1", std::nullopt,
                             TLCrashReporterConfig());
    ReporterError error;
    if (!reporter.enableCrashReporter(&error))
      testing::childSay(fd, "failed " + error.error.domain + ";");
    fs::remove(cacheFolder);
    if (reporter.enableCrashReporter(&error)) testing::childSay(fd, "enabled;");
  });
  EXPECT_EQ(outcome.output, "failed NSPOSIXErrorDomain;enabled;");
}

TEST_F(CrashReporterTest, CallbacksOfAnotherVersionOrAfterEnablingEndTheProcess) {
  TLCrashReporter reporter(linuxCrashPlatform(), "app.Callbacks", "1", std::nullopt,
                           TLCrashReporterConfig());
  TLCrashReporterCallbacks callbacks;
  callbacks.version = 1;
  EXPECT_DEATH(reporter.setCrashCallbacks(callbacks), "callbacks->version == 0");
  EXPECT_DEATH(
      {
        reporter.enableCrashReporter(nullptr);
        reporter.setCrashCallbacks({});
      },
      "The crash reporter has alread been enabled");
}

// A thread that waits in a function of its own until told to stop.
struct Waiter {
  std::atomic<bool> stop{false};
  std::atomic<pid_t> tid{0};
  pthread_t thread{};

  static void* run(void* self) {
    auto* waiter = static_cast<Waiter*>(self);
    waiter->tid = static_cast<pid_t>(::syscall(SYS_gettid));
    while (!waiter->stop)
      ::usleep(1000);
    return nullptr;
  }
  void start() {
    ::pthread_create(&thread, nullptr, run, this);
    while (tid == 0)
      ::usleep(100);
  }
  void join() {
    stop = true;
    ::pthread_join(thread, nullptr);
  }
};

// Writes the live report's bytes to the parent.
void sendReport(int fd, const std::optional<Bytes>& report, const ReporterError& error) {
  if (!report) {
    testing::childSay(fd, "failed: " + error.description());
    return;
  }
  testing::childSay(fd, std::string(report->begin(), report->end()));
}

TEST_F(CrashReporterTest, ALiveReportOfTheCallingThread) {
  const auto outcome = testing::runInChild([](int fd) {
    TLCrashReporter reporter(linuxCrashPlatform(), "app.Live", "3", "3.0", TLCrashReporterConfig());
    reporter.setCustomData(Bytes{7, 8});
    Waiter waiter;
    waiter.start();
    ReporterError error;
    const auto report = reporter.generateLiveReport(&error);
    waiter.join();
    sendReport(fd, report, error);
  });
  const auto report =
      TLCrashReport::makeWithData(Bytes(outcome.output.begin(), outcome.output.end()));
  ASSERT_TRUE(report.ok()) << outcome.output;
  EXPECT_EQ(report->signalInfo().name(), "SIGTRAP");
  EXPECT_EQ(report->signalInfo().code(), "TRAP_TRACE");
  EXPECT_NE(report->signalInfo().address(), 0u);
  EXPECT_EQ(report->applicationInfo().applicationMarketingVersion(), "3.0");
  EXPECT_EQ(report->customData(), (Bytes{7, 8}));
  ASSERT_EQ(report->threads().size(), 2u);
  int crashed = 0;
  for (const auto& thread : report->threads()) {
    EXPECT_FALSE(thread.stackFrames().empty());
    if (thread.crashed()) {
      ++crashed;
      EXPECT_EQ(thread.registers().size(), 21u);
    }
  }
  EXPECT_EQ(crashed, 1);
  EXPECT_FALSE(report->images().empty());
  // The temporary file is gone.
  for (const auto& entry : fs::directory_iterator(home_.path()))
    EXPECT_EQ(entry.path().filename().string().rfind("live_crash_report.", 0), std::string::npos);
}

TEST_F(CrashReporterTest, ALiveReportOfAnotherThreadLeavesTheCallerOut) {
  const auto outcome = testing::runInChild([](int fd) {
    TLCrashReporter reporter(linuxCrashPlatform(), "app.Live", "3", std::nullopt,
                             TLCrashReporterConfig());
    Waiter waiter;
    waiter.start();
    ReporterError error;
    const auto report = reporter.generateLiveReportWithThread(waiter.tid, &error);
    waiter.join();
    sendReport(fd, report, error);
  });
  const auto report =
      TLCrashReport::makeWithData(Bytes(outcome.output.begin(), outcome.output.end()));
  ASSERT_TRUE(report.ok()) << outcome.output;
  ASSERT_EQ(report->threads().size(), 1u);
  const auto& thread = report->threads()[0];
  EXPECT_TRUE(thread.crashed());
  EXPECT_EQ(thread.registers().size(), 21u);
  EXPECT_FALSE(thread.stackFrames().empty());
}

TEST_F(CrashReporterTest, ALiveReportWithoutATemporaryFolderFails) {
  support::ScopedEnvironment noTemp{{"TMPDIR", (home_.path() / "missing").string()}};
  TLCrashReporter reporter(linuxCrashPlatform(), "app.Live", "3", std::nullopt,
                           TLCrashReporterConfig());
  ReporterError error;
  EXPECT_FALSE(reporter.generateLiveReport(&error).has_value());
  EXPECT_EQ(error.code(), 1);
  EXPECT_EQ(error.description(), "Failed to create temporary path");
  ASSERT_TRUE(error.underlying.has_value());
  EXPECT_EQ(error.underlying->code, ENOENT);
}

}  // namespace
}  // namespace tlcrash

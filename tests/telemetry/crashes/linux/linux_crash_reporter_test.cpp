// The crash capture library's reporter as the crash service sees it, in
// children that enable it and crash: both handler types arm the six fatal
// signals, the crash callback runs only after a report was written, and the
// reporter's uncaught-exception handler becomes the process's when asked.

#include "telemetry/crashes/linux/linux_crash_reporter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <filesystem>
#include <memory>
#include <string>

#include "crashcapture/child_process.h"
#include "platform/exceptions/uncaught_exception.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace tlm {
namespace {

namespace fs = std::filesystem;
using tlcrash::testing::childSay;
using tlcrash::testing::runInChild;

constexpr int kFatalSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// The crash callback's proof that it ran.
char gMarker[512];
void touchMarker(siginfo_t*, ucontext_t*, void*) {
  ::close(::open(gMarker, O_WRONLY | O_CREAT, 0644));
}

__attribute__((noinline)) void faultOnProtectedPage() {
  void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int*>(page) = 42;
}

int armedFatalSignals() {
  int armed = 0;
  for (const int signo : kFatalSignals) {
    struct sigaction action {};
    ::sigaction(signo, nullptr, &action);
    if ((action.sa_flags & SA_SIGINFO) != 0 || action.sa_handler != SIG_DFL) ++armed;
  }
  return armed;
}

class LinuxCrashReporterTest : public ::testing::Test {
 protected:
  LinuxCrashReporterTest() {
    const std::string marker = (home.path() / "callback-ran").string();
    marker.copy(gMarker, sizeof gMarker - 1);
    gMarker[marker.size()] = '\0';
  }

  // A reporter that enables with the callback set, or says why not.
  static std::unique_ptr<TLMLinuxCrashReporter> enabledReporter(int fd,
                                                                TLMCrashReporterConfig config) {
    auto reporter = std::make_unique<TLMLinuxCrashReporter>(config);
    reporter->setCrashCallbacks({0, nullptr, &touchMarker});
    if (const base::Status enabled = reporter->enableCrashReporter(); !enabled)
      childSay(fd, "not enabled: " + enabled.error().description + "\n");
    return reporter;
  }
  fs::path reportFile() const { return TLMLinuxCrashReporter({}).reporter().crashReportPath(); }

  support::TempDir home{"wendrix-linux-crash-reporter"};
  support::ScopedEnvironment environment{{"XDG_CACHE_HOME", home.path().string()}};
  support::ScopedAppIdentity identity;
};

TEST_F(LinuxCrashReporterTest, BothHandlerTypesArmTheSixFatalSignals) {
  for (const std::uint32_t type : {0u, 1u}) {
    SCOPED_TRACE("signal handler type " + std::to_string(type));
    const auto outcome = runInChild([type](int fd) {
      TLMCrashReporterConfig config;
      config.signalHandlerType = type;
      const auto reporter = enabledReporter(fd, config);
      childSay(fd, "armed " + std::to_string(armedFatalSignals()));
      faultOnProtectedPage();
    });
    EXPECT_EQ(outcome.output, "armed 6");
    EXPECT_EQ(outcome.signal, SIGSEGV);
    EXPECT_TRUE(fs::exists(gMarker));

    // The next run finds, loads and purges the report.
    TLMLinuxCrashReporter next({});
    ASSERT_TRUE(next.hasPendingCrashReport());
    const auto report = next.loadPendingCrashReportData();
    ASSERT_TRUE(report.ok());
    EXPECT_FALSE(report.value().empty());
    EXPECT_TRUE(next.purgePendingCrashReport().ok());
    EXPECT_FALSE(next.hasPendingCrashReport());
    EXPECT_FALSE(next.purgePendingCrashReport().ok());
    EXPECT_FALSE(next.loadPendingCrashReportData().ok());
    fs::remove(gMarker);
  }
}

TEST_F(LinuxCrashReporterTest, NoCallbackWithoutAReport) {
  const fs::path report = reportFile();
  const auto outcome = runInChild([&](int fd) {
    const auto reporter = enabledReporter(fd, {});
    // The report cannot be written where a folder stands.
    fs::create_directories(report);
    faultOnProtectedPage();
  });
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.signal, SIGSEGV);
  EXPECT_FALSE(fs::exists(gMarker));
}

TEST_F(LinuxCrashReporterTest, InstallsItsUncaughtExceptionHandlerWhenAsked) {
  const auto outcome = runInChild([](int fd) {
    TLMCrashReporterConfig config;
    config.shouldRegisterUncaughtExceptionHandler = true;
    const auto reporter = enabledReporter(fd, config);
    const platform::UncaughtExceptionHandler handler = platform::getUncaughtExceptionHandler();
    if (!handler) return;
    handler({"std::runtime_error", "nobody caught this", {}});
    childSay(fd, "returned");
  });
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.signal, SIGABRT);
  EXPECT_TRUE(fs::exists(gMarker));
  TLMLinuxCrashReporter next({});
  const auto report = next.loadPendingCrashReportData();
  ASSERT_TRUE(report.ok());
  const std::string bytes(report.value().begin(), report.value().end());
  EXPECT_NE(bytes.find("std::runtime_error"), std::string::npos);
  EXPECT_NE(bytes.find("nobody caught this"), std::string::npos);
}

TEST_F(LinuxCrashReporterTest, LeavesTheUncaughtExceptionHandlerAloneWhenNotAsked) {
  const auto outcome = runInChild([](int fd) {
    TLMCrashReporterConfig config;
    config.shouldRegisterUncaughtExceptionHandler = false;
    const auto reporter = enabledReporter(fd, config);
    childSay(fd, platform::getUncaughtExceptionHandler() ? "installed" : "none");
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.output, "none");
}

}  // namespace
}  // namespace tlm

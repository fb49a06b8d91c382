#include "telemetry/util/utility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>

#include "dispatch/manual_queue.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/telemetry_log_capture.h"
#include "support/temp_dir.h"
#include "telemetry/util/dispatcher_util.h"

namespace tlm {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;

base::Bytes bytesOf(std::string_view text) {
  return base::Bytes(text.begin(), text.end());
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Points XDG_DATA_HOME at a fresh temporary folder for each test.
class UtilityFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_.set("XDG_DATA_HOME", root_.string());
    TLMUtility::resetDirectoryForTesting();
  }
  void TearDown() override { TLMUtility::resetDirectoryForTesting(); }

  fs::path sdkDir() const { return root_ / "test.Wendrix" / "com.zodoradud.daraveved"; }

  support::ScopedAppIdentity identity_;
  support::TempDir temp_{"tlm-util"};
  fs::path root_ = temp_.path();
  support::ScopedEnvironment environment_;
};

TEST_F(UtilityFilesTest, DataDirectoryIsMadeUnderXdgDataHomeOnFirstUse) {
  EXPECT_FALSE(fs::exists(sdkDir()));
  EXPECT_EQ(TLMUtility::darAvevedDirectoryURL(), sdkDir());
  EXPECT_TRUE(fs::is_directory(sdkDir()));
  EXPECT_EQ(TLMUtility::fullURLForPathComponent("crashes/a"), sdkDir() / "crashes" / "a");
}

// The SDK folder holds user ids and event properties: 0700 whatever the
// umask, and narrowed when it was left more open.
TEST_F(UtilityFilesTest, DataDirectoryIsPrivateToTheUser) {
  const mode_t oldMask = ::umask(022);
  auto modeOf = [](const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  ASSERT_EQ(TLMUtility::darAvevedDirectoryURL(), sdkDir());
  EXPECT_EQ(modeOf(sdkDir()), 0700u);
  EXPECT_EQ(modeOf(sdkDir().parent_path()), 0700u);
  ASSERT_TRUE(TLMUtility::createDirectoryForPathComponent("crashes"));
  EXPECT_EQ(modeOf(sdkDir() / "crashes"), 0700u);

  fs::permissions(sdkDir(), fs::perms(0755));
  TLMUtility::resetDirectoryForTesting();
  ASSERT_EQ(TLMUtility::darAvevedDirectoryURL(), sdkDir());
  EXPECT_EQ(modeOf(sdkDir()), 0700u);
  ::umask(oldMask);
}

TEST_F(UtilityFilesTest, CreateFileHonoursForceOverwrite) {
  for (bool atomically : {false, true}) {
    SCOPED_TRACE(atomically);
    const std::string component = atomically ? "deep/a.bin" : "deep/b.bin";
    const auto path =
        TLMUtility::createFileAtPathComponent(component, bytesOf("first"), atomically, false);
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, sdkDir() / component);
    EXPECT_EQ(readText(*path), "first");

    // An existing file is answered, not written, unless overwriting is forced.
    EXPECT_EQ(
        TLMUtility::createFileAtPathComponent(component, bytesOf("second"), atomically, false),
        path);
    EXPECT_EQ(readText(*path), "first");
    EXPECT_EQ(TLMUtility::createFileAtPathComponent(component, {}, atomically, true), path);
    EXPECT_EQ(readText(*path), "");
    EXPECT_EQ(TLMUtility::loadDataForPathComponent(component), base::Bytes{});
  }
  // Atomic writes leave no temporary files behind.
  const auto listing = TLMUtility::contentsOfDirectory("deep");
  ASSERT_TRUE(listing);
  EXPECT_EQ(*listing, (std::vector<fs::path>{sdkDir() / "deep/a.bin", sdkDir() / "deep/b.bin"}));
}

TEST_F(UtilityFilesTest, ComponentsOutsideTheDirectoryAreRefused) {
  const fs::path outside = root_ / "outside";
  std::ofstream(outside) << "keep";
  ASSERT_EQ(TLMUtility::darAvevedDirectoryURL(), sdkDir());
  for (const char* component : {"", ".", "./", "../outside", "a/../../outside", outside.c_str()}) {
    SCOPED_TRACE(component);
    EXPECT_FALSE(TLMUtility::fullURLForPathComponent(component));
    EXPECT_FALSE(TLMUtility::createFileAtPathComponent(component, bytesOf("x"), true, true));
    EXPECT_FALSE(TLMUtility::deleteItemForPathComponent(component));
    EXPECT_FALSE(TLMUtility::loadDataForPathComponent(component));
    EXPECT_FALSE(TLMUtility::contentsOfDirectory(component));
    EXPECT_FALSE(TLMUtility::fileExistsForPathComponent(component));
  }
  EXPECT_EQ(readText(outside), "keep");
  EXPECT_TRUE(fs::is_directory(sdkDir()));
}

TEST_F(UtilityFilesTest, DeleteAndListAnswerFalseOrNoneWithTheirMessages) {
  LogCapture log;
  ASSERT_TRUE(TLMUtility::createDirectoryForPathComponent("crashes/sub"));
  ASSERT_TRUE(TLMUtility::createDirectoryForPathComponent("crashes/sub"));  // already there
  ASSERT_TRUE(TLMUtility::createFileAtPathComponent("crashes/sub/r", bytesOf("x"), false, false));
  EXPECT_TRUE(TLMUtility::fileExistsForPathComponent("crashes/sub/r"));
  EXPECT_TRUE(TLMUtility::deleteItemForPathComponent("crashes"));
  EXPECT_FALSE(TLMUtility::fileExistsForPathComponent("crashes"));
  EXPECT_TRUE(log.lines().empty());

  EXPECT_FALSE(TLMUtility::deleteItemForPathComponent("crashes"));
  EXPECT_TRUE(log.has(TLMLogLevel::Debug,
                      "Couldn't remove item at " + (sdkDir() / "crashes").string() + ": "));
  EXPECT_FALSE(TLMUtility::deleteFileAtURL(sdkDir() / "missing"));
  EXPECT_FALSE(TLMUtility::deleteFileAtURL({}));
  EXPECT_FALSE(TLMUtility::contentsOfDirectory("crashes"));
  EXPECT_TRUE(log.has(TLMLogLevel::Debug, "Couldn't get files in the directory \"crashes\": "));
  EXPECT_FALSE(TLMUtility::loadDataForPathComponent("crashes/sub/r"));
}

// Only regular files are read: a FIFO (which a plain open would wait on for a
// writer), a folder or a dangling link answer none.
TEST_F(UtilityFilesTest, LoadAnswersNoneForAnythingButARegularFile) {
  ASSERT_TRUE(TLMUtility::createDirectoryForPathComponent("crashes/folder"));
  ASSERT_EQ(::mkfifo((sdkDir() / "crashes/fifo").c_str(), 0600), 0);
  fs::create_symlink(sdkDir() / "crashes/missing", sdkDir() / "crashes/dangling");
  fs::create_symlink(sdkDir() / "crashes/fifo", sdkDir() / "crashes/to-fifo");

  // Run on a thread so that a blocking open fails the test instead of hanging
  // it; the wait is only a guard and is never reached when all is well.
  auto loads = std::async(std::launch::async, [] {
    std::vector<std::optional<base::Bytes>> out;
    for (const char* component :
         {"crashes/fifo", "crashes/to-fifo", "crashes/folder", "crashes/dangling"})
      out.push_back(TLMUtility::loadDataForPathComponent(component));
    return out;
  });
  if (loads.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "loading a FIFO blocked";
    // Open the FIFO for writing (and close it) until the thread gets past
    // every blocked open.
    while (loads.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      const int writer = ::open((sdkDir() / "crashes/fifo").c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
  }
  for (const auto& loaded : loads.get())
    EXPECT_EQ(loaded, std::nullopt);
}

TEST_F(UtilityFilesTest, WriteFailureIsLoggedAndAnswersNone) {
  LogCapture log;
  // A file where the parent folder should be.
  ASSERT_TRUE(TLMUtility::createFileAtPathComponent("blocker", bytesOf("x"), false, false));
  for (bool atomically : {false, true}) {
    log.clear();
    EXPECT_FALSE(
        TLMUtility::createFileAtPathComponent("blocker/file", bytesOf("y"), atomically, true));
    EXPECT_TRUE(log.has(TLMLogLevel::Error,
                        "Couldn't create directory at " + (sdkDir() / "blocker").string() + ": "));
    EXPECT_TRUE(log.has(TLMLogLevel::Error, "Couldn't create new file at path " +
                                                (sdkDir() / "blocker/file").string()));
  }
  EXPECT_FALSE(TLMUtility::createDirectoryForPathComponent("blocker/dir"));
  EXPECT_FALSE(TLMUtility::createDirectoryAtURL({}));
  EXPECT_FALSE(TLMUtility::disableBackupForDirectoryURL(sdkDir() / "missing"));
  EXPECT_TRUE(log.has(TLMLogLevel::Error, "Error excluding " + (sdkDir() / "missing").string() +
                                              " from iCloud backup "));
}

TEST(UtilityTest, ApplicationStateRule) {
  struct Case {
    const char* executable;
    bool mainThread;
    bool hidden;
    TLMApplicationState expected;
  };
  const Case cases[] = {
      {"/usr/bin/wendrix", true, false, TLMApplicationState::Active},
      {"/usr/bin/wendrix", true, true, TLMApplicationState::Background},
      {"/usr/bin/wendrix", false, false, TLMApplicationState::Unknown},
      {"/opt/W.app/Plugins/x.appex/x", true, false, TLMApplicationState::Unknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.executable);
    EXPECT_EQ(TLMUtility::applicationStateFor(c.executable, c.mainThread, c.hidden), c.expected);
  }
  // The test runs on the process's main thread.
  EXPECT_EQ(TLMUtility::applicationState(), TLMApplicationState::Active);
}

// Runs every task as soon as it is queued.
class InlineQueue final : public dispatch::Queue {
 public:
  void async(dispatch::Task task) override { task(); }
  dispatch::TimerHandle after(dispatch::Duration, dispatch::Task task) override {
    task();
    return {};
  }
  const dispatch::Clock& clock() const override { return clock_; }

 private:
  dispatch::VirtualClock clock_;
};

TEST(DispatcherUtilTest, SyncWithTimeoutWaitsForTheBlockOrGoesOn) {
  InlineQueue inlineQueue;
  int runs = 0;
  EXPECT_TRUE(TLMDispatcherUtil::dispatchSyncWithTimeout(5, inlineQueue, [&] { ++runs; }));
  EXPECT_EQ(runs, 1);

  // A queue that never gets to run the block: a zero time-out returns at once
  // and the block, owning its state, still runs later.
  dispatch::ManualQueue queue;
  auto counter = std::make_shared<int>(0);
  EXPECT_FALSE(TLMDispatcherUtil::dispatchSyncWithTimeout(0, queue, [counter] { ++*counter; }));
  EXPECT_EQ(*counter, 0);
  queue.runUntilIdle();
  EXPECT_EQ(*counter, 1);
}

TEST(UtilityTest, EnvironmentAndIdentity) {
  EXPECT_EQ(TLMUtility::currentAppEnvironment(), 99);
  EXPECT_EQ(TLMUtility::sdkVersion(), "4.1.0");
  EXPECT_EQ(TLMUtility::sdkName(), "daraveved.linux");
}

}  // namespace
}  // namespace tlm

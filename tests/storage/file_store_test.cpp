// DefaultsStorage over the real property-list file store.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/defaults/file_user_defaults.h"
#include "storage/defaults_storage.h"
#include "storage_test_support.h"
#include "support/temp_dir.h"

namespace wendrix {
namespace {

namespace fs = std::filesystem;
using testing::layout;
using testing::names;
using Names = std::vector<std::string>;

class FileStoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::FileUserDefaults> open() {
    auto store = platform::FileUserDefaults::open(path_);
    EXPECT_TRUE(store.ok()) << (store.ok() ? "" : store.error().description);
    return store.ok() ? *store : nullptr;
  }

  support::TempDir temp_{"wendrix-storage"};
  fs::path dir_ = temp_.path();
  fs::path path_ = dir_ / "app.Wendrix" / "defaults.plist";
  tlm::ScopedRecordingAnalytics analytics_;
};

TEST_F(FileStoreTest, ASecondInstanceReadsWhatTheFirstWrote) {
  const AppSettingsMap settings{{"org.example.edit", IAppSettings{IShortcut{45, kMaskCommand}}}};
  auto firstStore = open();
  ASSERT_TRUE(firstStore);
  DefaultsStorage first(firstStore, "1207");
  first.applyFirstRunDefaults();
  first.saveLayout(layout("Work", {testing::app("org.example.edit")}, true));
  first.saveLayout(layout("Home"));
  first.saveAppSettings(settings);
  first.closeBehavior().setValue(CloseBehavior::minimize);

  auto secondStore = open();
  ASSERT_TRUE(secondStore);
  DefaultsStorage second(secondStore, "1300");
  const auto layouts = second.loadLayouts();
  EXPECT_EQ(names(layouts), (Names{"Work", "Home"}));
  EXPECT_EQ(layouts[0].apps[0].windows[0].title, "Main");
  EXPECT_EQ(layouts[0].alwaysCloseOtherApps, true);
  EXPECT_EQ(second.loadAppSettings(), settings);
  EXPECT_EQ(second.closeBehavior().value(), CloseBehavior::minimize);
  EXPECT_EQ(second.userSince().value(), 1207);
  EXPECT_TRUE(second.featureEditWindow().value());

  // Both stay open: a later write through one is read through the other.
  second.deleteLayout("Work");
  EXPECT_EQ(names(first.loadLayouts()), Names{"Home"});
}

TEST_F(FileStoreTest, AWriteSurvivesACrashRightAfterIt) {
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    auto store = platform::FileUserDefaults::open(path_);
    if (!store) ::_exit(2);
    DefaultsStorage storage(*store, "1207");
    storage.saveLayout(layout("Work"));
    storage.featureHideLayoutMenuItem().setValue(true);
    ::kill(::getpid(), SIGKILL);  // no destructors, no exit handlers
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child status " << status;

  auto store = open();
  ASSERT_TRUE(store);
  DefaultsStorage storage(store, "1207");
  EXPECT_EQ(names(storage.loadLayouts()), Names{"Work"});
  EXPECT_TRUE(storage.featureHideLayoutMenuItem().value());
}

}  // namespace
}  // namespace wendrix

#include "platform/bundle/linux/desktop_bundle_id_resolver.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/bundle/xdg_test_dir.h"

extern char** environ;

namespace platform {
namespace {

using testing::XdgTestDir;

// A child of the test process that waits until it is killed.
class ChildProcess {
 public:
  ChildProcess() {
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("600"), nullptr};
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv, environ) != 0) pid_ = 0;
  }
  ~ChildProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

using Text = std::optional<std::string>;

WindowOwnerHints hints(std::int32_t pid, Text instance = {}, Text wmClass = {}, Text gtk = {},
                       Text kde = {}) {
  return WindowOwnerHints{pid, std::move(instance), std::move(wmClass), std::move(gtk),
                          std::move(kde)};
}

class DesktopBundleIdResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xdg.write("home/applications/org.example.ByClass.desktop",
              XdgTestDir::entry("C", "c", "StartupWMClass=EditorClass\n"));
    xdg.write("home/applications/org.example.ByInstance.desktop",
              XdgTestDir::entry("I", "i", "StartupWMClass=editor-instance\n"));
    xdg.write("home/applications/gone.desktop",
              XdgTestDir::entry("G", "g", "StartupWMClass=GoneClass\nHidden=true\n"));
    xdg.write("system/applications/gone.desktop",
              XdgTestDir::entry("G", "g", "StartupWMClass=GoneClass\n"));
  }

  DesktopBundleIdResolver resolver() const {
    return DesktopBundleIdResolver(DesktopEntryDirectories(xdg.dataDirs()), launches);
  }

  XdgTestDir xdg;
  std::shared_ptr<LaunchRegistry> launches = std::make_shared<LaunchRegistry>();
};

TEST_F(DesktopBundleIdResolverTest, TakesLaunchThenHintsThenStartupWMClass) {
  ChildProcess child;
  ASSERT_GT(child.pid(), 0);
  launches->recordLaunch(::getpid(), "org.example.Launched");
  const std::string applications = xdg.root() + "/local/applications";

  const struct {
    const char* label;
    WindowOwnerHints hints;
    std::optional<std::string> expected;
  } cases[] = {
      {"launched ancestor wins over hints",
       hints(child.pid(), "editor-instance", "EditorClass", "org.example.Gtk", std::nullopt),
       "org.example.Launched"},
      {"GTK application id", hints(0, std::nullopt, "EditorClass", "org.example.Gtk", "org.kde.x"),
       "org.example.Gtk"},
      {"KDE desktop file name", hints(0, std::nullopt, std::nullopt, "", "org.kde.x.desktop"),
       "org.kde.x"},
      {"KDE desktop file path",
       hints(0, std::nullopt, std::nullopt, std::nullopt, applications + "/kde4/x.desktop"),
       "kde4-x"},
      {"unusable hints fall through",
       hints(0, std::nullopt, "EditorClass", "bad\nid", "/not/a/desktop/file"),
       "org.example.ByClass"},
      {"class before instance", hints(0, "editor-instance", "EditorClass"), "org.example.ByClass"},
      {"instance when the class matches nothing", hints(0, "editor-instance", "Unknown"),
       "org.example.ByInstance"},
      {"match is exact", hints(0, "Editor-Instance", "editorclass"), std::nullopt},
      {"hidden entry does not count", hints(0, std::nullopt, "GoneClass"), std::nullopt},
      {"nothing known", hints(0), std::nullopt},
  };
  const DesktopBundleIdResolver r = resolver();
  for (const auto& c : cases) {
    EXPECT_EQ(r.bundleIdentifierFor(c.hints), c.expected) << c.label;
  }

  launches->recordExit(::getpid());
  EXPECT_EQ(r.bundleIdentifierFor(hints(child.pid(), std::nullopt, "EditorClass")),
            "org.example.ByClass");
}

TEST(LaunchRegistryTest, TellsListenersOfLaunchesAndExitsOnce) {
  LaunchRegistry registry;
  std::vector<std::string> seen;
  const auto id =
      registry.addListener([&](std::int32_t pid, const std::string& desktopId, bool running) {
        seen.push_back(std::to_string(pid) + " " + desktopId + (running ? " up" : " down"));
      });
  registry.recordLaunch(7, "a");
  EXPECT_EQ(registry.desktopIdOf(7), "a");
  registry.recordExit(7);
  registry.recordExit(7);
  registry.removeListener(id);
  registry.recordLaunch(8, "b");
  EXPECT_EQ(registry.desktopIdOf(7), std::nullopt);
  EXPECT_EQ(seen, (std::vector<std::string>{"7 a up", "7 a down"}));
}

TEST(LaunchRegistryTest, ParentProcessIdReadsProc) {
  EXPECT_EQ(parentProcessId(::getpid()), ::getppid());
  EXPECT_EQ(parentProcessId(0), std::nullopt);
  EXPECT_EQ(parentProcessId(-5), std::nullopt);
}

}  // namespace
}  // namespace platform

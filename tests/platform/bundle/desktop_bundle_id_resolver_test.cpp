#include "platform/bundle/linux/desktop_bundle_id_resolver.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

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

TEST_F(DesktopBundleIdResolverTest, FallsBackToLaunchedFileIdAndExecutable) {
  // An editor whose entry names no window class, a terminal known only by its
  // program, and a launcher's own entry outside the data folders.
  xdg.write("home/applications/featherpad.desktop",
            XdgTestDir::entry("FeatherPad", "featherpad %U"));
  const std::string term = xdg.write("bin/term", "#!/bin/sh\n", 0755);
  xdg.write("home/applications/org.example.Term.desktop", XdgTestDir::entry("T", term + " -e x"));
  const std::string launcher =
      xdg.write("elsewhere/org.example.Launched.desktop", XdgTestDir::entry("L", "l"));

  const std::map<std::int32_t, ProcessFacts> processes = {
      {11, {"/usr/bin/anything", launcher}},
      {12, {term, std::nullopt}},
      {13, {"/opt/tool/bin/tool", std::nullopt}},
  };
  const DesktopBundleIdResolver r(DesktopEntryDirectories(xdg.dataDirs()), launches,
                                  [&](std::int32_t pid) {
                                    auto it = processes.find(pid);
                                    return it == processes.end() ? ProcessFacts{} : it->second;
                                  });
  const struct {
    const char* label;
    WindowOwnerHints hints;
    std::optional<std::string> expected;
  } cases[] = {
      {"id equal to the class, case aside", hints(0, "featherpad", "FeatherPad"), "featherpad"},
      {"id equal to the instance", hints(0, "FEATHERPAD", "Other"), "featherpad"},
      {"StartupWMClass before an id match", hints(0, "featherpad", "EditorClass"),
       "org.example.ByClass"},
      {"launched desktop file before the window class", hints(11, "x", "EditorClass"),
       "org.example.Launched"},
      {"Exec program is the executable", hints(12, "xterm", "XTerm"), "org.example.Term"},
      {"no desktop file: the executable's path", hints(13, "tool", "Tool"), "/opt/tool/bin/tool"},
      {"no process and nothing matching", hints(0, "tool", "Tool"), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(r.bundleIdentifierFor(c.hints), c.expected) << c.label;
  }
}

TEST(ProcessFactsTest, ReadsExecutableAndOwnLaunchedDesktopFile) {
  // The launcher's variables count only in the process they were set for, not
  // in its children, which inherit them.
  const struct {
    const char* pidValue;
    std::optional<std::string> expected;
  } cases[] = {{"$$", "/a/b.desktop"}, {"1", std::nullopt}};
  for (const auto& c : cases) {
    const std::string script = std::string(
                                   "export GIO_LAUNCHED_DESKTOP_FILE=/a/b.desktop "
                                   "GIO_LAUNCHED_DESKTOP_FILE_PID=") +
                               c.pidValue + "; exec /bin/sleep 600";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                    const_cast<char*>(script.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
    const std::string sleep = std::filesystem::canonical("/bin/sleep").string();
    // The new program's path shows a moment before its environment does.
    const auto started = [&](const ProcessFacts& f) {
      std::ifstream environment("/proc/" + std::to_string(pid) + "/environ");
      return f.executable == sleep && environment.peek() != std::ifstream::traits_type::eof();
    };
    // An entry expected: until it shows (the environment may still be settling).
    const auto settled = [&](const ProcessFacts& f) {
      return started(f) && (!c.expected || f.launchedDesktopFile);
    };
    ProcessFacts facts;
    for (int i = 0; i < 500 && !settled(facts); ++i) {
      ::usleep(2000);
      facts = readProcessFacts(pid);
    }
    EXPECT_EQ(facts.executable, sleep);
    EXPECT_EQ(facts.launchedDesktopFile, c.expected) << c.pidValue;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  EXPECT_EQ(readProcessFacts(-1).executable, std::nullopt);
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

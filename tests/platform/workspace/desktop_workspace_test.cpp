#include "platform/workspace/linux/desktop_workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/bundle/linux/desktop_bundle_id_resolver.h"
#include "platform/bundle/xdg_test_dir.h"

namespace platform {
namespace {

using testing::XdgTestDir;
using namespace std::chrono_literals;

struct Outcome {
  std::optional<LaunchedApplication> app;
  std::optional<base::Error> error;
};

class DesktopWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto created = dispatch::MainLoop::create();
    ASSERT_TRUE(created.ok());
    loop = std::move(*created);
    workspace = std::make_unique<DesktopWorkspace>(*loop, DesktopEntryDirectories(xdg.dataDirs()),
                                                   "C", launches);
    // Records its arguments, one per line, and its working folder, then ends.
    recorder = xdg.write(
        "bin/record.sh",
        "#!/bin/sh\nout=\"" + xdg.root() +
            "/out.$$\"\n"
            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out.tmp\"\npwd > \"$out.pwd\"\n"
            "readlink /proc/$$/fd/0 > \"$out.fds\"\nls /proc/$$/fd >> \"$out.fds\"\n"
            "mv \"$out.tmp\" \"$out\"\n",
        0755);
  }

  void TearDown() override {
    // Nothing started by a test outlives it.
    for (pid_t pid : started) {
      if (workspace->isWatching(pid)) ::kill(pid, SIGKILL);
    }
    EXPECT_TRUE(loop->runUntil([&] { return !anyWatched(); }, 10s));
  }

  bool anyWatched() const {
    for (pid_t pid : started) {
      if (workspace->isWatching(pid)) return true;
    }
    return false;
  }

  base::Url entry(const std::string& id, const std::string& exec, const std::string& extra = "") {
    return base::Url::fromFilePath(
        xdg.write("home/applications/" + id + ".desktop", XdgTestDir::entry(id, exec, extra)));
  }

  // Runs the request and the loop until its completion has run.
  Outcome open(const base::Url& app, std::optional<std::vector<base::Url>> documents = {},
               bool reopen = false) {
    Outcome outcome;
    int calls = 0;
    auto completion = [&](std::optional<LaunchedApplication> a, std::optional<base::Error> e) {
      ++calls;
      outcome = Outcome{std::move(a), std::move(e)};
    };
    if (documents) {
      workspace->openURLs(*documents, app, completion);
    } else if (reopen) {
      workspace->reopenApplication(app, completion);
    } else {
      workspace->openApplication(app, completion);
    }
    EXPECT_EQ(calls, 0) << "completions are posted, never run inside the call";
    EXPECT_TRUE(loop->runUntil([&] { return calls > 0; }, 10s));
    EXPECT_EQ(calls, 1);
    if (outcome.app) started.push_back(outcome.app->processIdentifier);
    return outcome;
  }

  // The arguments the recorder of process `pid` was given, once it has ended.
  std::vector<std::string> recordedArguments(pid_t pid) {
    EXPECT_TRUE(loop->runUntil([&] { return !workspace->isWatching(pid); }, 10s));
    std::ifstream in(xdg.root() + "/out." + std::to_string(pid));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }

  XdgTestDir xdg;
  std::unique_ptr<dispatch::MainLoop> loop;
  std::shared_ptr<LaunchRegistry> launches = std::make_shared<LaunchRegistry>();
  std::unique_ptr<DesktopWorkspace> workspace;
  std::string recorder;
  std::vector<pid_t> started;
};

TEST_F(DesktopWorkspaceTest, FindsInstalledApplicationsById) {
  const base::Url url = entry("org.example.Rec", recorder);
  entry("gone", recorder, "Hidden=true\n");
  entry("absent", recorder, "TryExec=/nonexistent/wendrix-program\n");
  EXPECT_EQ(workspace->urlForApplication("org.example.Rec"), url);
  for (const char* id : {"gone", "absent", "missing"}) {
    EXPECT_EQ(workspace->urlForApplication(id), std::nullopt) << id;
  }
}

TEST_F(DesktopWorkspaceTest, LaunchesTheEntryAndNoticesItsExit) {
  // Waits until the test writes a line to the FIFO, then ends.
  const std::string fifo = xdg.root() + "/gate";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const base::Url url = entry("org.example.Wait", "/bin/sh -c \"read line < " + fifo + "\"");
  std::vector<std::string> events;
  const auto listener =
      launches->addListener([&](std::int32_t pid, const std::string& id, bool running) {
        events.push_back(std::to_string(pid) + " " + id + (running ? " running" : " ended"));
      });

  const Outcome outcome = open(url);
  ASSERT_TRUE(outcome.app) << *outcome.error;
  const pid_t pid = outcome.app->processIdentifier;
  EXPECT_GT(pid, 0);
  EXPECT_EQ(outcome.app->bundleIdentifier, "org.example.Wait");
  EXPECT_EQ(outcome.app->bundleURL, url);
  EXPECT_TRUE(workspace->isWatching(pid));
  // A window of the launched process resolves to the entry it came from.
  const DesktopBundleIdResolver resolver(DesktopEntryDirectories(xdg.dataDirs()), launches);
  EXPECT_EQ(resolver.bundleIdentifierFor(WindowOwnerHints{pid, {}, {}, {}, {}}),
            "org.example.Wait");

  std::ofstream(fifo) << "go\n";
  ASSERT_TRUE(loop->runUntil([&] { return !workspace->isWatching(pid); }, 10s));
  EXPECT_EQ(launches->desktopIdOf(pid), std::nullopt);
  EXPECT_EQ(::kill(pid, 0), -1) << "the ended child was reaped";
  EXPECT_EQ(events, (std::vector<std::string>{std::to_string(pid) + " org.example.Wait running",
                                              std::to_string(pid) + " org.example.Wait ended"}));
  launches->removeListener(listener);
}

TEST_F(DesktopWorkspaceTest, HandsDocumentsThroughTheFieldCodes) {
  const base::Url a = base::Url::fromFilePath(xdg.root() + "/a b.txt");
  const base::Url c = base::Url::fromFilePath(xdg.root() + "/c.txt");
  const base::Url web = *base::Url::parse("https://example.org/page?q=1");

  const Outcome files = open(entry("files", recorder + " --files %F"), std::vector{a, c});
  ASSERT_TRUE(files.app) << *files.error;
  EXPECT_EQ(recordedArguments(files.app->processIdentifier),
            (std::vector<std::string>{"--files", xdg.root() + "/a b.txt", xdg.root() + "/c.txt"}));

  // One process per URL for a command that takes a single one; none given: no argument.
  const base::Url single = entry("single", recorder + " %u");
  const Outcome urls = open(single, std::vector{web, a});
  ASSERT_TRUE(urls.app) << *urls.error;
  EXPECT_EQ(recordedArguments(urls.app->processIdentifier),
            std::vector<std::string>{web.absoluteString()});
  const Outcome none = open(single, std::vector<base::Url>{});
  ASSERT_TRUE(none.app);
  EXPECT_EQ(recordedArguments(none.app->processIdentifier), std::vector<std::string>{});

  // Path sets the working folder.
  const Outcome inFolder = open(entry("folder", recorder, "Path=" + xdg.root() + "/bin\n"));
  ASSERT_TRUE(inFolder.app);
  recordedArguments(inFolder.app->processIdentifier);
  std::ifstream pwd(xdg.root() + "/out." + std::to_string(inFolder.app->processIdentifier) +
                    ".pwd");
  std::string folder;
  std::getline(pwd, folder);
  EXPECT_EQ(folder, xdg.root() + "/bin");
}

TEST_F(DesktopWorkspaceTest, ReopenRunsTheNewWindowActionElseTheEntry) {
  const std::string actions =
      "Actions=other;new-window;\n[Desktop Action other]\nName=Other\nExec=" + recorder +
      " --other\n[Desktop Action new-window]\nName=Open\nExec=" + recorder + " --win\n";
  const std::string named =
      "Actions=make;\n[Desktop Action make]\nName=New Window\nExec=" + recorder + " --named\n";
  const struct {
    const char* id;
    std::string extra;
    std::vector<std::string> arguments;
  } cases[] = {
      {"by-id", actions, {"--win"}},
      {"by-name", named, {"--named"}},
      {"no-action", "", {"--plain"}},
  };
  for (const auto& c : cases) {
    const Outcome outcome = open(entry(c.id, recorder + " --plain", c.extra), std::nullopt, true);
    ASSERT_TRUE(outcome.app) << c.id << ": " << *outcome.error;
    EXPECT_EQ(outcome.app->bundleIdentifier, c.id);
    EXPECT_EQ(recordedArguments(outcome.app->processIdentifier), c.arguments) << c.id;
  }
  // A first launch never takes the action.
  const Outcome first = open(entry("by-id", recorder + " --plain", actions));
  ASSERT_TRUE(first.app);
  EXPECT_EQ(recordedArguments(first.app->processIdentifier), std::vector<std::string>{"--plain"});
}

TEST_F(DesktopWorkspaceTest, LaunchesAPlainExecutableWithoutOurDescriptors) {
  // A descriptor of ours without close-on-exec (as a library may leave one).
  const int leaked = ::dup2(::open("/dev/null", O_RDONLY), 57);
  ASSERT_EQ(leaked, 57);
  const Outcome outcome =
      open(base::Url::fromFilePath(recorder), std::vector{base::Url::fromFilePath("/tmp/x y")});
  ::close(leaked);
  ASSERT_TRUE(outcome.app) << *outcome.error;
  // A program without an entry is named by its path.
  EXPECT_EQ(outcome.app->bundleIdentifier, recorder);
  EXPECT_EQ(workspace->urlForApplication(recorder), base::Url::fromFilePath(recorder));
  EXPECT_EQ(workspace->urlForApplication(xdg.root() + "/nonexistent"), std::nullopt);
  const pid_t pid = outcome.app->processIdentifier;
  EXPECT_EQ(recordedArguments(pid), std::vector<std::string>{"/tmp/x y"});

  std::ifstream fds(xdg.root() + "/out." + std::to_string(pid) + ".fds");
  std::string stdinTarget;
  std::getline(fds, stdinTarget);
  EXPECT_EQ(stdinTarget, "/dev/null");
  for (std::string fd; std::getline(fds, fd);)
    EXPECT_NE(fd, "57");
}

TEST_F(DesktopWorkspaceTest, FailuresAreReportedAndStartNothing) {
  const base::Url doc = base::Url::fromFilePath("/tmp/doc.txt");
  const struct {
    const char* label;
    base::Url app;
    std::vector<base::Url> documents;
    WorkspaceError code;
    const char* message;
  } cases[] = {
      {"no file",
       base::Url::fromFilePath(xdg.root() + "/home/applications/none.desktop"),
       {},
       workspaceNoApplication,
       "No application at"},
      {"not a file URL",
       *base::Url::parse("https://example.org/a.desktop"),
       {},
       workspaceNoApplication,
       "No application at"},
      {"malformed entry",
       base::Url::fromFilePath(xdg.write("home/applications/bad.desktop", "[Desktop Entry\n")),
       {},
       workspaceNoApplication,
       "group header without ']'"},
      {"hidden entry",
       entry("hidden", recorder, "Hidden=true\n"),
       {},
       workspaceNoApplication,
       "hidden"},
      {"Exec does not parse",
       entry("unparsable", recorder + " \"%F"),
       {},
       workspaceCannotLaunch,
       "unterminated double quote"},
      {"no Exec",
       base::Url::fromFilePath(xdg.write("home/applications/noexec.desktop",
                                         "[Desktop Entry]\nType=Application\nName=N\n")),
       {},
       workspaceCannotLaunch,
       "no Exec line"},
      {"program missing",
       entry("missing", "/nonexistent/wendrix-program"),
       {},
       workspaceCannotLaunch,
       "Cannot start /nonexistent/wendrix-program"},
      {"program not in PATH",
       entry("notinpath", "wendrix-no-such-program"),
       {},
       workspaceCannotLaunch,
       "Cannot start wendrix-no-such-program"},
      {"documents not taken",
       entry("nodocs", recorder),
       {doc},
       workspaceCannotLaunch,
       "takes no documents"},
      {"not executable",
       base::Url::fromFilePath(xdg.write("plain.txt", "text")),
       {},
       workspaceNoApplication,
       "No application at"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = open(c.app, c.documents);
    EXPECT_FALSE(outcome.app) << c.label;
    ASSERT_TRUE(outcome.error) << c.label;
    EXPECT_TRUE(outcome.error->is(kWorkspaceErrorDomain, c.code))
        << c.label << ": " << *outcome.error;
    EXPECT_NE(outcome.error->description.find(c.message), std::string::npos)
        << c.label << ": " << outcome.error->description;
  }
}

}  // namespace
}  // namespace platform

// The agent as a user runs it: the real program on an X session, windows of
// the fixture client, and wendrix: URLs given to later starts of the program.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <future>
#include <nlohmann/json.hpp>

#include "app/url_delivery.h"
#include "base/base64.h"
#include "platform/defaults/file_user_defaults.h"
#include "storage/defaults_storage.h"
#include "support/program_process.h"
#include "support/temp_dir.h"
#include "support/x_server_required.h"
#include "x11_session/x_session.h"

// Last: Xlib's macros (Status, Bool) would break the headers above.
#include "app_x11/x_desktop.h"

namespace wendrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using x11test::FixtureClient;
using x11test::XSession;
using xlib_desktop::describe;
using xlib_desktop::Desktop;
using xlib_desktop::sameFrame;
using xlib_desktop::Shown;

class SessionEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { XSession::shared().stop(); }
};
[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

// Polls `done` until it holds or `timeout` passes. An agent's first start
// in the sanitizer build, with the other test programs running beside it,
// can take more than ten seconds.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
  return support::eventually(done, timeout);
}

using support::Process;

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XSession::shared().available()) {
      WENDRIX_NO_X_SERVER("No X session: " << XSession::shared().problem());
    }
    for (const char* dir : {"config", "runtime", "data", "cache"})
      std::filesystem::create_directories(home.path() / dir);
    ::chmod((home.path() / "runtime").c_str(), 0700);
    env = {"DISPLAY=" + XSession::shared().display(),
           "XDG_CONFIG_HOME=" + (home.path() / "config").string(),
           "XDG_RUNTIME_DIR=" + (home.path() / "runtime").string(),
           "XDG_DATA_HOME=" + (home.path() / "data").string(),
           "XDG_CACHE_HOME=" + (home.path() / "cache").string(),
           "XDG_CONFIG_DIRS=/nonexistent",
           "XDG_CURRENT_DESKTOP=",
           "QT_QPA_PLATFORM=xcb"};
    // Under AddressSanitizer, system libraries of the Qt platform: libxkbcommon-x11
    // hands strndup a buffer without a terminating NUL, which is allowed but
    // fails the strict string checks.
    // And D-Bus, which Qt's tray support starts, keeps a buffer to the end.
    if (const char* asan = std::getenv("ASAN_OPTIONS")) {
      env.push_back(std::string("ASAN_OPTIONS=") + asan + ":strict_string_checks=0");
      const auto suppressions = home.path() / "lsan.supp";
      std::ofstream(suppressions) << "leak:libdbus-1.so\n";
      env.push_back("LSAN_OPTIONS=suppressions=" + suppressions.string());
    }
  }

  void TearDown() override {
    if (HasFailure()) {
      std::ifstream log(logFile());
      std::cerr << "Program output:\n" << log.rdbuf() << "\n";
    }
  }

  std::string logFile() const { return (home.path() / "wendrix.log").string(); }

  std::unique_ptr<Process> wendrix(const std::string& url) {
    return std::make_unique<Process>(std::vector<std::string>{WENDRIX_PROGRAM, url}, env,
                                     logFile());
  }

  // The layouts in the defaults file of the temporary config home.
  std::vector<Layout> savedLayouts() {
    auto defaults =
        platform::FileUserDefaults::open(home.path() / "config" / "app.Wendrix" / "defaults.plist");
    if (!defaults.ok()) return {};
    return DefaultsStorage(defaults.value(), std::nullopt).loadLayouts();
  }

  // How many logs in the telemetry store of the temporary data home hold
  // `text` (an event's name).
  int storedLogsWith(const std::string& text) {
    int found = 0;
    for (const std::string& log : storedLogs())
      if (log.find(text) != std::string::npos) ++found;
    return found;
  }

  // The logs in the telemetry store of the temporary data home, as archived.
  std::vector<std::string> storedLogs() {
    const auto file =
        home.path() / "data" / "app.Wendrix" / "com.zodoradud.daraveved" / "Logs.sqlite";
    sqlite3* db = nullptr;
    std::vector<std::string> out;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* rows = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT \"log\" FROM \"logs\"", -1, &rows, nullptr) == SQLITE_OK) {
        while (sqlite3_step(rows) == SQLITE_ROW) {
          const auto* log = reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
          if (const auto bytes = base::base64Decode(log ? log : ""))
            out.emplace_back(bytes->begin(), bytes->end());
        }
      }
      sqlite3_finalize(rows);
    }
    sqlite3_close(db);
    return out;
  }

  // The seconds the stored logs holding `text` (an event's name) give as
  // their "TimeInSec" property.
  std::vector<double> storedSecondsOf(const std::string& text) {
    std::vector<double> out;
    for (const std::string& log : storedLogs()) {
      if (log.find(text) == std::string::npos) continue;
      const auto tree = nlohmann::json::from_cbor(log, true, false);
      if (auto seconds = findNumber(tree, "TimeInSec")) out.push_back(*seconds);
    }
    return out;
  }

  // The value of the typed property `name` anywhere in `tree`.
  static std::optional<double> findNumber(const nlohmann::json& tree, const std::string& name) {
    if (tree.is_object() && tree.value("name", "") == name) {
      auto it = tree.find("value");
      if (it != tree.end() && it->is_number()) return it->get<double>();
    }
    if (tree.is_structured()) {
      for (const auto& child : tree) {
        if (auto found = findNumber(child, name)) return found;
      }
    }
    return std::nullopt;
  }

  std::filesystem::path socketPath() const {
    return home.path() / "runtime" / "app.Wendrix" / "agent.socket";
  }

  support::TempDir home{"wendrix-agent"};
  std::vector<std::string> env;
};

std::string readAll(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exitedWith(const std::optional<int>& status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

TEST_F(AgentTest, DamagedFilesDoNotStopTheAgentAndAFailedSaveFailsItsCommand) {
  // A folder where the pending crash report should be, and a defaults file
  // that is no property list.
  const auto reports = home.path() / "cache" / "com.zodoradud.crashreporter.data" / "app.Wendrix";
  std::filesystem::create_directories(reports / "live_report.tlcrash");
  std::ofstream(reports / "live_report.tlcrash" / "inside") << "x";
  const auto config = home.path() / "config" / "app.Wendrix";
  std::filesystem::create_directories(config);
  std::ofstream(config / "defaults.plist") << "not a property list";
  // A folder where a crash-time log buffer should be.
  const auto data = home.path() / "data" / "app.Wendrix";
  const auto buffer =
      data / "com.zodoradud.daraveved" / "crasheslogbuffer" / "0.tlmcrasheslogbuffer";
  std::filesystem::create_directories(buffer / "inside");

  auto agent = std::make_unique<Process>(std::vector<std::string>{WENDRIX_PROGRAM}, env, logFile());
  // It listens once it has read what it reads at start.
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socketPath()); }));
  EXPECT_TRUE(agent->running());
  // The crash service looks at it once launching has finished.
  EXPECT_TRUE(eventually(
      [&] { return std::filesystem::is_directory(reports / "live_report.tlcrash.unreadable"); }));
  EXPECT_FALSE(std::filesystem::exists(reports / "live_report.tlcrash"));
  const std::string said = readAll(logFile());
  EXPECT_NE(said.find("live_report.tlcrash\" cannot be read"), std::string::npos) << said;
  EXPECT_NE(said.find("defaults.plist\" cannot be read"), std::string::npos) << said;
  // The crash service's start reads the buffers on the telemetry's queue.
  auto bufferAside = buffer;
  bufferAside += ".unreadable";
  EXPECT_TRUE(eventually([&] { return std::filesystem::is_directory(bufferAside); }))
      << readAll(logFile());

  // Acknowledged: on disk.
  for (const char* name : {"First", "Second"}) {
    auto save = wendrix(std::string("wendrix:save?name=") + name);
    EXPECT_TRUE(exitedWith(save->waitForExit(10s), 0));
  }
  EXPECT_EQ(savedLayouts().size(), 2u);

  // The store cannot be written any more: the command fails, with the reason.
  std::filesystem::rename(config, home.path() / "config" / "moved");
  std::ofstream(config) << "a file where the folder was";
  auto third = wendrix("wendrix:save?name=Third");
  EXPECT_TRUE(exitedWith(third->waitForExit(10s), 1));
  EXPECT_NE(readAll(logFile()).find("wendrix:save?name=Third: "), std::string::npos)
      << readAll(logFile());
  // So does a name the store cannot hold.
  std::filesystem::remove(config);
  std::filesystem::rename(home.path() / "config" / "moved", config);
  auto nul = wendrix("wendrix:save?name=a%00b");
  EXPECT_TRUE(exitedWith(nul->waitForExit(10s), 1));
  EXPECT_EQ(savedLayouts().size(), 2u);
  EXPECT_TRUE(agent->running());
}

// Saves acknowledged to their clients survive the agent being killed at any
// moment, and the defaults file always parses.
TEST_F(AgentTest, EveryAcknowledgedSaveSurvivesAKill) {
  constexpr int kRounds = 2;
  constexpr int kClients = 6;
  const auto file = home.path() / "config" / "app.Wendrix" / "defaults.plist";
  std::set<std::string> acknowledged;
  for (int round = 0; round < kRounds; ++round) {
    auto agent =
        std::make_unique<Process>(std::vector<std::string>{WENDRIX_PROGRAM}, env, logFile());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socketPath()); }));
    std::vector<std::pair<std::string, std::unique_ptr<Process>>> clients;
    for (int i = 0; i < kClients; ++i) {
      const std::string name = "R" + std::to_string(round) + "-" + std::to_string(i);
      clients.emplace_back(name, wendrix("wendrix:save?name=" + name));
    }
    // Killed as soon as a first save is acknowledged, with others in flight.
    eventually(
        [&] {
          for (auto& [name, client] : clients)
            if (exitedWith(client->waitForExit(0ms), 0)) return true;
          return false;
        },
        10s);
    ::kill(agent->pid(), SIGKILL);
    agent->waitForExit(5s);
    // A client that found no agent became one: it does not end by itself.
    eventually(
        [&] {
          for (auto& [name, client] : clients)
            if (client->running()) return false;
          return true;
        },
        1500ms);
    for (auto& [name, client] : clients) {
      if (client->running()) {
        client->terminate();
        client->waitForExit(5s);
      } else if (exitedWith(client->waitForExit(0ms), 0)) {
        acknowledged.insert(name);
      }
    }
    auto defaults = platform::FileUserDefaults::open(file);
    ASSERT_TRUE(defaults.ok());
    std::set<std::string> saved;
    for (const Layout& layout : DefaultsStorage(defaults.value(), std::nullopt).loadLayouts())
      saved.insert(layout.name);
    for (const std::string& name : acknowledged)
      EXPECT_TRUE(saved.count(name)) << name << " was acknowledged but is not saved";
  }
  EXPECT_FALSE(acknowledged.empty());
  for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
    EXPECT_EQ(entry.path().string().find(".corrupt-"), std::string::npos) << entry.path();
}

TEST_F(AgentTest, QuitFromTheTrayMenuEndsTheAgentAtOnceAndKeepsItsData) {
  auto agent = wendrix("wendrix:save?name=Kept");
  ASSERT_TRUE(eventually([&] { return savedLayouts().size() == 1; })) << "no layout was saved";
  Desktop desktop(XSession::shared().display());
  ASSERT_TRUE(desktop.open());

  // Without a tray the icon is a small window of its own.
  std::optional<std::pair<int, int>> icon;
  ASSERT_TRUE(eventually([&] {
    return (icon = desktop.smallWindowOf(agent->pid(), 64)).has_value();
  })) << "the status icon did not show";
  desktop.click(icon->first, icon->second);
  ASSERT_TRUE(eventually([&] { return desktop.popupShown(60); })) << "the menu did not open";
  // Quit is the menu's last item.
  desktop.key(XK_Up);
  const auto chosen = Clock::now();
  desktop.key(XK_Return);
  const auto status = agent->waitForExit(10s);
  const auto took = Clock::now() - chosen;
  ASSERT_TRUE(status) << "the agent did not end";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(took, 500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                         << " ms";
#endif
  EXPECT_FALSE(std::filesystem::exists(socketPath()));
  ASSERT_EQ(savedLayouts().size(), 1u);
  EXPECT_EQ(savedLayouts()[0].name, "Kept");
  EXPECT_GE(storedLogsWith("Layout_Saved"), 1);
}

TEST_F(AgentTest, URLsSaveAndRestoreRealWindowsThroughOneRunningAgent) {
  auto client = FixtureClient::start({"--gtk-id", "org.example.Fixture",  //
                                      "--window", "Alpha", "--document", "alpha.txt", "--geometry",
                                      "300x200+40+60",  //
                                      "--window", "Beta", "--document", "beta.txt", "--geometry",
                                      "320x220+420+300"});
  ASSERT_TRUE(client);
  Desktop desktop(XSession::shared().display());
  ASSERT_TRUE(desktop.open());

  // The first start becomes the agent and saves once it has started.
  auto agent = wendrix("wendrix:save?name=Work");
  std::vector<Layout> layouts;
  ASSERT_TRUE(eventually([&] {
    layouts = savedLayouts();
    return layouts.size() == 1;
  })) << "no layout was saved";
  const Layout& work = layouts[0];
  EXPECT_EQ(work.name, "Work");
  ASSERT_EQ(work.apps.size(), 1u);
  EXPECT_EQ(work.apps[0].bundleId, "org.example.Fixture");
  std::map<std::string, Rect> saved;
  for (const IWindow& w : work.apps[0].windows)
    saved[w.doc.value_or("")] = w.rect;
  ASSERT_EQ(saved.size(), 2u);

  auto windows = desktop.windowsByDocument();
  ASSERT_EQ(windows.size(), 2u);
  for (const auto& [doc, w] : windows)
    EXPECT_TRUE(sameFrame(desktop.shown(w).frame, saved[doc])) << doc;

  // The user moves both windows and minimizes one.
  desktop.move(windows["alpha.txt"], 500, 500);
  desktop.move(windows["beta.txt"], 10, 20);
  desktop.minimize(windows["beta.txt"]);
  ASSERT_TRUE(eventually([&] {
    return !sameFrame(desktop.shown(windows["alpha.txt"]).frame, saved["alpha.txt"]) &&
           desktop.shown(windows["beta.txt"]).minimized;
  }));

  // A second start hands the URL to the agent and ends once it is restored.
  auto second = wendrix("wendrix:restore?name=Work");
  const auto status = second->waitForExit(30s);
  ASSERT_TRUE(status) << "the second start did not end";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(agent->running());

  const bool restored = eventually([&] {
    for (const auto& [doc, w] : windows) {
      const Shown s = desktop.shown(w);
      if (s.minimized || !sameFrame(s.frame, saved[doc])) return false;
    }
    return true;
  });
  for (const auto& [doc, w] : windows) {
    const Shown s = desktop.shown(w);
    EXPECT_FALSE(s.minimized) << doc;
    EXPECT_TRUE(sameFrame(s.frame, saved[doc]))
        << doc << " at " << describe(s.frame) << ", saved at " << saved[doc].x << ","
        << saved[doc].y;
  }
  EXPECT_TRUE(restored);

  // Ended by the session, the agent removes its socket.
  agent->terminate();
  const auto ended = agent->waitForExit(5s);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "runtime" / "app.Wendrix" / "agent.socket"));
}

// A restore ends when its windows are placed and its applications brought
// forward: the seconds the agent gives for it stay within 1.5 times the time
// until the last window is back plus the 100 ms each activation waits once
// its application is frontmost (one after another). A placement or
// activation that waited for its time-out (2 s, 3 s) would exceed it.
class RestoreDurationTest : public AgentTest, public ::testing::WithParamInterface<int> {};

TEST_P(RestoreDurationTest, ARestoreEndsOnceItsWindowsArePlaced) {
  const int count = GetParam();
  // The windows of three applications, in a grid.
  constexpr int kApps = 3;
  std::vector<std::unique_ptr<FixtureClient>> clients;
  for (int app = 0; app < kApps; ++app) {
    std::vector<std::string> arguments{"--gtk-id", "org.example.App" + std::to_string(app)};
    for (int i = app; i < count; i += kApps) {
      const std::string geometry = "160x120+" + std::to_string(20 + (i % 6) * 200) + "+" +
                                   std::to_string(20 + (i / 6) * 190);
      arguments.insert(arguments.end(), {"--window", "W" + std::to_string(i), "--document",
                                         "doc" + std::to_string(i), "--geometry", geometry});
    }
    clients.push_back(FixtureClient::start(arguments));
    ASSERT_TRUE(clients.back()) << "fixture client " << app << " did not start";
  }
  Desktop desktop(XSession::shared().display());
  ASSERT_TRUE(desktop.open());
  // Every window is shown before the save, which takes what is there.
  ASSERT_TRUE(eventually([&] {
    return desktop.windowsByDocument().size() == static_cast<std::size_t>(count);
  })) << "the fixture windows did not all show";
  // The first start becomes the agent and saves once it has started.
  auto agent = wendrix("wendrix:save?name=Timed");
  std::vector<Layout> layouts;
  ASSERT_TRUE(eventually([&] {
    layouts = savedLayouts();
    return layouts.size() == 1;
  })) << "no layout was saved";
  std::map<std::string, Rect> frames;
  for (const IApp& app : layouts[0].apps)
    for (const IWindow& w : app.windows)
      frames[w.doc.value_or("")] = w.rect;
  auto windows = desktop.windowsByDocument();
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(count));
  ASSERT_EQ(windows.size(), frames.size());
  // The user moves every window away.
  int step = 0;
  for (const auto& [doc, w] : windows) {
    desktop.move(w, 300 + (step % 7) * 10, 300 + (step % 5) * 10);
    ++step;
  }
  ASSERT_TRUE(eventually([&] {
    for (const auto& [doc, w] : windows)
      if (sameFrame(desktop.shown(w).frame, frames[doc])) return false;
    return true;
  }));

  const auto start = Clock::now();
  auto restore = std::async(std::launch::async, [this] {
    return sendURLsToInstance(socketPath(), {"wendrix:restore?name=Timed"});
  });
  const bool placed = eventually(
      [&] {
        for (const auto& [doc, w] : windows)
          if (!sameFrame(desktop.shown(w).frame, frames[doc])) return false;
        return true;
      },
      30s);
  const std::chrono::duration<double> untilPlaced = Clock::now() - start;
  ASSERT_TRUE(placed) << "the windows did not come back";
  const auto restored = restore.get();
  EXPECT_TRUE(restored.ok() && restored.value())
      << (restored.ok() ? "no agent" : restored.error().description);

  // Ended, the agent stores what it logged.
  agent->terminate();
  ASSERT_TRUE(exitedWith(agent->waitForExit(10s), 0));
  const auto seconds = storedSecondsOf("Layout_Restored");
  ASSERT_EQ(seconds.size(), 1u);
  constexpr double kActivationGrace = 0.1;
  EXPECT_LE(seconds[0], 1.5 * (untilPlaced.count() + kApps * kActivationGrace))
      << count << " windows placed after " << untilPlaced.count() << " s; the agent took "
      << seconds[0] << " s";
  RecordProperty("placed_seconds", std::to_string(untilPlaced.count()));
  RecordProperty("restore_seconds", std::to_string(seconds[0]));
}

INSTANTIATE_TEST_SUITE_P(Windows, RestoreDurationTest, ::testing::Values(6, 30));

// The agent's pid: the only child of the tracer that started it.
std::optional<pid_t> childOf(pid_t parent) {
  std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                         "/children");
  pid_t child = 0;
  if (children >> child) return child;
  return std::nullopt;
}

// The lines of an strace record that reach for the network: a socket of an
// internet family, or a connection anywhere but the X server and `socket`.
std::vector<std::string> networkCalls(const std::filesystem::path& trace,
                                      const std::string& socket) {
  std::vector<std::string> out;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    const bool inet = line.find("socket(AF_INET") != std::string::npos ||
                      line.find("sa_family=AF_INET") != std::string::npos;
    const bool connect = line.find("connect(") != std::string::npos;
    const bool local =
        line.find(".X11-unix/X") != std::string::npos || line.find(socket) != std::string::npos;
    if (inet || (connect && !local)) out.push_back(line);
  }
  return out;
}

TEST_F(AgentTest, ADefaultBuildLooksNothingUpAndConnectsNowhere) {
  auto client = FixtureClient::start({"--gtk-id", "org.example.Fixture",  //
                                      "--window", "Alpha", "--document", "alpha.txt", "--geometry",
                                      "300x200+40+60"});
  ASSERT_TRUE(client);
  Desktop desktop(XSession::shared().display());
  ASSERT_TRUE(desktop.open());

  // The user's handler of wendrix: URLs, as a desktop registers it.
  const auto applications = home.path() / "data" / "applications";
  std::filesystem::create_directories(applications);
  std::ofstream(applications / "app.Wendrix.desktop")
      << "[Desktop Entry]\nType=Application\nName=Wendrix\nExec=" << WENDRIX_PROGRAM
      << " %u\nMimeType=x-scheme-handler/wendrix;\nNoDisplay=true\n";
  std::ofstream(home.path() / "config" / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/wendrix=app.Wendrix.desktop;\n";

  // The agent under strace, which records every network call of it and its
  // threads. A traced process cannot be checked for leaks.
  std::vector<std::string> traced = env;
  bool sanitizerOptions = false;
  for (auto& e : traced) {
    if (!e.starts_with("ASAN_OPTIONS=")) continue;
    e += ":detect_leaks=0";
    sanitizerOptions = true;
  }
  if (!sanitizerOptions) traced.push_back("ASAN_OPTIONS=detect_leaks=0");
  const auto trace = home.path() / "network.trace";
  Process tracer({"/usr/bin/strace", "-f", "-qq", "-e", "trace=network", "-o", trace.string(),
                  WENDRIX_PROGRAM},
                 traced, logFile());
  const auto socket = home.path() / "runtime" / "app.Wendrix" / "agent.socket";
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socket); }, 20s))
      << "the agent did not start";

  // A save handed over by xdg-open, then a restore by a second start.
  auto opener = Process({"/usr/bin/xdg-open", "wendrix:save?name=Work"}, env, logFile());
  const auto opened = opener.waitForExit(10s);
  ASSERT_TRUE(opened);
  EXPECT_TRUE(WIFEXITED(*opened) && WEXITSTATUS(*opened) == 0);
  ASSERT_TRUE(eventually([&] { return savedLayouts().size() == 1; })) << "no layout was saved";
  auto windows = desktop.windowsByDocument();
  ASSERT_EQ(windows.size(), 1u);
  const Rect saved = savedLayouts()[0].apps.at(0).windows.at(0).rect;
  desktop.move(windows["alpha.txt"], 500, 400);
  auto restore = wendrix("wendrix:restore?name=Work");
  const auto restored = restore->waitForExit(10s);
  ASSERT_TRUE(restored);
  EXPECT_TRUE(WIFEXITED(*restored) && WEXITSTATUS(*restored) == 0);
  EXPECT_TRUE(
      eventually([&] { return sameFrame(desktop.shown(windows["alpha.txt"]).frame, saved); }));

  // Idle for 8 s: more than twice the telemetry's 3 s batch interval, so
  // that the events of the start, the save and the restore were flushed.
  std::this_thread::sleep_for(8s);

  const auto agent = childOf(tracer.pid());
  ASSERT_TRUE(agent);
  ::kill(*agent, SIGTERM);
  const auto ended = tracer.waitForExit(10s);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0);

  // The record holds the agent's connection to the X server: it did record.
  std::ifstream record(trace);
  const std::string recorded((std::istreambuf_iterator<char>(record)),
                             std::istreambuf_iterator<char>());
  EXPECT_NE(recorded.find(".X11-unix/X"), std::string::npos);
  EXPECT_EQ(networkCalls(trace, socket.string()), std::vector<std::string>{});
  std::ifstream log(logFile());
  std::string output((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
  const auto first = output.find("logs are kept locally");
  EXPECT_NE(first, std::string::npos) << output;
  EXPECT_EQ(output.find("logs are kept locally", first + 1), std::string::npos) << output;
}

}  // namespace
}  // namespace wendrix

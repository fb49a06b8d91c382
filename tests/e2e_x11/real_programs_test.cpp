// The real program restoring programs nobody here wrote, as a new user would
// try it: three xterm windows (one with a 5-pixel X border), uxterm, xclock,
// xcalc (which does not name its process) and featherpad (whose desktop entry
// names no window class), under the window manager of WENDRIX_TEST_WM.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/defaults/file_user_defaults.h"
#include "storage/defaults_storage.h"
#include "support/program_process.h"
#include "support/temp_dir.h"
#include "support/x_server_required.h"
#include "x11_session/x_session.h"

// Last: Xlib's macros (Status, Bool) would break the headers above.
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace wendrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using x11test::XSession;

class SessionEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { XSession::shared().stop(); }
};
[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
  return support::eventually(done, timeout);
}

using support::Process;

struct Frame {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Frame&, const Frame&) = default;
  friend bool operator<(const Frame& a, const Frame& b) {
    return std::tie(a.x, a.y, a.width, a.height) < std::tie(b.x, b.y, b.width, b.height);
  }
};
std::ostream& operator<<(std::ostream& out, const Frame& f) {
  return out << f.width << "x" << f.height << "+" << f.x << "+" << f.y;
}
Frame frameOf(const Rect& r) {
  return {static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.width),
          static_cast<int>(r.height)};
}

// The desktop as the test reads and changes it, through Xlib of its own.
class Screen {
 public:
  explicit Screen(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
  ~Screen() {
    if (display_) XCloseDisplay(display_);
  }
  bool open() const { return display_ != nullptr; }

  std::vector<Window> clients() {
    std::vector<Window> list;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                           XInternAtom(display_, "_NET_CLIENT_LIST", False), 0, 4096, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
      const auto* windows = reinterpret_cast<const Window*>(data);
      list.assign(windows, windows + count);
    }
    if (data) XFree(data);
    return list;
  }
  // The WM_CLASS class name: which program a window belongs to.
  std::string programOf(Window w) {
    XClassHint hint{};
    std::string out;
    if (XGetClassHint(display_, w, &hint)) {
      if (hint.res_class) out = hint.res_class;
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    return out;
  }
  std::map<std::string, std::vector<Window>> windowsByProgram() {
    std::map<std::string, std::vector<Window>> out;
    for (Window w : clients())
      out[programOf(w)].push_back(w);
    return out;
  }
  Frame frame(Window w) {
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = None;
    if (!XGetWindowAttributes(display_, w, &attributes)) return {};
    XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
  }
  bool minimized(Window w) {
    const Atom wmState = XInternAtom(display_, "WM_STATE", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool iconic = false;
    if (XGetWindowProperty(display_, w, wmState, 0, 2, False, wmState, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
      iconic = format == 32 && count >= 1 && reinterpret_cast<long*>(data)[0] == IconicState;
      XFree(data);
    }
    return iconic;
  }
  Window activeWindow() {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    Window active = None;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                           XInternAtom(display_, "_NET_ACTIVE_WINDOW", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && format == 32 && count == 1) {
      active = *reinterpret_cast<Window*>(data);
    }
    if (data) XFree(data);
    return active;
  }
  // Whether the active window stays the same for `quiet`, within `timeout`.
  bool activeWindowSettles(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
    Window last = activeWindow();
    auto since = Clock::now();
    return eventually(
        [&] {
          const Window now = activeWindow();
          if (now != last) {
            last = now;
            since = Clock::now();
          }
          return Clock::now() - since >= quiet;
        },
        timeout);
  }
  void moveResize(Window w, int x, int y, unsigned width, unsigned height) {
    XMoveResizeWindow(display_, w, x, y, width, height);
    XFlush(display_);
  }
  void minimize(Window w) {
    XIconifyWindow(display_, w, DefaultScreen(display_));
    XFlush(display_);
  }

 private:
  Display* display_;
};

// The programs of the layout, by WM_CLASS class, with their bundle ids.
struct Program {
  const char* wmClass;
  const char* bundleId;
  std::size_t windows;
};
const Program kPrograms[] = {
    {"XTerm", "debian-xterm", 3},     {"UXTerm", "debian-uxterm", 1},
    {"XClock", "/usr/bin/xclock", 1}, {"XCalc", "/usr/bin/xcalc", 1},
    {"FeatherPad", "featherpad", 1},
};
// Windows outside the layout: a program started after the save, and the
// agent's own window (shown where no tray is).
const char* const kOutsider = "XEyes";
bool inLayout(const std::string& wmClass) {
  return wmClass != kOutsider && wmClass != "wendrix";
}

class RealProgramsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XSession::shared().available()) {
      WENDRIX_NO_X_SERVER("No X session: " << XSession::shared().problem());
    }
    for (const char* program : {"xterm", "uxterm", "xclock", "xcalc", "xeyes", "featherpad"}) {
      if (std::system(("command -v " + std::string(program) + " >/dev/null").c_str()) != 0) {
        WENDRIX_NO_X_SERVER(program << " is not installed (scripts/setup installs it)");
      }
    }
    for (const char* dir : {"config", "runtime", "data"})
      std::filesystem::create_directories(home.path() / dir);
    ::chmod((home.path() / "runtime").c_str(), 0700);
    env = {"DISPLAY=" + XSession::shared().display(),
           "HOME=" + home.path().string(),
           "XDG_CONFIG_HOME=" + (home.path() / "config").string(),
           "XDG_RUNTIME_DIR=" + (home.path() / "runtime").string(),
           "XDG_DATA_HOME=" + (home.path() / "data").string(),
           "XDG_DATA_DIRS=/usr/local/share:/usr/share",
           "XDG_CONFIG_DIRS=/nonexistent",
           "XDG_CURRENT_DESKTOP=",
           "DBUS_SESSION_BUS_ADDRESS=disabled:",
           "QT_QPA_PLATFORM=xcb"};
    if (const char* asan = std::getenv("ASAN_OPTIONS")) {
      env.push_back(std::string("ASAN_OPTIONS=") + asan + ":strict_string_checks=0");
      const auto suppressions = home.path() / "lsan.supp";
      std::ofstream(suppressions) << "leak:libdbus-1.so\nleak:libfontconfig.so\n";
      env.push_back("LSAN_OPTIONS=suppressions=" + suppressions.string());
    }
    screen = std::make_unique<Screen>(XSession::shared().display());
    ASSERT_TRUE(screen->open());
  }

  void TearDown() override {
    if (HasFailure()) {
      std::ifstream log(logFile());
      std::cerr << "Program output:\n" << log.rdbuf() << "\n";
    }
    if (agent) {
      agent->terminate();
      agent->waitForExit(5s);
    }
  }

  std::string logFile() const { return (home.path() / "wendrix.log").string(); }

  Process& start(const std::vector<std::string>& argv) {
    programs.push_back(std::make_unique<Process>(argv, env, logFile()));
    return *programs.back();
  }

  // Hands `url` to the agent (the first call starts it) and waits until the
  // client has handed it over.
  void send(const std::string& url) {
    if (!agent) {
      agent =
          std::make_unique<Process>(std::vector<std::string>{WENDRIX_PROGRAM, url}, env, logFile());
      return;
    }
    Process client({WENDRIX_PROGRAM, url}, env, logFile());
    const auto status = client.waitForExit(30s);
    ASSERT_TRUE(status) << url << ": the client did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << url;
  }

  std::vector<Layout> savedLayouts() {
    auto defaults =
        platform::FileUserDefaults::open(home.path() / "config" / "app.Wendrix" / "defaults.plist");
    if (!defaults.ok()) return {};
    return DefaultsStorage(defaults.value(), std::nullopt).loadLayouts();
  }
  std::optional<Layout> layoutNamed(const std::string& name) {
    for (auto& layout : savedLayouts()) {
      if (layout.name == name) return layout;
    }
    return std::nullopt;
  }
  std::optional<Layout> save(const std::string& name) {
    send("wendrix:save?name=" + name);
    std::optional<Layout> layout;
    eventually([&] { return (layout = layoutNamed(name)).has_value(); });
    return layout;
  }

  // The saved frames of each program, sorted.
  static std::map<std::string, std::vector<Frame>> savedFrames(const Layout& layout) {
    std::map<std::string, std::vector<Frame>> out;
    for (const IApp& app : layout.apps) {
      auto& frames = out[app.bundleId.value_or("?")];
      for (const IWindow& w : app.windows)
        frames.push_back(frameOf(w.rect));
      std::sort(frames.begin(), frames.end());
    }
    return out;
  }
  // The frames on screen of each program of the layout, sorted, or nothing
  // for a program with a minimized window.
  std::map<std::string, std::vector<Frame>> shownFrames() {
    std::map<std::string, std::vector<Frame>> out;
    auto windows = screen->windowsByProgram();
    for (const Program& p : kPrograms) {
      auto& frames = out[p.bundleId];
      for (Window w : windows[p.wmClass]) {
        frames.push_back(screen->minimized(w) ? Frame{-1, -1, -1, -1} : screen->frame(w));
      }
      std::sort(frames.begin(), frames.end());
    }
    return out;
  }
  bool windowCountsAsSaved() {
    auto windows = screen->windowsByProgram();
    for (const Program& p : kPrograms) {
      if (windows[p.wmClass].size() != p.windows) return false;
    }
    return true;
  }

  support::TempDir home{"wendrix-e2e"};
  std::vector<std::string> env;
  std::unique_ptr<Screen> screen;
  std::vector<std::unique_ptr<Process>> programs;
  std::unique_ptr<Process> agent;
};

TEST_F(RealProgramsTest, RestoresEveryProgramToThePixel) {
  const auto started = Clock::now();
  start({"xterm", "-geometry", "40x8+30+40"});
  start({"xterm", "-geometry", "50x10+420+40"});
  start({"xterm", "-bw", "5", "-geometry", "40x8+30+330"});
  Process& uxterm = start({"uxterm", "-geometry", "40x8+420+330"});
  Process& xclock = start({"xclock", "-geometry", "120x120+900+40"});
  start({"xcalc", "-geometry", "+900+330"});
  Process& featherpad = start({"featherpad"});
  ASSERT_TRUE(eventually([&] { return windowCountsAsSaved(); }, 30s))
      << "the programs did not start";

  // Saved by URL: every program is an application, with its own identity.
  const std::optional<Layout> work = save("Work");
  ASSERT_TRUE(work) << "no layout was saved";
  const auto saved = savedFrames(*work);
  for (const Program& p : kPrograms) {
    ASSERT_EQ(saved.count(p.bundleId), 1u) << p.bundleId << " was not saved";
    EXPECT_EQ(saved.at(p.bundleId).size(), p.windows) << p.bundleId;
  }
  EXPECT_EQ(saved.size(), std::size(kPrograms));
  EXPECT_EQ(shownFrames(), saved) << "saved frames are the client areas on screen";

  // The user moves, resizes and minimizes windows and quits three programs.
  auto windows = screen->windowsByProgram();
  screen->moveResize(windows["XTerm"][0], 600, 600, 300, 200);
  screen->moveResize(windows["XTerm"][2], 200, 700, 250, 150);
  screen->minimize(windows["XTerm"][1]);
  screen->minimize(windows["XCalc"][0]);
  for (Process* quit : {&uxterm, &xclock, &featherpad}) {
    quit->terminate();
    quit->waitForExit(5s);
  }
  ASSERT_TRUE(eventually([&] {
    auto now = screen->windowsByProgram();
    return now["UXTerm"].empty() && now["XClock"].empty() && now["FeatherPad"].empty();
  }));

  // Restored by URL: each program has its windows again, the quit ones
  // launched once, every saved frame used once, to the pixel, none minimized.
  const auto restoreStarted = Clock::now();
  send("wendrix:restore?name=Work");
  const bool restored = eventually([&] { return windowCountsAsSaved() && shownFrames() == saved; });
  const auto restoreTook = Clock::now() - restoreStarted;
  std::this_thread::sleep_for(500ms);  // a second launch would show by now
  for (const Program& p : kPrograms) {
    EXPECT_EQ(screen->windowsByProgram()[p.wmClass].size(), p.windows) << p.wmClass;
  }
  EXPECT_EQ(shownFrames(), saved);
  ASSERT_TRUE(restored);

  // Save and restore again and again: the stored rectangles do not move.
  for (int cycle = 1; cycle <= 3; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    const std::string name = "Cycle" + std::to_string(cycle);
    // Saved once the restore before has brought every program forward.
    ASSERT_TRUE(screen->activeWindowSettles(500ms, 15s));
    const std::optional<Layout> again = save(name);
    ASSERT_TRUE(again);
    EXPECT_EQ(savedFrames(*again), saved);
    send("wendrix:restore?name=" + name);
    EXPECT_TRUE(eventually([&] { return shownFrames() == saved; }));
  }

  // Hide hides exactly the layout's programs; a restore shows them again.
  start({"xeyes", "-geometry", "100x100+1100+800"});
  ASSERT_TRUE(eventually([&] { return screen->windowsByProgram()[kOutsider].size() == 1; }));
  // The last restore ends by bringing the programs forward one at a time,
  // which would show them again: hide once it is done.
  ASSERT_TRUE(screen->activeWindowSettles(500ms, 15s));
  send("wendrix:hide?name=Work");
  const bool hidden = eventually([&] {
    for (Window w : screen->clients()) {
      if (screen->minimized(w) != inLayout(screen->programOf(w))) return false;
    }
    return true;
  });
  for (Window w : screen->clients()) {
    EXPECT_EQ(screen->minimized(w), inLayout(screen->programOf(w))) << screen->programOf(w);
  }
  ASSERT_TRUE(hidden);
  send("wendrix:restore?name=Work");
  EXPECT_TRUE(eventually([&] { return windowCountsAsSaved() && shownFrames() == saved; }));
  EXPECT_EQ(shownFrames(), saved);
  EXPECT_FALSE(screen->minimized(screen->windowsByProgram()[kOutsider][0]));

  std::cout << "restore after quitting: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(restoreTook).count()
            << " ms; whole test: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()
            << " ms\n";
}

}  // namespace
}  // namespace wendrix

// The agent built in this process on the X session and shown through the Qt
// backend: the user opens the tray menu and chooses a saved layout's
// "Restore layout", which places the fixture client's real windows.

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "app/composition.h"
#include "dispatch/main_loop.h"
#include "platform/defaults/user_defaults.h"
#include "storage/defaults_storage.h"
#include "support/scoped_app_identity.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/x_server_required.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"
#include "telemetry/sdk/daraveved.h"
#include "toolkit/application.h"
#include "toolkit/menu.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/qt/qt_loop_host.h"
#include "toolkit/status_item.h"
#include "x11_session/x_session.h"

// Last: Xlib's macros (Status, Bool) would break the headers above.
#include "app_x11/x_desktop.h"

// D-Bus, which Qt's tray support starts in this process, keeps a buffer to
// the end.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}
#endif

namespace wendrix {
namespace {

using namespace std::chrono_literals;
using x11test::FixtureClient;
using x11test::XSession;
using xlib_desktop::describe;
using xlib_desktop::Desktop;
using xlib_desktop::sameFrame;

// Runs Qt's loop (and the main loop inside it) until `done` holds or
// `limit` passes.
bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::size_t countOf(const tlm::ScopedRecordingAnalytics& analytics, std::string_view name) {
  std::size_t count = 0;
  for (const auto& event : analytics.events())
    count += event.name == name;
  return count;
}

QAction* actionTitled(QMenu& menu, const QString& title) {
  for (QAction* action : menu.actions()) {
    if (action->text() == title) return action;
  }
  return nullptr;
}

// The process-wide objects the agent and this test set up, put back.
struct ProcessState {
  ProcessState() { platform::UserDefaults::setSharedForTesting(); }
  ~ProcessState() {
    tlm::TLMDarAveved::setSharedForTesting();
    platform::UserDefaults::setSharedForTesting();
  }
};

TEST(AgentTrayMenuTest, RestoreLayoutChosenInTheTrayMenuPlacesRealWindows) {
  auto& session = XSession::shared();
  if (!session.available()) {
    WENDRIX_NO_X_SERVER("No X session: " << session.problem());
  }

  // A home of its own, as the program would see it.
  support::TempDir home{"wendrix-tray-menu"};
  for (const char* dir : {"config", "data", "cache", "runtime"})
    std::filesystem::create_directories(home.path() / dir);
  ::chmod((home.path() / "runtime").c_str(), 0700);
  support::ScopedEnvironment environment{{"DISPLAY", session.display()},
                                         {"QT_QPA_PLATFORM", "xcb"},
                                         {"XDG_CONFIG_HOME", (home.path() / "config").string()},
                                         {"XDG_DATA_HOME", (home.path() / "data").string()},
                                         {"XDG_CACHE_HOME", (home.path() / "cache").string()},
                                         {"XDG_RUNTIME_DIR", (home.path() / "runtime").string()},
                                         {"XDG_CONFIG_DIRS", "/nonexistent"},
                                         {"XDG_CURRENT_DESKTOP", ""}};
  support::ScopedAppIdentity identity;
  ProcessState state;
  tlm::ScopedRecordingAnalytics analytics;

  auto client = FixtureClient::start({"--gtk-id", "org.example.Fixture",  //
                                      "--window", "Alpha", "--document", "alpha.txt", "--geometry",
                                      "300x200+40+60",  //
                                      "--window", "Beta", "--document", "beta.txt", "--geometry",
                                      "320x220+420+300"});
  ASSERT_TRUE(client);
  Desktop desktop(session.display());
  ASSERT_TRUE(desktop.open());

  int argc = 1;
  char name[] = "test_app_x11";
  char* argv[] = {name, nullptr};
  QApplication qtApp(argc, argv);
  auto loop = dispatch::MainLoop::create();
  ASSERT_TRUE(loop.ok());
  toolkit::qt::QtLoopHost host(*loop.value());
  toolkit::Application application(
      *loop.value(), {{{"CFBundleName", "Wendrix Test"}}, {{"Menu Icon", WENDRIX_MENU_ICON}}, {}});
  AgentOptions options;
  options.display = session.display();
  options.identity = support::testAppIdentity();
  options.appSecret = "11111111-2222-3333-4444-555555555555";
  auto agent = Agent::make(*loop.value(), application, options);
  ASSERT_TRUE(agent.ok()) << agent.error().description;
  toolkit::qt::QtBackend backend(application);
  agent.value()->finishLaunching();

  // Save the windows where they are, then move them away.
  agent.value()->openURLs({"wendrix:save?name=Work"});
  std::map<std::string, Rect> saved;
  ASSERT_TRUE(processUntil([&] {
    const auto layouts = DefaultsStorage::shared()->loadLayouts();
    if (layouts.size() != 1 || layouts[0].apps.size() != 1) return false;
    for (const IWindow& w : layouts[0].apps[0].windows)
      saved[w.doc.value_or("")] = w.rect;
    return true;
  })) << "no layout was saved";
  auto windows = desktop.windowsByDocument();
  ASSERT_EQ(saved.size(), 2u);
  ASSERT_EQ(windows.size(), 2u);
  desktop.move(windows["alpha.txt"], 500, 500);
  desktop.move(windows["beta.txt"], 10, 20);
  ASSERT_TRUE(processUntil([&] {
    return !sameFrame(desktop.shown(windows["alpha.txt"]).frame, saved["alpha.txt"]) &&
           !sameFrame(desktop.shown(windows["beta.txt"]).frame, saved["beta.txt"]);
  }));

  // A click on the status item opens its menu (in the fallback window when
  // the desktop has no tray); it lists the layout saved after launch.
  const auto& item = agent.value()->delegate()->statusItem();
  if (QWidget* fallback = backend.statusFallbackWidget(*item)) {
    auto* button = fallback->findChild<QToolButton*>();
    ASSERT_NE(button, nullptr);
    button->click();
  } else {
    ASSERT_TRUE(item->userClick());
  }
  ASSERT_TRUE(item->menu());
  auto* menu = qobject_cast<QMenu*>(backend.menuWidget(*item->menu()));
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(processUntil([&] { return menu->isVisible(); }));
  QAction* work = actionTitled(*menu, "Work");
  ASSERT_NE(work, nullptr);
  ASSERT_NE(work->menu(), nullptr);
  QAction* restore = actionTitled(*work->menu(), "Restore layout");
  ASSERT_NE(restore, nullptr);
  ASSERT_TRUE(restore->isEnabled());

  // As Qt does for a chosen item: the menus close, then the action runs.
  menu->hide();
  restore->trigger();

  // The restore has ended (nothing of it is left running) and the windows
  // are where they were saved.
  const bool restored = processUntil([&] {
    if (countOf(analytics, "Layout_Restored") == 0) return false;
    for (const auto& [doc, w] : windows) {
      if (!sameFrame(desktop.shown(w).frame, saved[doc])) return false;
    }
    return true;
  });
  for (const auto& [doc, w] : windows) {
    const auto frame = desktop.shown(w).frame;
    EXPECT_TRUE(sameFrame(frame, saved[doc]))
        << doc << " at " << describe(frame) << ", saved at " << saved[doc].x << "," << saved[doc].y;
  }
  EXPECT_TRUE(restored);
  EXPECT_FALSE(item->menu()->isOpen());
}

}  // namespace
}  // namespace wendrix

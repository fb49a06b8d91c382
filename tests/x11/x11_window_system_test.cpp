#include "x11/x11_window_system.h"
#include "support/x_server_required.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/keyboard/linux/x11_keyboard.h"
#include "platform/running_apps/linux/x11_running_applications.h"
#include "platform/xconn/ewmh.h"
#include "winsys/event_notifier.h"
#include "winsys/events.h"
#include "x11/x11_accessibility_trust.h"
#include "x11_session/x_session.h"

namespace wendrix::x11 {
namespace {

using namespace std::chrono_literals;
using winsys::ApplicationPtr;
using winsys::Rect;
using winsys::WindowPtr;
using winsys::WindowSystemError;
using winsys::WindowSystemErrorCode;
using x11test::FixtureClient;
using x11test::XSession;

// The session starts on first use and stops when the test program ends.
class SessionEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { XSession::shared().stop(); }
};
[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

// Records every event in order, with the window's title or the
// application's bundle identifier it names.
class RecordingNotifier final : public winsys::EventNotifier {
 public:
  struct Record {
    std::string type;
    winsys::AnyEvent event;
  };
  std::vector<Record> records;

  std::vector<std::string> types(const std::vector<std::string>& of) const {
    std::vector<std::string> out;
    for (const auto& r : records) {
      if (std::find(of.begin(), of.end(), r.type) != of.end()) out.push_back(r.type);
    }
    return out;
  }
  template <class E>
  std::vector<const E*> all() const {
    std::vector<const E*> out;
    for (const auto& r : records) {
      if (r.type == E::typeName) out.push_back(static_cast<const E*>(r.event.get()));
    }
    return out;
  }

 protected:
  void onEvent(std::string_view, std::function<void(const winsys::AnyEvent&)>) override {}
  void notifyEvent(std::string_view typeName, winsys::AnyEvent event) override {
    records.push_back({std::string(typeName), std::move(event)});
  }
};

// Stands in for the desktop-entry resolver: fixture classes by name.
class TableResolver final : public platform::BundleIdResolver {
 public:
  std::optional<std::string> bundleIdentifierFor(
      const platform::WindowOwnerHints& hints) const override {
    if (hints.wmClass == "Fixture") return "org.example.Fixture";
    if (hints.wmClass == "Other") return "org.example.Other";
    return std::nullopt;
  }
};

class X11WindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XSession::shared().available()) {
      WENDRIX_NO_X_SERVER("No X session for the X11 tests: " << XSession::shared().problem());
    }
    auto loop = dispatch::MainLoop::create();
    ASSERT_TRUE(loop.ok());
    loop_ = std::move(loop.value());
    auto connection = xconn::Connection::open(*loop_, XSession::shared().display());
    ASSERT_TRUE(connection.ok()) << connection.error();
    connection_ = connection.value();
    system_ = std::make_unique<X11WindowSystem>(connection_, resolver_, nullptr);
    // The test's own requests go on a connection of their own.
    auto probe = xconn::Connection::open(XSession::shared().display());
    ASSERT_TRUE(probe.ok());
    probe_ = probe.value();
  }

  void TearDown() override {
    clients_.clear();
    // Leave an empty desktop to the next test.
    if (state_) {
      EXPECT_TRUE(waitUntil([&] { return state_->runningApplications().empty(); }));
    }
  }

  bool waitUntil(const std::function<bool()>& done, dispatch::Duration timeout = 5s) {
    return loop_->runUntil(done, timeout);
  }

  // The promise's result once its handlers run (after the events that came
  // before it).
  template <class T>
  base::Result<T> await(winsys::Promise<T> promise) {
    auto result = std::make_shared<std::optional<base::Result<T>>>();
    promise.done([result](const base::Result<T>& r) { result->emplace(r); });
    if (!waitUntil([&] { return result->has_value(); })) {
      return base::Error("test", 0, "the promise did not settle in time");
    }
    return **result;
  }

  void initialize() {
    auto state = await(system_->initialize(notifier_));
    ASSERT_TRUE(state.ok()) << state.error();
    state_ = state.value();
  }

  FixtureClient& launch(std::vector<std::string> arguments) {
    auto client = FixtureClient::start(arguments);
    if (!client) throw std::runtime_error("the fixture client did not start");
    clients_.push_back(std::move(client));
    return *clients_.back();
  }

  ApplicationPtr application(const std::string& bundleId) const {
    for (const auto& app : state_->runningApplications()) {
      if (app->bundleIdentifier() == bundleId) return app;
    }
    return nullptr;
  }

  // Waits until the application with `bundleId` has `count` windows.
  ApplicationPtr waitForWindows(const std::string& bundleId, std::size_t count) {
    ApplicationPtr app;
    waitUntil([&] {
      app = application(bundleId);
      return app && app->knownWindows().size() == count;
    });
    if (app && app->knownWindows().size() == count) return app;
    for (const auto& a : state_->runningApplications()) {
      ADD_FAILURE() << "running: " << a->bundleIdentifier().value_or("-") << " pid "
                    << a->processIdentifier() << " windows " << a->knownWindows().size();
    }
    return nullptr;
  }

  // The window's frame as the server has it now (client area, root coordinates).
  Rect serverFrame(const WindowPtr& window) {
    Display* d = probe_->display();
    const ::Window xid = xidOf(window);
    ::Window root, child;
    int x, y;
    unsigned w, h, border, depth;
    XGetGeometry(d, xid, &root, &x, &y, &w, &h, &border, &depth);
    XTranslateCoordinates(d, xid, root, 0, 0, &x, &y, &child);
    return Rect{double(x), double(y), double(w), double(h)};
  }

  // The X window of `window`, found by its title on the test's own connection.
  ::Window xidOf(const WindowPtr& window) {
    Display* d = probe_->display();
    for (auto xid : xconn::windowsOf(*probe_, clientPids())) {
      char* name = nullptr;
      if (XFetchName(d, xid, &name) && name) {
        const bool match = window->title() == name;
        XFree(name);
        if (match) return xid;
      }
    }
    return None;
  }
  std::vector<std::int32_t> clientPids() const {
    std::vector<std::int32_t> pids;
    for (const auto& c : clients_)
      pids.push_back(c->pid());
    return pids;
  }

  std::unique_ptr<dispatch::MainLoop> loop_;
  std::shared_ptr<xconn::Connection> connection_;
  TableResolver resolver_;
  std::unique_ptr<X11WindowSystem> system_;
  std::shared_ptr<xconn::Connection> probe_;
  RecordingNotifier notifier_;
  winsys::StatePtr state_;
  std::vector<std::unique_ptr<FixtureClient>> clients_;
};

TEST_F(X11WindowSystemTest, ListsApplicationsWithTheirWindowsInOrder) {
  initialize();
  auto& client = launch({"--class", "fixture.Fixture", "--window", "One", "--document",
                         "/home/u/one.txt", "--window", "Two"});
  auto app = waitForWindows("org.example.Fixture", 2);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->processIdentifier(), client.pid());
  auto windows = app->knownWindows();
  EXPECT_EQ(windows[0]->title(), "One");
  EXPECT_EQ(windows[0]->document(), "/home/u/one.txt");
  EXPECT_EQ(windows[1]->title(), "Two");
  EXPECT_EQ(windows[1]->document(), std::nullopt);
  EXPECT_TRUE(sameApplication(windows[0]->application(), app));
  EXPECT_EQ(notifier_.types({"ApplicationLaunchedEvent", "WindowCreatedEvent"}),
            (std::vector<std::string>{"ApplicationLaunchedEvent", "WindowCreatedEvent",
                                      "WindowCreatedEvent"}));

  // A title change is seen and announced.
  const std::string title = "Two (edited)";
  Atom netWmName = XInternAtom(probe_->display(), "_NET_WM_NAME", False);
  XChangeProperty(probe_->display(), xidOf(windows[1]), netWmName,
                  XInternAtom(probe_->display(), "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
  XFlush(probe_->display());
  ASSERT_TRUE(waitUntil([&] { return windows[1]->title() == title; }));
  ASSERT_FALSE(notifier_.all<winsys::WindowTitleChangedEvent>().empty());
  EXPECT_TRUE(
      sameWindow(notifier_.all<winsys::WindowTitleChangedEvent>().back()->window, windows[1]));

  // Initializing again gives a new state over the same applications.
  auto again = await(system_->initialize(notifier_));
  ASSERT_TRUE(again.ok());
  EXPECT_NE(again.value(), state_);
  ASSERT_EQ(again.value()->runningApplications().size(), 1u);
  EXPECT_TRUE(sameApplication(again.value()->runningApplications()[0], app));
  EXPECT_TRUE(sameWindow(again.value()->runningApplications()[0]->knownWindows()[1], windows[1]));
}

TEST_F(X11WindowSystemTest, ReadsOlderPropertiesWhereTheNewerAreMissing) {
  // Legacy windows: the title only in Latin-1 WM_NAME, no window type, and a
  // transient window (a dialog) for every one but a program's first.
  launch({"--class", "fixture.Fixture", "--window", "Main", "--role", "editor", "--window", "Café",
          "--legacy"});
  launch({"--class", "other.Other", "--window", "Olé", "--legacy"});
  initialize();  // read in one batch
  auto fixture = waitForWindows("org.example.Fixture", 2);
  auto other = waitForWindows("org.example.Other", 1);
  ASSERT_TRUE(fixture && other);
  struct Expected {
    WindowPtr window;
    std::string title;
    std::string subrole;
    std::optional<std::string> identifier;
  };
  for (const auto& e :
       {Expected{fixture->knownWindows()[0], "Main", "AXStandardWindow", "editor"},
        Expected{fixture->knownWindows()[1], "Café", "AXDialog", std::nullopt},
        Expected{other->knownWindows()[0], "Olé", "AXStandardWindow", std::nullopt}}) {
    SCOPED_TRACE(e.title);
    EXPECT_EQ(e.window->title(), e.title);
    auto element = e.window->uiElement();
    EXPECT_EQ(element->attribute(winsys::UIAttribute::subrole), e.subrole);
    EXPECT_EQ(element->attribute(winsys::UIAttribute::identifier), e.identifier);
  }
}

TEST_F(X11WindowSystemTest, WindowElementsAnswerFromTheWindowsProperties) {
  launch({"--class", "fixture.Fixture", "--window", "Find", "--role", "find-dialog", "--type",
          "dialog", "--document", "/srv/notes.txt", "--window", "Tools", "--type", "utility",
          "--window", "Main", "--role", "main"});
  initialize();
  auto app = waitForWindows("org.example.Fixture", 3);
  ASSERT_TRUE(app);
  struct Expected {
    std::string title;
    std::string subrole;
    std::optional<std::string> identifier;
    std::optional<std::string> document;
  };
  for (const auto& e : {Expected{"Find", "AXDialog", "find-dialog", "/srv/notes.txt"},
                        Expected{"Tools", "AXSystemFloatingWindow", std::nullopt, std::nullopt},
                        Expected{"Main", "AXStandardWindow", "main", std::nullopt}}) {
    SCOPED_TRACE(e.title);
    WindowPtr window;
    for (const auto& w : app->knownWindows()) {
      if (w->title() == e.title) window = w;
    }
    ASSERT_TRUE(window);
    auto element = window->uiElement();
    ASSERT_TRUE(element);
    EXPECT_EQ(element->attribute(winsys::UIAttribute::role), "AXWindow");
    EXPECT_EQ(element->attribute(winsys::UIAttribute::title), e.title);
    EXPECT_EQ(element->attribute(winsys::UIAttribute::subrole), e.subrole);
    EXPECT_EQ(element->attribute(winsys::UIAttribute::identifier), e.identifier);
    EXPECT_EQ(element->attribute(winsys::UIAttribute::document), e.document);
    EXPECT_EQ(element->children(), std::vector<winsys::UIElementPtr>{});

    // Its parent is the application, which has the windows and no menu bar.
    auto parent = element->parent();
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->attribute(winsys::UIAttribute::role), "AXApplication");
    EXPECT_FALSE(parent->parent());
    auto children = parent->children();
    ASSERT_TRUE(children);
    std::vector<std::optional<std::string>> roles;
    for (const auto& child : *children)
      roles.push_back(child->attribute(winsys::UIAttribute::role));
    EXPECT_EQ(roles, (std::vector<std::optional<std::string>>(3, "AXWindow")));
  }
}

TEST_F(X11WindowSystemTest, GroupsWindowsByBundleIdentifierElseByProcess) {
  auto& first = launch({"--class", "fixture.Fixture", "--window", "A"});
  auto& second = launch({"--class", "fixture.Fixture", "--window", "B"});
  auto& unknown = launch({"--class", "tool.Unknown", "--window", "C"});
  initialize();  // windows that exist before initialization are listed too
  ASSERT_TRUE(waitUntil([&] { return state_->runningApplications().size() == 2; }));
  auto app = waitForWindows("org.example.Fixture", 2);
  ASSERT_TRUE(app);
  EXPECT_EQ(system_->processesOf(second.pid()),
            (std::vector<std::int32_t>{first.pid(), second.pid()}));

  ApplicationPtr other;
  for (const auto& a : state_->runningApplications()) {
    if (!a->bundleIdentifier()) other = a;
  }
  ASSERT_TRUE(other);
  EXPECT_EQ(other->processIdentifier(), unknown.pid());
  ASSERT_TRUE(other->bundleURL());
  // The process's executable is its resolved path; the build folder may lie
  // behind a symbolic link.
  EXPECT_EQ(other->bundleURL()->filePath(),
            std::filesystem::canonical(WENDRIX_X11_TEST_CLIENT).string());

  // A client that does not name its process is known by the server's record
  // of its connection.
  auto& silent = launch({"--class", "fixture.Other", "--no-pid", "--window", "D"});
  ApplicationPtr other2;
  ASSERT_TRUE(waitUntil([&] { return (other2 = application("org.example.Other")) != nullptr; }));
  EXPECT_EQ(other2->processIdentifier(), silent.pid());

  // One instance ending does not end the application while another runs.
  first.kill();
  ASSERT_TRUE(waitUntil([&] { return app->knownWindows().size() == 1; }));
  ASSERT_TRUE(waitUntil([&] { return app->processIdentifier() == second.pid(); }));
  EXPECT_TRUE(application("org.example.Fixture"));
  EXPECT_TRUE(notifier_.all<winsys::ApplicationTerminatedEvent>().empty());
}

TEST_F(X11WindowSystemTest, FramesRoundTripExactly) {
  initialize();
  // Window managers take a client's X border off but may keep placing it as
  // if it were there; whatever the border, a frame written is the frame read,
  // without waiting for the write time-out.
  for (const char* border : {"0", "1", "5"}) {
    launch({"--class", "fixture.Fixture", "--window", border, "--border", border});
  }
  auto app = waitForWindows("org.example.Fixture", 3);
  ASSERT_TRUE(app);
  for (const auto& window : app->knownWindows()) {
    SCOPED_TRACE("border " + window->title());
    for (const Rect& target : {Rect{200, 150, 320, 240}, Rect{31, 57, 641, 479}}) {
      SCOPED_TRACE(::testing::Message() << target);
      const auto started = std::chrono::steady_clock::now();
      auto written = await(window->setFrame(target));
      ASSERT_TRUE(written.ok()) << written.error();
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
      EXPECT_EQ(written.value(), target);
      EXPECT_EQ(window->frame(), target);
      EXPECT_EQ(serverFrame(window), target);
    }
    // Writing the frame it has changes nothing.
    const Rect now = serverFrame(window);
    ASSERT_TRUE(await(window->setFrame(now)).ok());
    EXPECT_EQ(serverFrame(window), now);
  }
  auto window = app->knownWindows()[0];
  // A frame X cannot hold is refused at once, without a request.
  for (const Rect& bad : {Rect{0, 0, 0, 100}, Rect{40000, 0, 100, 100}}) {
    auto refused = await(window->setFrame(bad));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(WindowSystemError::is(refused.error(), WindowSystemErrorCode::failed));
  }
  EXPECT_FALSE(notifier_.all<winsys::WindowFrameChangedEvent>().empty());
}

// A window manager slower than the write time-out still gets the frame
// corrected for the client's border once it places the window.
TEST_F(X11WindowSystemTest, AFramePlacedAfterTheTimeOutIsStillExact) {
  system_ = std::make_unique<X11WindowSystem>(
      connection_, resolver_, nullptr,
      X11WindowSystemOptions{.selfBundleIdentifier = "", .writeTimeout = 0s});
  initialize();
  for (const char* border : {"1", "5"}) {
    launch({"--class", "fixture.Fixture", "--window", border, "--border", border});
  }
  auto app = waitForWindows("org.example.Fixture", 2);
  ASSERT_TRUE(app);
  for (const auto& window : app->knownWindows()) {
    SCOPED_TRACE("border " + window->title());
    const Rect target{211, 163, 320, 240};
    (void)await(window->setFrame(target));
    EXPECT_TRUE(waitUntil([&] { return serverFrame(window) == target; })) << serverFrame(window);
  }
}

TEST_F(X11WindowSystemTest, FrameWrittenWhileMinimizedHoldsAfterRestoring) {
  initialize();
  launch({"--class", "fixture.Fixture", "--window", "One"});
  auto app = waitForWindows("org.example.Fixture", 1);
  ASSERT_TRUE(app);
  auto window = app->knownWindows()[0];

  auto minimized = await(window->setMinimized(true));
  ASSERT_TRUE(minimized.ok()) << minimized.error();
  EXPECT_TRUE(window->isMinimized());
  EXPECT_EQ(notifier_.all<winsys::WindowMinimizedChangedEvent>().size(), 1u);

  const Rect target{300, 220, 500, 350};
  ASSERT_TRUE(await(window->setFrame(target)).ok());
  EXPECT_EQ(window->frame(), target);

  auto restored = await(window->setMinimized(false));
  ASSERT_TRUE(restored.ok()) << restored.error();
  EXPECT_FALSE(window->isMinimized());
  EXPECT_EQ(window->frame(), target);
  EXPECT_EQ(serverFrame(window), target);
}

TEST_F(X11WindowSystemTest, CloseFailsWithoutDeleteProtocolAndClosesOtherwise) {
  initialize();
  auto& client =
      launch({"--class", "fixture.Fixture", "--window", "Stays", "--no-close", "--window", "Goes"});
  auto app = waitForWindows("org.example.Fixture", 2);
  ASSERT_TRUE(app);
  auto stays = app->knownWindows()[0];
  auto goes = app->knownWindows()[1];

  auto refused = stays->close();
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(WindowSystemError::is(refused.error(), WindowSystemErrorCode::cannotClose));

  ASSERT_TRUE(goes->close().ok());
  ASSERT_TRUE(waitUntil([&] { return app->knownWindows().size() == 1; }));
  EXPECT_TRUE(sameWindow(notifier_.all<winsys::WindowDestroyedEvent>().back()->window, goes));
  EXPECT_FALSE(goes->close().ok());

  // With its last window closed the application runs on until its process ends.
  ASSERT_TRUE(WindowSystemError::is(stays->close().error(), WindowSystemErrorCode::cannotClose));
  client.kill();
  ASSERT_TRUE(waitUntil([&] { return !application("org.example.Fixture"); }));
  EXPECT_EQ(notifier_.types({"WindowDestroyedEvent", "ApplicationTerminatedEvent"}),
            (std::vector<std::string>{"WindowDestroyedEvent", "WindowDestroyedEvent",
                                      "ApplicationTerminatedEvent"}));
}

TEST_F(X11WindowSystemTest, ApplicationWithoutWindowsRunsUntilItsProcessEnds) {
  initialize();
  auto& client = launch({"--class", "fixture.Fixture", "--window", "Only"});
  auto app = waitForWindows("org.example.Fixture", 1);
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->knownWindows()[0]->close().ok());
  ASSERT_TRUE(waitUntil([&] { return app->knownWindows().empty(); }));
  EXPECT_TRUE(application("org.example.Fixture"));
  EXPECT_TRUE(notifier_.all<winsys::ApplicationTerminatedEvent>().empty());

  client.kill();
  ASSERT_TRUE(waitUntil([&] { return !application("org.example.Fixture"); }));
  ASSERT_EQ(notifier_.all<winsys::ApplicationTerminatedEvent>().size(), 1u);
}

TEST_F(X11WindowSystemTest, HideIconifiesAllWindowsAndActivationShowsThemAgain) {
  initialize();
  auto& client = launch({"--class", "fixture.Fixture", "--window", "One", "--window", "Two"});
  auto app = waitForWindows("org.example.Fixture", 2);
  ASSERT_TRUE(app);

  auto hidden = await(app->setHidden(true));
  ASSERT_TRUE(hidden.ok()) << hidden.error();
  EXPECT_TRUE(app->isHidden());
  for (const auto& w : app->knownWindows())
    EXPECT_TRUE(w->isMinimized()) << w->title();
  EXPECT_EQ(
      notifier_.types({"ApplicationIsHiddenChangedEvent", "WindowMinimizedChangedEvent"}),
      (std::vector<std::string>{"ApplicationIsHiddenChangedEvent", "WindowMinimizedChangedEvent",
                                "WindowMinimizedChangedEvent"}));

  platform::X11RunningApplications running(connection_, "app.Wendrix");
  ASSERT_TRUE(running.activate(client.pid(),
                               platform::activateAllWindows | platform::activateIgnoringOtherApps));
  // Shown again, and frontmost once the window manager's own focus changes
  // after the hide have settled too.
  ASSERT_TRUE(waitUntil([&] {
    auto windows = app->knownWindows();
    auto frontmost = notifier_.all<winsys::FrontmostApplicationChangedEvent>();
    return !app->isHidden() &&
           std::none_of(windows.begin(), windows.end(), [](auto& w) { return w->isMinimized(); }) &&
           !frontmost.empty() && sameApplication(frontmost.back()->application, app) &&
           running.frontmost() == client.pid() && running.isActive(client.pid()) == true;
  }));
  EXPECT_EQ(notifier_.all<winsys::ApplicationIsHiddenChangedEvent>().size(), 2u);
  EXPECT_TRUE(app->mainWindow());
}

TEST_F(X11WindowSystemTest, WriteToWindowDestroyedMeanwhileRejects) {
  initialize();
  launch({"--class", "fixture.Fixture", "--window", "One", "--window", "Two"});
  auto app = waitForWindows("org.example.Fixture", 2);
  ASSERT_TRUE(app);
  auto one = app->knownWindows()[0];
  auto two = app->knownWindows()[1];
  Display* d = probe_->display();

  // The window goes before the backend has heard of it: the frame request
  // still goes out, and the write is rejected once the destruction arrives.
  XDestroyWindow(d, xidOf(one));
  XSync(d, False);
  auto result = await(one->setFrame(Rect{10, 20, 200, 100}));
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(WindowSystemError::is(result.error(), WindowSystemErrorCode::invalidObject));

  // A request straight to a window that is already gone (BadWindow) rejects
  // too, and the process lives on.
  ASSERT_TRUE(await(two->setMinimized(true)).ok());
  XDestroyWindow(d, xidOf(two));
  XSync(d, False);
  auto shown = await(two->setMinimized(false));
  ASSERT_FALSE(shown.ok());
  EXPECT_TRUE(WindowSystemError::is(shown.error(), WindowSystemErrorCode::invalidObject));
  EXPECT_TRUE(waitUntil([&] { return app->knownWindows().empty(); }));
}

TEST_F(X11WindowSystemTest, NewWindowKeystrokeOpensAWindow) {
  initialize();
  auto& client = launch({"--class", "fixture.Fixture", "--window", "One"});
  ASSERT_TRUE(waitForWindows("org.example.Fixture", 1));
  const std::uint16_t kN = 45;
  const std::uint64_t kCommand = 0x100000;

  // Sent to the process's window, and through XTest after activating it:
  // while another program is active, the keystroke still reaches only its own.
  auto& other = launch({"--class", "fixture.Other", "--window", "Other"});
  ASSERT_TRUE(waitForWindows("org.example.Other", 1));
  platform::X11RunningApplications running(connection_, "app.Wendrix");
  std::size_t expected = 1;
  for (auto delivery :
       {platform::X11Keyboard::Delivery::sendEvent, platform::X11Keyboard::Delivery::xtest}) {
    SCOPED_TRACE(static_cast<int>(delivery));
    ASSERT_TRUE(running.activate(other.pid(), platform::activateIgnoringOtherApps));
    ASSERT_TRUE(waitUntil([&] { return running.isActive(other.pid()) == true; }));
    platform::X11Keyboard keyboard(connection_, {}, delivery);
    ASSERT_TRUE(keyboard.post({client.pid(), kN, kCommand, true}).ok());
    ASSERT_TRUE(keyboard.post({client.pid(), kN, kCommand, false}).ok());
    auto app = waitForWindows("org.example.Fixture", ++expected);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->knownWindows().back()->title(), "New Window " + std::to_string(expected - 1));
    if (delivery == platform::X11Keyboard::Delivery::xtest) {
      // The window manager activates the new window once it has mapped it.
      EXPECT_TRUE(waitUntil([&] { return running.isActive(client.pid()) == true; }));
    }
  }
  EXPECT_EQ(application("org.example.Other")->knownWindows().size(), 1u);
  // Keystrokes to two programs one after the other each reach their own.
  platform::X11Keyboard keyboard(connection_);
  for (std::int32_t pid : {other.pid(), client.pid()}) {
    ASSERT_TRUE(keyboard.post({pid, kN, kCommand, true}).ok());
    ASSERT_TRUE(keyboard.post({pid, kN, kCommand, false}).ok());
  }
  EXPECT_TRUE(waitForWindows("org.example.Other", 2));
  EXPECT_TRUE(waitForWindows("org.example.Fixture", ++expected));

  // A key without an X counterpart cannot be made; a process without windows
  // is not an error.
  EXPECT_FALSE(keyboard.post({client.pid(), 10, 0, true}).ok());
  EXPECT_TRUE(keyboard.post({999999, kN, kCommand, true}).ok());
}

TEST_F(X11WindowSystemTest, TrustFollowsTheWindowManager) {
  std::ostringstream log;
  X11AccessibilityTrust trust(connection_, log);
  int changes = 0;
  trust.addChangeObserver([&] { ++changes; });
  EXPECT_TRUE(trust.checkIsProcessTrusted(true));
  EXPECT_EQ(log.str(), "");

  XSession::shared().stopWindowManager();
  EXPECT_TRUE(waitUntil([&] { return changes > 0; }));
  EXPECT_FALSE(trust.checkIsProcessTrusted(true));
  EXPECT_NE(log.str(), "");
  auto refused = await(system_->initialize(notifier_));
  EXPECT_FALSE(refused.ok());

  ASSERT_TRUE(XSession::shared().startWindowManager());
  EXPECT_TRUE(waitUntil([&] { return trust.checkIsProcessTrusted(false); }));
}

TEST(X11Connection, LostServerBreaksTheConnectionWithoutEndingTheProcess) {
  if (!XSession::shared().available()) {
    WENDRIX_NO_X_SERVER(XSession::shared().problem());
  }
  auto server = x11test::PrivateServer::start();
  ASSERT_TRUE(server);
  auto loop = dispatch::MainLoop::create();
  ASSERT_TRUE(loop.ok());
  auto connection = xconn::Connection::open(*loop.value(), server->display());
  ASSERT_TRUE(connection.ok());
  // Connections without a loop learn of the loss only when they next talk to
  // the server: one through a reply (XCB), one through a round trip (Xlib).
  auto replies = xconn::Connection::open(server->display());
  auto roundTrips = xconn::Connection::open(server->display());
  ASSERT_TRUE(replies.ok() && roundTrips.ok());
  std::ostringstream log;
  X11AccessibilityTrust trust(connection.value(), log);
  EXPECT_FALSE(trust.checkIsProcessTrusted(false));  // no window manager here
  int changes = 0;
  trust.addChangeObserver([&] { ++changes; });

  server->kill();
  EXPECT_TRUE(loop.value()->runUntil([&] { return connection.value()->broken(); }, 5s));
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(trust.checkIsProcessTrusted(false));

  // The platform services fail softly on a lost connection as well.
  platform::X11RunningApplications running(replies.value(), "app.Wendrix");
  EXPECT_EQ(running.frontmost(), std::nullopt);
  EXPECT_TRUE(replies.value()->broken());
  platform::X11Keyboard keyboard(replies.value());
  EXPECT_FALSE(keyboard.post({::getpid(), 45, 0, true}).ok());
  EXPECT_FALSE(roundTrips.value()->run([](Display* d) { XNoOp(d); }));
  EXPECT_TRUE(roundTrips.value()->broken());
}

}  // namespace
}  // namespace wendrix::x11

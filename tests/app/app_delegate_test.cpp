// Start-up on the headless toolkit over the fake desktop.

#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>

#include "app/menus/main_menu_provider.h"
#include "app/url_handler.h"
#include "engine/actions_fixture.h"
#include "platform/window_level/window_level.h"
#include "support/fake_world.h"
#include "support/telemetry_fake_pipeline.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/sdk/test_services.h"
#include "toolkit/alert.h"
#include "toolkit/headless/driver.h"
#include "toolkit/menu.h"
#include "toolkit/popover.h"
#include "toolkit/status_item.h"
#include "toolkit/window.h"
#include "ui/customization_window.h"
#include "ui/home_view.h"
#include "ui/item_views.h"

namespace wendrix::testing {
namespace {

// The fake telemetry SDK, made before the world's recorded analytics and
// gone after them.
struct WithFakeTelemetrySdk {
  tlm::testing::ScopedFakeTelemetrySdk telemetry;
};

class AppDelegateTest : public ::testing::Test,
                        protected WithFakeTelemetrySdk,
                        protected FakeWorld {
 protected:
  void SetUp() override {
    DefaultsStorage::configureShared(defaults, "7");
    WindowsProvider::configureShared(desktop.windowSystem(), desktop.trust(), desktop.bundles(),
                                     scheduler);
  }
  void TearDown() override {
    if (application) application->setDelegate({});
    delegate.reset();
    WindowsProvider::setSharedForTesting();
    DefaultsStorage::setSharedForTesting();
  }

  void start(std::map<std::string, std::string> bundleInfo,
             std::map<std::string, std::string> images = {{"Menu Icon", "/icons/menu.png"}}) {
    application.emplace(
        queue, toolkit::Application::Options{std::move(bundleInfo), std::move(images), nullptr});
    AppDelegateContext context;
    context.application = &*application;
    context.appSecret = "11111111-2222-3333-4444-555555555555";
    context.trust = &desktop.trust();
    context.telemetryServices = telemetryServices;
    context.debugOutput = &debugOutput;
    context.actions = desktopActionsContext();
    // The program's customization window, made as the agent makes it.
    CustomizationContext windowContext;
    windowContext.application = &*application;
    windowContext.bundles = &desktop.bundles();
    windows = std::make_shared<CustomizationWindows>(windowContext);
    context.customizationWindows = windows;
    if (beforeDelegate) beforeDelegate();
    delegate = std::make_shared<AppDelegate>(std::move(context));
    windows->setActions(delegate->actions());
    application->setDelegate(delegate);
    queue.runUntilIdle();
  }

  // Runs once the application exists, just before the delegate is made.
  std::function<void()> beforeDelegate;
  std::ostringstream debugOutput;
  std::vector<tlm::TLMServiceClass> telemetryServices;
  std::optional<toolkit::Application> application;
  std::shared_ptr<CustomizationWindows> windows;
  std::shared_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, ConstructionPreparesTheStoreAndLaunchShowsTheStatusItem) {
  start({{"CFBundleName", "Wendrix Dev"}});
  // The first-run step ran on the shared store; the window system is warm.
  EXPECT_EQ(DefaultsStorage::shared()->userSince().value(), 7);
  EXPECT_EQ(desktop.initializations(), 1);
  ASSERT_EQ(application->statusItems().size(), 1u);
  const auto& item = delegate->statusItem();
  EXPECT_FALSE(item->isVisible());
  EXPECT_FALSE(tlm::TLMDarAveved::isConfigured());

  application->finishLaunching();

  EXPECT_TRUE(item->isVisible());
  EXPECT_EQ(item->behavior(), toolkit::StatusItem::kTerminationOnRemoval);
  EXPECT_EQ(item->toolTip(), "Wendrix Dev");
  ASSERT_TRUE(item->image());
  EXPECT_EQ(*item->image(), toolkit::Image::named("Menu Icon"));
  EXPECT_EQ(tlm::TLMDarAveved::appSecret(), "11111111-2222-3333-4444-555555555555");
  EXPECT_TRUE(analytics.events().empty());

  // The status menu is the provider's, bound at launch; it tells its
  // delegate when it opens and quits from its last item.
  EXPECT_EQ(item->menu(), delegate->menuProvider()->mainMenu());
  toolkit::headless::Driver driver(*application);
  ASSERT_TRUE(driver.clickStatusItem(*item));
  ASSERT_TRUE(driver.chooseMenuItem(*item->menu(), {"Quit"}));
  EXPECT_TRUE(delegate->menuProvider()->mainMenuDelegate()->lastOpen().has_value());
  EXPECT_TRUE(application->isTerminated());
}

TEST_F(AppDelegateTest, BuildsTheStatusItemFirstAndLaunchesInOrder) {
  // The status item comes before the store's first-run step and the windows
  // provider's warm-up.
  std::vector<std::string> journal;
  beforeDelegate = [&] {
    application->statusItemAdded.connect([&](toolkit::StatusItem&) {
      journal.push_back("item: first run " +
                        std::to_string(DefaultsStorage::shared()->userSince().value().has_value()) +
                        ", warm " + std::to_string(desktop.initializations()));
    });
  };
  start({{"CFBundleName", "Wendrix Dev"}});
  EXPECT_EQ(journal, (std::vector<std::string>{"item: first run 0, warm 0"}));

  // Launch: the SDK starts, then the item shows, gets its tooltip, its menu
  // and its image, each in turn.
  const auto& item = delegate->statusItem();
  journal.clear();
  item->changed.connect([&] {
    const std::string state = std::string(item->isVisible() ? "visible" : "hidden") +
                              " sdk=" + std::to_string(tlm::TLMDarAveved::isConfigured()) +
                              " tip='" + item->toolTip() +
                              "' menu=" + std::to_string(item->menu() != nullptr) +
                              " image=" + std::to_string(item->image().has_value());
    // A menu emitted again is the same state.
    if (journal.empty() || journal.back() != state) journal.push_back(state);
  });
  application->finishLaunching();
  EXPECT_EQ(journal, (std::vector<std::string>{
                         "visible sdk=1 tip='' menu=0 image=0",
                         "visible sdk=1 tip='Wendrix Dev' menu=0 image=0",
                         "visible sdk=1 tip='Wendrix Dev' menu=1 image=0",
                         "visible sdk=1 tip='Wendrix Dev' menu=1 image=1",
                     }));
}

TEST_F(AppDelegateTest, StatusActionTogglesTheHomePopoverBelowTheStatusItem) {
  start({{"CFBundleName", "Wendrix"}});
  application->finishLaunching();
  auto& item = *delegate->statusItem();
  // Where the desktop put the icon.
  item.setScreenFrame({{900, 0}, {24, 26}});
  const auto opened = queue.clock().now();

  delegate->statusAction();
  const auto popover = delegate->popover();
  ASSERT_TRUE(popover);
  EXPECT_TRUE(popover->isShown());
  EXPECT_EQ(popover->behavior(), toolkit::Popover::Behavior::transient);
  EXPECT_FALSE(popover->animates());
  auto* home = dynamic_cast<HomeViewController*>(popover->contentViewController().get());
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(home->actions(), delegate->actions());
  // Anchored to an invisible 1 x 1 window at the status level, at the middle
  // of the icon's bottom edge, and shown below it.
  const auto anchor = delegate->popoverAnchorWindow();
  ASSERT_TRUE(anchor);
  EXPECT_EQ(anchor->frame(), (toolkit::Rect{{912, 26}, {1, 1}}));
  EXPECT_EQ(anchor->style(), toolkit::WindowStyle::borderless);
  EXPECT_EQ(anchor->level(), 25);
  EXPECT_TRUE(anchor->isVisible());
  EXPECT_TRUE(dynamic_cast<EmptyViewController*>(anchor->contentViewController().get()));
  EXPECT_EQ(popover->anchor().view, anchor->contentView().get());
  EXPECT_EQ(popover->anchor().rect, (toolkit::Rect{{0, 0}, {1, 1}}));
  EXPECT_EQ(popover->anchor().edge, toolkit::RectEdge::maxY);
  // The program comes forward with the popover's window key.
  EXPECT_TRUE(application->isActive());
  EXPECT_EQ(application->keyWindow(), home->view()->window());
  EXPECT_EQ(delegate->timerStart(), opened);
  EXPECT_EQ(debugOutput.str(), "OpenTimer: 0 s\n");

  // The second toggle closes it, with its anchor window.
  delegate->statusAction();
  EXPECT_FALSE(popover->isShown());
  EXPECT_FALSE(anchor->isVisible());
  EXPECT_FALSE(delegate->popover());
  EXPECT_FALSE(delegate->popoverAnchorWindow());

  // `openPopover` leaves the timer alone.
  queue.advance(std::chrono::seconds(2));
  delegate->openPopover();
  const auto second = delegate->popover();
  ASSERT_TRUE(second);
  EXPECT_EQ(delegate->timerStart(), opened);
  EXPECT_EQ(debugOutput.str(), "OpenTimer: 0 s\nOpenTimer: 2 s\n");

  // A click elsewhere closes it; the next toggle opens a new one.
  toolkit::headless::Driver driver(*application);
  const auto secondAnchor = delegate->popoverAnchorWindow();
  driver.clickOutsidePopovers();
  EXPECT_FALSE(second->isShown());
  EXPECT_FALSE(secondAnchor->isVisible());
  EXPECT_FALSE(delegate->popover());
  delegate->openPopover();
  ASSERT_TRUE(delegate->popover());
  EXPECT_NE(delegate->popover(), second);
  EXPECT_TRUE(delegate->popover()->isShown());
  queue.runUntilIdle();
}

TEST_F(AppDelegateTest, OpenMenuOpensTheStatusMenuOnceThereIsOne) {
  start({{"CFBundleName", "Wendrix"}});
  delegate->openMenu();
  EXPECT_FALSE(delegate->timerStart());
  application->finishLaunching();
  delegate->openMenu();
  EXPECT_TRUE(delegate->statusItem()->menu()->isOpen());
  EXPECT_EQ(delegate->timerStart(), queue.clock().now());
}

TEST_F(AppDelegateTest, APopoverFromAViewWithoutWindowIsShownAtTheView) {
  start({{"CFBundleName", "Wendrix"}});
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {30, 20}});
  auto shown = showPopover(*application, *view, std::make_shared<EmptyViewController>(), true);
  EXPECT_FALSE(shown.anchorWindow);
  EXPECT_EQ(shown.popover->anchor().view, view.get());
  EXPECT_EQ(shown.popover->anchor().rect, view->bounds());
  EXPECT_EQ(shown.popover->anchor().edge, toolkit::RectEdge::maxY);
  shown.popover->close();
}

TEST_F(AppDelegateTest, EditLayoutsFromTheStatusMenuOpensTheCustomizationWindow) {
  start({{"CFBundleName", "Wendrix"}});
  application->finishLaunching();
  application->openURLs({"wendrix:save?name=Work"});
  queue.runUntilIdle();
  EXPECT_TRUE(application->windows().empty());

  const auto& item = delegate->statusItem();
  toolkit::headless::Driver driver(*application);
  ASSERT_TRUE(driver.clickStatusItem(*item));
  ASSERT_TRUE(driver.chooseMenuItem(*item->menu(), {"Edit Layouts..."})) << item->menu()->dump();
  queue.runUntilIdle();

  // The window opens on the saved layouts; a second choice brings the same
  // window forward.
  ASSERT_EQ(application->windows().size(), 1u);
  toolkit::Window& window = *application->windows()[0];
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.title(), "Wendrix");
  ASSERT_TRUE(driver.clickStatusItem(*item));
  ASSERT_TRUE(driver.chooseMenuItem(*item->menu(), {"Edit Layouts..."})) << item->menu()->dump();
  queue.runUntilIdle();
  EXPECT_EQ(application->windows().size(), 1u);
  window.close();
  queue.runUntilIdle();
}

TEST_F(AppDelegateTest, OpeningTheStatusMenuDropsThePinnedCustomizationWindow) {
  start({{"CFBundleName", "Wendrix"}});
  application->finishLaunching();
  const auto& item = delegate->statusItem();
  toolkit::headless::Driver driver(*application);
  ASSERT_TRUE(driver.clickStatusItem(*item));
  ASSERT_TRUE(driver.chooseMenuItem(*item->menu(), {"Preferences..."})) << item->menu()->dump();
  queue.runUntilIdle();
  ASSERT_EQ(application->windows().size(), 1u);
  toolkit::Window& window = *application->windows()[0];
  ASSERT_TRUE(driver.clickToolbarItem(window, "pin"));
  ASSERT_EQ(window.level(), platform::kStatusWindowLevel);

  ASSERT_TRUE(driver.clickStatusItem(*item));
  EXPECT_EQ(window.level(), platform::kNormalWindowLevel);
  // The pin shows the window is no longer pinned.
  const auto& pin = window.toolbarItems().at(0);
  EXPECT_EQ(pin.identifier, "pin");
  EXPECT_EQ(pin.image.name, "pin");
  driver.closeMenu(*item->menu());
  window.close();
  queue.runUntilIdle();
}

TEST_F(AppDelegateTest, TheStatusMenuListsTheSavedLayoutsAndRestoresThem) {
  start({{"CFBundleName", "Wendrix"}});
  auto editor = desktop.launch(
      winsys::fake::AppSetup::withId("org.example.Editor"),
      {winsys::fake::WindowSetup::titled("Notes").withFrame(winsys::Rect{40, 60, 800, 600})});
  application->finishLaunching();
  application->openURLs({"wendrix:save?name=Work"});
  queue.runUntilIdle();
  desktop.moveWindow(editor->windows().at(0), winsys::Rect{500, 500, 300, 200});

  // The menu shown by a click is the latest one: it lists the layout saved
  // after launch.
  const auto& item = delegate->statusItem();
  toolkit::headless::Driver driver(*application);
  ASSERT_TRUE(driver.clickStatusItem(*item));
  EXPECT_NE(item->menu()->dump().find("Work >"), std::string::npos) << item->menu()->dump();
  ASSERT_TRUE(driver.chooseMenuItem(*item->menu(), {"Work", "Restore layout"}));
  queue.advance(std::chrono::seconds(5));
  EXPECT_EQ(editor->windows().at(0)->frame(), (winsys::Rect{40, 60, 800, 600}));
}

TEST_F(AppDelegateTest, LaunchStartsTheTelemetryServicesItWasGiven) {
  auto crashes = tlm::testing::testCrashes();
  telemetryServices = {crashes.serviceClass};
  start({{"CFBundleName", "Wendrix"}});
  EXPECT_FALSE(crashes.service->isStarted());

  application->finishLaunching();
  EXPECT_EQ(crashes.service->appSecret(), "11111111-2222-3333-4444-555555555555");
  const auto enqueued = telemetry.group()->unit("DarAveved")->enqueued();
  ASSERT_EQ(enqueued.size(), 1u);
  const auto log = std::dynamic_pointer_cast<tlm::TLMStartServiceLog>(enqueued[0].log);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->services, (std::vector<std::string>{"Crashes"}));
}

TEST_F(AppDelegateTest, WithoutABundleNameOrIconTheDefaultsAndAnErrorEvent) {
  start({}, {});
  application->finishLaunching();
  EXPECT_EQ(delegate->statusItem()->toolTip(), "Wendrix");
  EXPECT_FALSE(delegate->statusItem()->image());
  const auto events = analytics.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "Error");
  ASSERT_EQ(events[0].properties.size(), 2u);
  EXPECT_EQ(std::get<std::string>(events[0].properties[1].value), "appdelegate.buttonIcon_000");
}

// A store whose writes fail while `failing` is set, as on a full disk.
class FullDiskDefaults final : public platform::UserDefaults {
 public:
  std::optional<coding::Value> get(std::string_view key) const override { return inner.get(key); }
  base::Status set(std::string_view key, coding::Value value) override {
    if (failing) return base::Error("platform.defaults", 28, "No space left on device");
    return inner.set(key, std::move(value));
  }
  base::Status remove(std::string_view key) override { return inner.remove(key); }
  std::vector<std::string> keys() const override { return inner.keys(); }
  bool failing = false;
  platform::MemoryUserDefaults inner;
};

TEST_F(AppDelegateTest, TheFirstFailedWriteOfARunIsShownOnce) {
  auto full = std::make_shared<FullDiskDefaults>();
  beforeDelegate = [&] { DefaultsStorage::configureShared(full, "7"); };
  start({{"CFBundleName", "Wendrix"}});
  desktop.launch(winsys::fake::AppSetup::withId("org.example.Editor"),
                 {winsys::fake::WindowSetup::titled("Notes")});
  application->finishLaunching();
  queue.runUntilIdle();
  full->failing = true;
  std::vector<base::Status> outcomes;
  for (const char* url : {"wendrix:save?name=One", "wendrix:save?name=Two"}) {
    delegate->openURLs({url}, [&](const base::Status& s) { outcomes.push_back(s); });
    queue.runUntilIdle();
  }
  ASSERT_EQ(outcomes.size(), 2u);
  for (const auto& outcome : outcomes) {
    ASSERT_FALSE(outcome.ok());
    EXPECT_NE(outcome.error().description.find("No space left on device"), std::string::npos);
  }
  // A sheet, which does not hold the agent up, on a window of its own.
  std::vector<std::string> shown;
  for (toolkit::Window* window : application->windows()) {
    if (auto* alert = dynamic_cast<toolkit::Alert*>(window->attachedSheet()))
      shown.push_back(alert->messageText());
  }
  EXPECT_EQ(shown, std::vector<std::string>{"Wendrix cannot store your layouts"});
  EXPECT_TRUE(application->modalAlertMessages().empty());
}

TEST_F(AppDelegateTest, OpenedURLsGoToTheHandlerInOrder) {
  start({{"CFBundleName", "Wendrix"}});
  desktop.launch(winsys::fake::AppSetup::withId("org.example.Editor"),
                 {winsys::fake::WindowSetup::titled("Notes")});
  application->finishLaunching();
  analytics.backend().clear();

  application->openURLs({"wendrix:save?name=One", "wendrix:open", "wendrix:save?name=Two"});
  queue.runUntilIdle();

  std::vector<std::string> names;
  for (const auto& layout : DefaultsStorage::shared()->loadLayouts())
    names.push_back(layout.name);
  EXPECT_EQ(names, (std::vector<std::string>{"One", "Two"}));
  std::vector<std::string> events;
  for (const auto& event : analytics.events()) {
    // Saving also rebuilds the status menu, whose new hide items are marked new.
    if (event.name != "Layout_Saved" && event.name != "NewFeatureHighlight") {
      events.push_back(event.name);
    }
  }
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (std::vector<std::string>{"Error", "URL_Handled", "URL_Handled"}));
}

}  // namespace
}  // namespace wendrix::testing

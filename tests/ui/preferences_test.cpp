// The preferences tab: the general preferences and the per-application New
// Window shortcuts, played by the driver over the fake desktop.

#include "ui/preferences_pane.h"

#include <X11/X.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "customization_fixture.h"
#include "platform/keyboard/linux/key_table.h"
#include "platform/login_item/linux/autostart_login_item.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "toolkit/alert.h"
#include "toolkit/file_panels.h"
#include "ui/alert_popover.h"
#include "ui/app_settings_pane.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using platform::PanelResponse;
using toolkit::ControlState;
using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

IWindow savedWindow(std::string title) {
  IWindow w;
  w.title = std::move(title);
  return w;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PreferencesTest : public CustomizationTest {
 protected:
  void configure(CustomizationContext& c, ActionsContext& a) override {
    c.loginItem = &loginItem;
    a.keyboard = &desktop.keyboard();
    a.workspace = &desktop.workspace();
  }

  // Mail (one window of two saved) and Term run, and so does the program
  // itself; Calc is only saved.
  void SetUp() override {
    CustomizationTest::SetUp();
    desktop.launch(AppSetup::withId("Mail").withPid(700), {WindowSetup::titled("Inbox")});
    desktop.launch(AppSetup::withId("Term"), {WindowSetup::titled("sh")});
    desktop.launch(AppSetup::withId("test.Wendrix"), {WindowSetup::titled("Wendrix")});
    queue.runUntilIdle();
    storage->saveLayout(layout(
        "Work", {app("Mail", {savedWindow("a"), savedWindow("b")}), app("Calc"), app("Term")}));
    showPreferences();
    // Only what the tests do counts.
    analytics.backend().clear();
  }

  void showPreferences() {
    open();
    controller->select(NavigationSelection::navigation(NavigationOption::Preferences));
    queue.runUntilIdle();
    ASSERT_EQ(tab(), CustomizationSplitViewController::kPreferencesTab);
  }
  // Closes the window and opens a new one, whose panes read everything anew.
  void reopen() {
    controller->window()->close();
    controller.reset();
    queue.runUntilIdle();
    showPreferences();
  }

  SettingsViewController& settings() {
    return dynamic_cast<SettingsViewController&>(*split().tabsSplitViewItem().child(2));
  }
  const GeneralPrefsViewController::Outlets& general() {
    return settings().generalPrefs()->outlets();
  }
  AppSettingsViewController& apps() { return *settings().appSettings(); }
  toolkit::SegmentedControl& edit() { return *apps().editButtons(); }
  std::array<bool, 4> segments() {
    return {edit().isEnabled(0), edit().isEnabled(1), edit().isEnabled(2), edit().isEnabled(3)};
  }
  AppSettingCellView& row(int index) {
    return dynamic_cast<AppSettingCellView&>(*apps().outlineView()->viewAtRow(index));
  }
  std::vector<std::string> rows() {
    return toolkit::headless::Driver::rowTexts(*apps().outlineView());
  }

  // Opens the add menu and chooses `title` from it.
  void add(const std::string& title) {
    ASSERT_TRUE(driver.clickSegment(edit(), 3));
    queue.runUntilIdle();
    auto menu = apps().addAppMenu();
    ASSERT_TRUE(menu && menu->lastPopUp());
    menu->open();
    ASSERT_TRUE(driver.chooseMenuItem(*menu, {title}));
  }

  toolkit::FilePanel* panel() {
    return dynamic_cast<toolkit::FilePanel*>(window().attachedSheet());
  }
  toolkit::Alert* alert() { return dynamic_cast<toolkit::Alert*>(window().attachedSheet()); }
  base::Url fileURL(const std::string& name) {
    return base::Url::fromFilePath((files.path() / name).string());
  }
  void writeFile(const std::string& name, const std::string& text) {
    std::ofstream(files.path() / name) << text;
  }
  std::vector<std::string> eventNames() {
    std::vector<std::string> names;
    for (const auto& e : analytics.events())
      names.push_back(e.name);
    return names;
  }

  support::TempDir home{"prefs-home"};
  support::TempDir files{"prefs-files"};
  support::ScopedEnvironment env{{"XDG_CONFIG_HOME", home.path().string()}};
  platform::AutostartLoginItem loginItem{"app.Wendrix", "Wendrix", "/opt/wendrix/bin/wendrix"};
};

// --- recording a shortcut -----------------------------------------------------------

TEST_F(PreferencesTest, WhatIsRecordedIsWhatThePosterSends) {
  // A chord as the X server reports it (key symbol and modifier state), read
  // through the one key table as the Qt recorder reads it; the stored key
  // code and flags; the keystroke a restore posts; and that keystroke back
  // in X terms.
  struct Case {
    unsigned long keysym;
    unsigned state;
    IShortcut stored;
    unsigned long postedKeysym;
    unsigned postedState;
  };
  const Case cases[] = {
      {XK_n, ControlMask, {45, 0x100000}, XK_n, ControlMask},
      {XK_N, ShiftMask | ControlMask, {45, 0x120000}, XK_n, ShiftMask | ControlMask},
      {XK_t, ShiftMask | ControlMask, {17, 0x120000}, XK_t, ShiftMask | ControlMask},
      {XK_m, Mod1Mask, {46, 0x80000}, XK_m, Mod1Mask},
      {XK_F2, 0, {120, 0}, XK_F2, 0},
  };
  add("Mail");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keysym);
    auto code = platform::keys::keyCodeForKeysym(c.keysym);
    ASSERT_TRUE(code);
    const toolkit::KeyChord pressed{*code, platform::keys::flagsForModifierState(c.state)};
    ASSERT_TRUE(driver.record(*row(0).recorderControl(), pressed));
    EXPECT_EQ(storage->loadAppSettings().at("Mail").newWindowShortcut, c.stored);
    EXPECT_EQ(row(0).recorderControl()->objectValue(), pressed);

    // Mail shows one of its two saved windows: the restore asks for another.
    const std::size_t before = desktop.keyboard().posted().size();
    auto restored =
        watch(actions->restoreApps({app("Mail", {savedWindow("a"), savedWindow("b")})}), queue);
    queue.runUntilIdle();
    const auto& posted = desktop.keyboard().posted();
    ASSERT_EQ(posted.size(), before + 2);
    EXPECT_EQ(posted[before], (platform::Keystroke{700, c.stored.key, c.stored.flagsValue, true}));
    EXPECT_EQ(posted[before + 1].keyDown, false);
    EXPECT_EQ(platform::keys::keysymForKeyCode(posted[before].keyCode), c.postedKeysym);
    EXPECT_EQ(platform::keys::modifierStateForFlags(posted[before].flags), c.postedState);
    queue.advance(30s);
    EXPECT_TRUE(restored->settled());
  }
}

TEST(RecordedShortcut, KeepsOnlyTheModifierBitsOfAShortcut) {
  EXPECT_EQ(shortcutForChord(toolkit::KeyChord{45, 0x120000 | 0x100 | 0x1000000}),
            (IShortcut{45, 0x120000}));
  EXPECT_EQ(shortcutForChord(toolkit::KeyChord{45, kRecordedModifierMask}),
            (IShortcut{45, kRecordedModifierMask}));
  EXPECT_EQ(shortcutForChord(std::nullopt), std::nullopt);
  EXPECT_EQ(chordForShortcut(IShortcut{17, 0x120000}), (toolkit::KeyChord{17, 0x120000}));
}

// --- adding, clearing, removing ---------------------------------------------------------

TEST_F(PreferencesTest, TheAddMenuOffersRunningThenSavedAppsButNeverTheConfiguredOrTheProgram) {
  // Mail and Term run and are saved: only under "Open apps:".
  ASSERT_TRUE(driver.clickSegment(edit(), 3));
  // The menu pops up once the click is handled.
  EXPECT_FALSE(apps().addAppMenu()->lastPopUp());
  queue.runUntilIdle();
  auto menu = apps().addAppMenu();
  ASSERT_TRUE(menu->lastPopUp());
  EXPECT_EQ(menu->lastPopUp()->positioningItem, menu->itemAt(0));
  EXPECT_EQ(menu->lastPopUp()->location.y, edit().frame().origin.y);
  EXPECT_EQ(menu->dump(),
            "Open apps: (disabled)\nMail\nTerm\nSaved layout apps: (disabled)\nCalc\n");
  EXPECT_FALSE(menu->itemAt(0)->isEnabled());

  menu->open();
  ASSERT_TRUE(driver.chooseMenuItem(*menu, {"Term"}));
  EXPECT_EQ(storage->loadAppSettings(),
            (AppSettingsMap{{"Term", IAppSettings{kDefaultNewWindowShortcut}}}));
  EXPECT_EQ(rows(), std::vector<std::string>{"Term"});
  EXPECT_EQ(row(0).recorderControl()->objectValue(), (toolkit::KeyChord{45, 0x100000}));
  ASSERT_TRUE(driver.clickSegment(edit(), 3));
  queue.runUntilIdle();
  EXPECT_EQ(apps().addAppMenu()->dump(),
            "Open apps: (disabled)\nMail\nSaved layout apps: (disabled)\nCalc\n");
}

TEST_F(PreferencesTest, AddingIsOfferedWhileAnAppIsLeftRemovingWhileARowIsSelected) {
  // Export and import always; remove needs a row; add an app to add.
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, true, false, true}));
  add("Calc");
  add("Mail");
  add("Term");
  EXPECT_EQ(rows(), (std::vector<std::string>{"Calc", "Mail", "Term"}));
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, true, false, false}));
  EXPECT_FALSE(driver.clickSegment(edit(), 3));

  ASSERT_TRUE(driver.clickRow(*apps().outlineView(), 1));
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, true, true, false}));
  ASSERT_TRUE(driver.clickSegment(edit(), 2));
  EXPECT_EQ(rows(), (std::vector<std::string>{"Calc", "Term"}));
  EXPECT_FALSE(storage->loadAppSettings().contains("Mail"));
  // Mail can be added again; the selection stays on the second row.
  EXPECT_EQ(segments(), (std::array<bool, 4>{true, true, true, true}));
  // The pane reports nothing.
  EXPECT_TRUE(eventNames().empty());
}

TEST_F(PreferencesTest, ClearingKeepsTheAppWithoutAShortcut) {
  add("Mail");
  add("Term");
  ASSERT_TRUE(driver.click(*row(0).clearButton()));
  EXPECT_EQ(storage->loadAppSettings(),
            (AppSettingsMap{{"Mail", IAppSettings{}},
                            {"Term", IAppSettings{kDefaultNewWindowShortcut}}}));
  EXPECT_EQ(rows(), (std::vector<std::string>{"Mail", "Term"}));
  EXPECT_EQ(row(0).recorderControl()->objectValue(), std::nullopt);
  EXPECT_EQ(row(1).recorderControl()->objectValue(), (toolkit::KeyChord{45, 0x100000}));
  // Escape in the recorder clears too.
  ASSERT_TRUE(driver.record(*row(1).recorderControl(), std::nullopt));
  EXPECT_EQ(storage->loadAppSettings().at("Term"), IAppSettings{});
}

TEST_F(PreferencesTest, TheHelpButtonExplainsTheShortcutUnderItself) {
  auto* help = settings().helpButton();
  ASSERT_TRUE(help && driver.click(*help));
  const auto& popover = apps().helpPopover();
  ASSERT_TRUE(popover && popover->isShown());
  EXPECT_EQ(popover->anchor().view, help);
  auto* content = dynamic_cast<AlertPopoverViewController*>(popover->contentViewController().get());
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->message(), kNewWindowShortcutHelp);
  driver.clickOutsidePopovers();
  EXPECT_FALSE(popover->isShown());
}

// --- export and import of the app settings --------------------------------------------

TEST_F(PreferencesTest, ExportWritesTheSettingsThatImportPutsBack) {
  storage->saveAppSettings(
      {{"Mail", IAppSettings{IShortcut{45, 0x120000}}}, {"Term", IAppSettings{}}});
  ASSERT_TRUE(driver.clickSegment(edit(), 0));
  ASSERT_TRUE(panel());
  EXPECT_EQ(panel()->kind(), toolkit::FilePanel::Kind::save);
  EXPECT_EQ(panel()->options().title, "Export your app settings!");
  EXPECT_EQ(panel()->options().allowedFileTypes, std::vector<std::string>{"json"});
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::ok, fileURL("apps.json")));
  EXPECT_EQ(readFile(files.path() / "apps.json"),
            "{\n"
            "  \"Mail\": {\n"
            "    \"newWindowShortcut\": {\n"
            "      \"key\": 45,\n"
            "      \"flagsValue\": 1179648\n"
            "    }\n"
            "  },\n"
            "  \"Term\": {}\n"
            "}");

  // Importing replaces every setting; none is merged.
  storage->saveAppSettings({{"Calc", IAppSettings{}}});
  ASSERT_TRUE(driver.clickSegment(edit(), 1));
  ASSERT_TRUE(panel());
  EXPECT_EQ(panel()->kind(), toolkit::FilePanel::Kind::open);
  EXPECT_EQ(panel()->options().title, "Import your app settings!");
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::ok, fileURL("apps.json")));
  EXPECT_EQ(rows(), (std::vector<std::string>{"Mail", "Term"}));
  EXPECT_EQ(storage->loadAppSettings().at("Mail").newWindowShortcut, (IShortcut{45, 0x120000}));
  EXPECT_EQ(window().attachedSheet(), nullptr);
  EXPECT_TRUE(eventNames().empty());
}

TEST_F(PreferencesTest, ADamagedFileLeavesTheSettingsUntouchedAndSaysSo) {
  const AppSettingsMap before{{"Mail", IAppSettings{kDefaultNewWindowShortcut}}};
  storage->saveAppSettings(before);
  writeFile("broken.json", "{\"Term\": {}, \"Mail\": {\"newWindowShortcut\": {\"key\": \"N\"}}}");
  writeFile("cut.json", "{\"Term\": {");
  for (const char* name : {"broken.json", "cut.json", "missing.json"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(driver.clickSegment(edit(), 1));
    ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::ok, fileURL(name)));
    EXPECT_EQ(storage->loadAppSettings(), before);
    EXPECT_EQ(rows(), std::vector<std::string>{"Mail"});
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->messageText(), "The app settings could not be imported.");
    ASSERT_TRUE(driver.answerAlert(window(), 0));
  }
  // Cancelling changes nothing and says nothing.
  ASSERT_TRUE(driver.clickSegment(edit(), 1));
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::cancel));
  EXPECT_EQ(window().attachedSheet(), nullptr);
}

TEST_F(PreferencesTest, AnExportThatCannotBeWrittenSaysSo) {
  ASSERT_TRUE(driver.clickSegment(edit(), 0));
  ASSERT_TRUE(
      driver.answerPanel(window(), PanelResponse::ok,
                         base::Url::fromFilePath((files.path() / "none" / "a.json").string())));
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->messageText(), "The app settings could not be exported.");
}

// --- general preferences ------------------------------------------------------------------

TEST_F(PreferencesTest, TheAutostartSwitchFollowsTheEntryFile) {
  const auto entry = home.path() / "autostart" / "app.Wendrix.desktop";
  EXPECT_EQ(general().launchAtLogin->state(), ControlState::off);
  ASSERT_TRUE(driver.click(*general().launchAtLogin));
  ASSERT_TRUE(std::filesystem::exists(entry));
  EXPECT_NE(readFile(entry).find("Exec=/opt/wendrix/bin/wendrix\n"), std::string::npos);
  ASSERT_TRUE(driver.click(*general().launchAtLogin));
  EXPECT_FALSE(std::filesystem::exists(entry));

  const auto changes = eventsNamed("SettingChanged");
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(property<std::string>(changes[0], "SettingsName"), "LaunchAtLogin");
  EXPECT_EQ(property<bool>(changes[0], "SettingsValue"), true);
  EXPECT_EQ(property<bool>(changes[1], "SettingsValue"), false);

  // Turned on outside the program: a new pane shows it on.
  std::filesystem::create_directories(entry.parent_path());
  std::ofstream(entry) << "[Desktop Entry]\nType=Application\nExec=wendrix\n";
  reopen();
  EXPECT_EQ(general().launchAtLogin->state(), ControlState::on);
}

TEST_F(PreferencesTest, AnAutostartEntryThatCannotBeWrittenShowsOffAndSaysSo) {
  std::ofstream(home.path() / "autostart") << "a file where the folder goes";
  ASSERT_TRUE(driver.click(*general().launchAtLogin));
  EXPECT_EQ(general().launchAtLogin->state(), ControlState::off);
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->messageText(), "Wendrix could not be set to start at login.");
  EXPECT_TRUE(eventsNamed("SettingChanged").empty());
}

TEST_F(PreferencesTest, UpdateAndAnalyticsSwitches) {
  EXPECT_EQ(general().checkForUpdates->state(), ControlState::off);
  ASSERT_TRUE(driver.click(*general().checkForUpdates));
  EXPECT_TRUE(updater->automaticallyChecksForUpdates());

  EXPECT_EQ(general().sendAnalytics->state(), ControlState::on);
  ASSERT_TRUE(driver.click(*general().sendAnalytics));
  // Switched off first: its own event reaches a disabled service.
  EXPECT_FALSE(analytics.backend().isEnabled());
  ASSERT_TRUE(driver.click(*general().sendAnalytics));
  EXPECT_TRUE(analytics.backend().isEnabled());

  std::vector<std::string> changes;
  for (const auto& e : eventsNamed("SettingChanged"))
    changes.push_back(*property<std::string>(e, "SettingsName") + "=" +
                      (*property<bool>(e, "SettingsValue") ? "on" : "off"));
  EXPECT_EQ(changes, (std::vector<std::string>{"AutoUpdate=on", "SendAnalytics=on"}));
}

TEST_F(PreferencesTest, TheCloseBehaviourPopUpFollowsTheStoredValue) {
  auto& popUp = *general().closeBehaviorButton;
  // Nothing stored reads as hide.
  EXPECT_EQ(popUp.indexOfSelectedItem(), 2);
  setCloseBehavior(CloseBehavior::minimize);
  EXPECT_EQ(popUp.indexOfSelectedItem(), 3);
  ASSERT_TRUE(driver.choose(popUp, 1));
  EXPECT_EQ(storage->closeBehavior().value(), CloseBehavior::quit);
  EXPECT_EQ(popUp.indexOfSelectedItem(), 1);
  EXPECT_TRUE(eventNames().empty());

  // Items that name no behaviour store nothing and report what they hold.
  popUp.addItem("Odd", std::string("Quit"));
  popUp.addItem("Empty");
  ASSERT_TRUE(driver.choose(popUp, 4));
  ASSERT_TRUE(driver.choose(popUp, 5));
  EXPECT_EQ(storage->closeBehavior().value(), CloseBehavior::quit);
  EXPECT_EQ(sentErrors(analytics),
            (std::vector<SentError>{{"Failed to set close behavior: Quit", std::nullopt},
                                    {"Failed to set close behavior: <nil>", std::nullopt}}));

  // A behaviour without an item leaves no selection.
  popUp.removeAllItems();
  popUp.addItem("Close", std::string("close"));
  setCloseBehavior(CloseBehavior::hide);
  EXPECT_EQ(popUp.indexOfSelectedItem(), -1);
  setCloseBehavior(CloseBehavior::close);
  EXPECT_EQ(popUp.indexOfSelectedItem(), 0);
}

// --- export and import of the layouts -----------------------------------------------------

TEST_F(PreferencesTest, LayoutsGoOutAndComeBackThroughThePanels) {
  ASSERT_TRUE(driver.click(*settings().exportLayoutsButton()));
  ASSERT_TRUE(panel());
  EXPECT_EQ(panel()->options().title, "Export your layouts!");
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::ok, fileURL("layouts.json")));
  EXPECT_NE(readFile(files.path() / "layouts.json").find("\"layouts\""), std::string::npos);

  ASSERT_TRUE(driver.click(*settings().importLayoutsButton()));
  EXPECT_EQ(panel()->options().title, "Import your layouts!");
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::ok, fileURL("layouts.json")));
  EXPECT_EQ(savedNames(), (std::vector<std::string>{"Work", "Work (Imported)"}));

  // Cancelled: the click alone.
  ASSERT_TRUE(driver.click(*settings().exportLayoutsButton()));
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::cancel));
  EXPECT_EQ(eventNames(), (std::vector<std::string>{"Button_Click", "Data_Exported", "Button_Click",
                                                    "Data_Imported", "Button_Click"}));
  EXPECT_EQ(clicks(), (std::vector<std::string>{"ExportLayouts/MainMenu", "ImportLayouts/MainMenu",
                                                "ExportLayouts/MainMenu"}));
}

TEST_F(PreferencesTest, ADamagedLayoutsFileImportsNothingAndSaysSo) {
  writeFile("layouts.json", "{\"layouts\": [{\"name\": \"New\", \"apps\": 3}]}");
  ASSERT_TRUE(driver.click(*settings().importLayoutsButton()));
  ASSERT_TRUE(driver.answerPanel(window(), PanelResponse::ok, fileURL("layouts.json")));
  EXPECT_EQ(savedNames(), std::vector<std::string>{"Work"});
  const auto errors = sentErrors(analytics);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].location, "prefs.import_000");
  EXPECT_EQ(eventNames(), (std::vector<std::string>{"Button_Click", "Error"}));
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->messageText(), "The layouts could not be imported.");
}

TEST_F(PreferencesTest, ALayoutsExportThatCannotBeWrittenSaysSo) {
  ASSERT_TRUE(driver.click(*settings().exportLayoutsButton()));
  ASSERT_TRUE(
      driver.answerPanel(window(), PanelResponse::ok,
                         base::Url::fromFilePath((files.path() / "none" / "l.json").string())));
  ASSERT_EQ(sentErrors(analytics).size(), 1u);
  EXPECT_EQ(sentErrors(analytics)[0].location, "prefs.export_001");
  EXPECT_TRUE(eventsNamed("Data_Exported").empty());
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->messageText(), "The layouts could not be exported.");
}

TEST_F(PreferencesTest, LayoutCommandsWithoutActionsStopAfterTheirClick) {
  factory.reset();
  actions.reset();
  ASSERT_TRUE(driver.click(*settings().exportLayoutsButton()));
  ASSERT_TRUE(driver.click(*settings().importLayoutsButton()));
  EXPECT_EQ(window().attachedSheet(), nullptr);
  EXPECT_EQ(clicks(),
            (std::vector<std::string>{"ExportLayouts/MainMenu", "ImportLayouts/MainMenu"}));
}

}  // namespace
}  // namespace wendrix::testing

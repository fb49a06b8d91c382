#include "analytics/track.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "analytics/restore_statistics.h"
#include "support/scoped_environment.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace wendrix {
namespace {

using tlm::TLMEventProperty;
using Props = std::vector<TLMEventProperty>;
using namespace std::chrono_literals;

TLMEventProperty str(std::string key, std::string value) {
  return {std::move(key), value};
}
TLMEventProperty i64(std::string key, std::int64_t value) {
  return {std::move(key), value};
}
TLMEventProperty dbl(std::string key, double value) {
  return {std::move(key), value};
}
TLMEventProperty boolean(std::string key, bool value) {
  return {std::move(key), value};
}

struct SenderCase {
  const char* label;
  std::function<void()> send;
  const char* name;
  Props properties;
};

TEST(TrackTest, EverySenderSendsItsNameAndPropertiesInOrder) {
  dispatch::VirtualClock clock;
  const auto start = clock.now();
  clock.advance(2500ms);
  const base::Error failure{"Wendrix.DataExportError", 2,
                            "Layout Work of Editor (org.example.edit) failed"};

  const SenderCase cases[] = {
      {"error",
       [&] { Track::error(failure); },
       "Error",
       {str("ErrorDescription", "Layout Work of Editor (org.example.edit) failed")}},
      {"errorWithLocation",
       [&] {
         Track::errorWithLocation(failure, error_location::kMenuRestoreLayout000,
                                  anonymizingReplacementsForLayouts(std::vector<LayoutIdentity>{
                                      {"Work", {{"Editor", "org.example.edit", std::nullopt}}}}));
       },
       "Error",
       {str("ErrorDescription", "Layout LAYOUT_NAME of APP_NAME (APP_BUNDLE_ID) failed"),
        str("ErrorLocation", "menu.restoreLayout_000")}},
      {"layoutSaved",
       [&] { Track::layoutSaved(start, clock); },
       "Layout_Saved",
       {dbl("TimeInSec", 2.5)}},
      {"closedLayoutApps",
       [] { Track::closedLayoutApps(3); },
       "Closed_Apps",
       {i64("NumberOfAppsClosed", 3), str("CloseAppsSource", "CloseLayoutApps")}},
      {"closedOtherApps",
       [] { Track::closedOtherApps(0); },
       "Closed_Apps",
       {i64("NumberOfAppsClosed", 0), str("CloseAppsSource", "CloseOtherApps")}},
      {"closedAppsAutomatically",
       [] { Track::closedAppsAutomatically(7); },
       "Closed_Apps",
       {i64("NumberOfAppsClosed", 7), str("CloseAppsSource", "AutoClose")}},
      {"toggleAutoCloseApps",
       [] { Track::toggleAutoCloseApps(true); },
       "Toggle_Auto_Close_Apps",
       {boolean("SettingsValue", true)}},
      {"buttonClick",
       [] { Track::buttonClick(ButtonName::layoutRestore, ButtonClickSource::menu); },
       "Button_Click",
       {str("ButtonName", "LayoutRestore"), str("ButtonSource", "MainMenu")}},
      {"settingChanged",
       [] { Track::settingChanged(SettingsName::sendAnalytics, false); },
       "SettingChanged",
       {str("SettingsName", "SendAnalytics"), boolean("SettingsValue", false)}},
      {"openEditWindow",
       [] { Track::openEditWindow(EditWindowSource::layoutEditMenuItem); },
       "OpenEditWindow",
       {str("Source", "LayoutEditMenuItem")}},
      {"unsupportedMultipleWindows with type",
       [] { Track::unsupportedMultipleWindows("Xcode", "workspace"); },
       "UnsupportedMultipleWindows",
       {str("AppName", "Xcode"), str("WindowType", "workspace")}},
      {"unsupportedMultipleWindows without type",
       [] { Track::unsupportedMultipleWindows("Xcode"); },
       "UnsupportedMultipleWindows",
       {str("AppName", "Xcode")}},
      {"restored",
       [&] {
         Track::restored(events::kLayoutRestored, RestoreStatistics{4, 1, 2, 1}, start, clock);
       },
       "Layout_Restored",
       {i64("TotalApps", 4), i64("SuccessApps", 1), i64("TimeoutApps", 2), i64("ErrorApps", 1),
        dbl("TimeInSec", 2.5)}},
      {"errorWithLocationAsIs",
       [] {
         Track::errorWithLocationAsIs(base::Error{"d", 1, "/home/bob/x"},
                                      error_location::kUrlhandlerHandleURL000);
       },
       "Error",
       {str("ErrorDescription", "/home/bob/x"), str("ErrorLocation", "urlhandler.handleURL_000")}},
      {"tooManyWindowsRestored",
       [] { Track::tooManyWindowsRestored(1, 3, 2); },
       "Error",
       {i64("Expected", 1), i64("Actual", 3), i64("Opened", 2),
        str("ErrorDescription", "Too many windows restored")}},
      {"menuOpen after a close",
       [] { Track::menuOpen(4.5); },
       "Menu_Open",
       {dbl("TimeClosedInSec", 4.5)}},
      {"menuOpen the first time", [] { Track::menuOpen(std::nullopt); }, "Menu_Open", {}},
      {"menuClose", [] { Track::menuClose(0.5); }, "Menu_Close", {dbl("TimeOpenInSec", 0.5)}},
      {"newFeatureHighlight",
       [] { Track::newFeatureHighlight(); },
       "NewFeatureHighlight",
       {str("FeatureName", "EditLayoutsWindow")}},
      {"urlHandled", [] { Track::urlHandled("save"); }, "URL_Handled", {str("Source", "save")}},
  };

  for (const auto& c : cases) {
    tlm::ScopedRecordingAnalytics recording;
    c.send();
    const auto events = recording.events();
    ASSERT_EQ(events.size(), 1u) << c.label;
    EXPECT_EQ(events[0].name, c.name) << c.label;
    EXPECT_TRUE(events[0].withProperties) << c.label;
    EXPECT_EQ(events[0].properties, c.properties) << c.label;
  }
}

TEST(TrackTest, SomeEventsLeaveWithoutProperties) {
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[] { Track::restoredWithAddon(); }, "Restored_With_Addon"},
      {[] { Track::dataExported(); }, "Data_Exported"},
      {[] { Track::dataImported(); }, "Data_Imported"},
  };
  for (const auto& [send, name] : cases) {
    tlm::ScopedRecordingAnalytics recording;
    send();
    const auto events = recording.events();
    ASSERT_EQ(events.size(), 1u) << name;
    EXPECT_EQ(events[0].name, name);
    EXPECT_FALSE(events[0].withProperties) << name;
  }
}

TEST(TrackTest, ErrorTextsLeaveWithoutHomeFoldersOrUserNames) {
  support::ScopedEnvironment env({{"HOME", "/srv/users/alice"}});
  const base::Error written{"base.file", 28,
                            "cannot write \"/srv/users/alice/.config/app.Wendrix/.d.tmp-1-0\" "
                            "(copy of /home/bob/x): No space left on device"};
  const char* expected =
      "cannot write \"/home/USER/.config/app.Wendrix/.d.tmp-1-0\" (copy of /home/USER/x): No "
      "space left on device";
  tlm::ScopedRecordingAnalytics recording;
  Track::error(written);
  Track::errorWithLocation(written, error_location::kStorageEncodeValue000);
  const auto events = recording.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].properties, (Props{str("ErrorDescription", expected)}));
  EXPECT_EQ(events[1].properties, (Props{str("ErrorDescription", expected),
                                         str("ErrorLocation", "storage.encodeValue_000")}));
}

TEST(TrackTest, SendersAreSilentWithoutAStartedService) {
  ASSERT_EQ(tlm::TLMAnalytics::setBackend(nullptr), nullptr);
  Track::buttonClick(ButtonName::quit, ButtonClickSource::other);
  Track::error(base::Error{"d", 1, "x"});
  tlm::ScopedRecordingAnalytics recording;
  EXPECT_TRUE(recording.events().empty());
}

}  // namespace
}  // namespace wendrix

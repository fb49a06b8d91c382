#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "analytics/anonymizing.h"
#include "analytics/restore_statistics.h"
#include "analytics/vocabulary.h"
#include "base/error.h"
#include "dispatch/clock.h"

namespace wendrix {

// The usage-event senders. Each builds a fresh property map and hands the
// event to the analytics service, which drops it while analytics is off or not
// started. Sending never fails towards the caller. Error descriptions leave
// with home folders and user names replaced (base::anonymizeHomePaths).
class Track {
 public:
  Track() = delete;

  // "Error" with the description.
  static void error(const base::Error& error);
  // "Error" with the description anonymized by `replacements`, then the location.
  static void errorWithLocation(const base::Error& error, std::string_view location,
                                const AnonymizingReplacements& replacements = {});
  // "Error" with the description exactly as given (for fixed texts that name
  // no user data), then the location.
  static void errorWithLocationAsIs(const base::Error& error, std::string_view location);
  // "Error" for a restore that left more windows than wanted after opening
  // some: Expected, Actual, Opened, then the description.
  static void tooManyWindowsRestored(std::int64_t expected, std::int64_t actual,
                                     std::int64_t opened);

  // "Layout_Saved" with the seconds from `start` to now.
  static void layoutSaved(dispatch::WallTime start,
                          const dispatch::Clock& clock = dispatch::SystemClock::instance());

  // `event` ("Layout_Restored" or "App_Restored") with the statistics and the
  // seconds from `start` to now.
  static void restored(std::string_view event, const RestoreStatistics& statistics,
                       dispatch::WallTime start, const dispatch::Clock& clock);
  // "Restored_With_Addon", without properties.
  static void restoredWithAddon();

  // "Menu_Open" with the seconds the menu was closed, when known.
  static void menuOpen(std::optional<double> secondsClosed);
  // "Menu_Close" with the seconds the menu was open, when known.
  static void menuClose(std::optional<double> secondsOpen);
  // "NewFeatureHighlight" for the customization window.
  static void newFeatureHighlight();
  // "URL_Handled" with the command's source.
  static void urlHandled(std::string_view source);
  // "Data_Exported" and "Data_Imported", without properties.
  static void dataExported();
  static void dataImported();

  static void closedLayoutApps(std::int64_t count);
  static void closedOtherApps(std::int64_t count);
  static void closedAppsAutomatically(std::int64_t count);

  static void toggleAutoCloseApps(bool value);
  static void buttonClick(ButtonName name, ButtonClickSource source);
  static void settingChanged(SettingsName name, bool value);
  static void openEditWindow(EditWindowSource source);
  // WindowType is sent only when a window type is given.
  static void unsupportedMultipleWindows(std::string_view appName,
                                         std::optional<std::string_view> windowType = std::nullopt);

 private:
  // The one place "Error" events leave.
  static void sendError(std::string_view description, std::optional<std::string_view> location);
  static void closedApps(std::int64_t count, std::string_view source);
};

}  // namespace wendrix

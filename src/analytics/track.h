#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "analytics/anonymizing.h"
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

  // "Layout_Saved" with the seconds from `start` to now.
  static void layoutSaved(dispatch::WallTime start,
                          const dispatch::Clock& clock = dispatch::SystemClock::instance());

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

#include "analytics/track.h"

#include <chrono>

#include "base/home_paths.h"
#include "platform/paths/paths.h"
#include "telemetry/analytics/analytics.h"

namespace wendrix {

using tlm::TLMAnalytics;
using tlm::TLMEventProperties;

namespace {

// `description` without the user's home folder, login name or any user name.
std::string anonymized(std::string_view description) {
  const auto home = platform::paths::knownHomeDirectory();
  const auto login = platform::paths::loginName();
  return base::anonymizeHomePaths(
      description, home ? std::optional<std::string_view>(home->native()) : std::nullopt,
      login ? std::optional<std::string_view>(*login) : std::nullopt);
}

}  // namespace

void Track::error(const base::Error& error) {
  sendError(error.description, std::nullopt);
}

void Track::errorWithLocation(const base::Error& error, std::string_view location,
                              const AnonymizingReplacements& replacements) {
  sendError(anonymize(error.description, replacements), location);
}

void Track::errorWithLocationAsIs(const base::Error& error, std::string_view location) {
  TLMEventProperties properties;
  properties.setString(keys::kErrorDescription, error.description);
  properties.setString(keys::kErrorLocation, location);
  TLMAnalytics::trackEvent(events::kError, properties);
}

void Track::tooManyWindowsRestored(std::int64_t expected, std::int64_t actual,
                                   std::int64_t opened) {
  TLMEventProperties properties;
  properties.setInt64(keys::kExpected, expected)
      .setInt64(keys::kActual, actual)
      .setInt64(keys::kOpened, opened)
      .setString(keys::kErrorDescription, values::kTooManyWindowsRestored);
  TLMAnalytics::trackEvent(events::kError, properties);
}

void Track::sendError(std::string_view description, std::optional<std::string_view> location) {
  TLMEventProperties properties;
  properties.setString(keys::kErrorDescription, anonymized(description));
  if (location) properties.setString(keys::kErrorLocation, *location);
  TLMAnalytics::trackEvent(events::kError, properties);
}

void Track::layoutSaved(dispatch::WallTime start, const dispatch::Clock& clock) {
  const std::chrono::duration<double> elapsed = clock.now() - start;
  TLMEventProperties properties;
  properties.setDouble(keys::kTimeInSec, elapsed.count());
  TLMAnalytics::trackEvent(events::kLayoutSaved, properties);
}

void Track::restored(std::string_view event, const RestoreStatistics& statistics,
                     dispatch::WallTime start, const dispatch::Clock& clock) {
  const std::chrono::duration<double> elapsed = clock.now() - start;
  TLMEventProperties properties = statistics.eventProperties();
  properties.setDouble(keys::kTimeInSec, elapsed.count());
  TLMAnalytics::trackEvent(event, properties);
}

void Track::restoredWithAddon() {
  TLMAnalytics::trackEvent(events::kRestoredWithAddon);
}

void Track::menuOpen(std::optional<double> secondsClosed) {
  TLMEventProperties properties;
  if (secondsClosed) properties.setDouble(keys::kTimeClosedInSec, *secondsClosed);
  TLMAnalytics::trackEvent(events::kMenuOpen, properties);
}

void Track::menuClose(std::optional<double> secondsOpen) {
  TLMEventProperties properties;
  if (secondsOpen) properties.setDouble(keys::kTimeOpenInSec, *secondsOpen);
  TLMAnalytics::trackEvent(events::kMenuClose, properties);
}

void Track::newFeatureHighlight() {
  TLMEventProperties properties;
  properties.setString(keys::kFeatureName, values::kEditLayoutsWindow);
  TLMAnalytics::trackEvent(events::kNewFeatureHighlight, properties);
}

void Track::urlHandled(std::string_view source) {
  TLMEventProperties properties;
  properties.setString(keys::kSource, source);
  TLMAnalytics::trackEvent(events::kURLHandled, properties);
}

void Track::dataExported() {
  TLMAnalytics::trackEvent(events::kDataExported);
}

void Track::dataImported() {
  TLMAnalytics::trackEvent(events::kDataImported);
}

void Track::closedLayoutApps(std::int64_t count) {
  closedApps(count, values::kCloseLayoutApps);
}

void Track::closedOtherApps(std::int64_t count) {
  closedApps(count, values::kCloseOtherApps);
}

void Track::closedAppsAutomatically(std::int64_t count) {
  closedApps(count, values::kAutoClose);
}

void Track::closedApps(std::int64_t count, std::string_view source) {
  TLMEventProperties properties;
  properties.setInt64(keys::kNumberOfAppsClosed, count).setString(keys::kCloseAppsSource, source);
  TLMAnalytics::trackEvent(events::kClosedApps, properties);
}

void Track::toggleAutoCloseApps(bool value) {
  TLMEventProperties properties;
  properties.setBool(keys::kSettingsValue, value);
  TLMAnalytics::trackEvent(events::kToggleAutoCloseApps, properties);
}

void Track::buttonClick(ButtonName name, ButtonClickSource source) {
  TLMEventProperties properties;
  properties.setString(keys::kButtonName, text(name)).setString(keys::kButtonSource, text(source));
  TLMAnalytics::trackEvent(events::kButtonClick, properties);
}

void Track::settingChanged(SettingsName name, bool value) {
  TLMEventProperties properties;
  properties.setString(keys::kSettingsName, text(name)).setBool(keys::kSettingsValue, value);
  TLMAnalytics::trackEvent(events::kSettingChanged, properties);
}

void Track::openEditWindow(EditWindowSource source) {
  TLMEventProperties properties;
  properties.setString(keys::kSource, text(source));
  TLMAnalytics::trackEvent(events::kOpenEditWindow, properties);
}

void Track::unsupportedMultipleWindows(std::string_view appName,
                                       std::optional<std::string_view> windowType) {
  TLMEventProperties properties;
  properties.setString(keys::kAppName, appName);
  if (windowType) properties.setString(keys::kWindowType, *windowType);
  TLMAnalytics::trackEvent(events::kUnsupportedMultipleWindows, properties);
}

}  // namespace wendrix

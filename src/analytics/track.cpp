#include "analytics/track.h"

#include <chrono>

#include "base/home_paths.h"
#include "telemetry/analytics/analytics.h"

namespace wendrix {

using tlm::TLMAnalytics;
using tlm::TLMEventProperties;

void Track::error(const base::Error& error) {
  sendError(error.description, std::nullopt);
}

void Track::errorWithLocation(const base::Error& error, std::string_view location,
                              const AnonymizingReplacements& replacements) {
  sendError(anonymize(error.description, replacements), location);
}

void Track::sendError(std::string_view description, std::optional<std::string_view> location) {
  TLMEventProperties properties;
  properties.setString(keys::kErrorDescription, base::anonymizeHomePaths(description));
  if (location) properties.setString(keys::kErrorLocation, *location);
  TLMAnalytics::trackEvent(events::kError, properties);
}

void Track::layoutSaved(dispatch::WallTime start, const dispatch::Clock& clock) {
  const std::chrono::duration<double> elapsed = clock.now() - start;
  TLMEventProperties properties;
  properties.setDouble(keys::kTimeInSec, elapsed.count());
  TLMAnalytics::trackEvent(events::kLayoutSaved, properties);
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

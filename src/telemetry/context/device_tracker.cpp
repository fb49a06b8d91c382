#include "telemetry/context/device_tracker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/shared_slot.h"
#include "platform/bundle/app_identity.h"
#include "telemetry/core/logger.h"
#include "telemetry/util/utility.h"

namespace tlm {
namespace {

constexpr std::string_view kUnknown = "Unknown";

// State shared by all trackers, and the lock that guards it together with
// every tracker's record and history.
struct SharedState {
  std::mutex mutex;
  std::optional<TLMWrapperSdk> wrapperSdk;
  std::optional<std::string> countryCode;
  bool upToDate = false;
};

SharedState& state() {
  static SharedState s;
  return s;
}

// The shared tracker, under its own lock: making it takes the state lock.
base::SharedSlot<TLMDeviceTracker>& deviceTrackerSlot() {
  static base::SharedSlot<TLMDeviceTracker> slot;
  return slot;
}

// The probe the shared tracker is made with; guarded by its mutex.
struct SharedProbe {
  std::mutex mutex;
  std::shared_ptr<const platform::DeviceProbe> probe;
};
SharedProbe& sharedProbe() {
  static SharedProbe shared;
  return shared;
}

bool earlier(const std::shared_ptr<TLMDeviceHistoryInfo>& entry, Date time) {
  return *entry->timestamp < time;
}

}  // namespace

TLMApplicationInfo TLMApplicationInfo::mainBundle() {
  const auto identity = platform::AppIdentity::current();
  return {identity.shortVersion, identity.bundleVersion, identity.bundleIdentifier};
}

TLMDeviceTracker::TLMDeviceTracker(std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                                   std::shared_ptr<const platform::DeviceProbe> probe,
                                   const dispatch::Clock& clock, TLMApplicationInfo application)
    : settings_(std::move(settings)),
      probe_(std::move(probe)),
      clock_(clock),
      application_(std::move(application)) {
  std::lock_guard lock(state().mutex);
  for (auto& entry : context_detail::loadHistory<TLMDeviceHistoryInfo>(*settings_, kPastDevicesKey))
    if (entry->device) deviceHistory_.push_back(std::move(entry));
  // Look-ups search by timestamp; a stored history is kept sorted, but one
  // edited by hand must not break the search.
  std::stable_sort(deviceHistory_.begin(), deviceHistory_.end(),
                   [](const auto& a, const auto& b) { return *a->timestamp < *b->timestamp; });
  deviceLocked();
}

std::shared_ptr<TLMDeviceTracker> TLMDeviceTracker::sharedInstance() {
  return deviceTrackerSlot().getOrMake([] {
    std::shared_ptr<const platform::DeviceProbe> probe;
    {
      SharedProbe& shared = sharedProbe();
      std::lock_guard lock(shared.mutex);
      probe = shared.probe;
    }
    if (!probe) probe = std::make_shared<platform::NoDeviceProbe>();
    return std::make_shared<TLMDeviceTracker>(TLMDarAvevedUserDefaults::shared(), std::move(probe),
                                              dispatch::SystemClock::instance());
  });
}

void TLMDeviceTracker::configureShared(std::shared_ptr<const platform::DeviceProbe> probe) {
  {
    SharedProbe& shared = sharedProbe();
    std::lock_guard lock(shared.mutex);
    shared.probe = std::move(probe);
  }
  deviceTrackerSlot().exchange(nullptr);
}

void TLMDeviceTracker::setSharedForTesting(std::shared_ptr<TLMDeviceTracker> tracker) {
  if (!tracker) {
    SharedProbe& shared = sharedProbe();
    std::lock_guard lock(shared.mutex);
    shared.probe.reset();
  }
  deviceTrackerSlot().exchange(std::move(tracker));
  std::lock_guard stateLock(state().mutex);
  state().wrapperSdk.reset();
  state().countryCode.reset();
  state().upToDate = false;
}

void TLMDeviceTracker::refreshDeviceNextTime() {
  std::lock_guard lock(state().mutex);
  state().upToDate = false;
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::device() {
  std::lock_guard lock(state().mutex);
  return std::make_shared<TLMDevice>(*deviceLocked());
}

std::shared_ptr<const TLMDevice> TLMDeviceTracker::deviceLocked() {
  if (device_ && state().upToDate) return device_;
  device_ = updatedDeviceLocked();
  state().upToDate = true;

  auto entry = std::make_shared<TLMDeviceHistoryInfo>(clock_.now(), device_);
  // After every entry of the same time, so the newest rebuild is the newest entry.
  const auto at =
      std::upper_bound(deviceHistory_.begin(), deviceHistory_.end(), *entry->timestamp,
                       [](Date time, const auto& other) { return time < *other->timestamp; });
  deviceHistory_.insert(at, std::move(entry));
  if (deviceHistory_.size() > kMaxDevicesHistoryCount) deviceHistory_.erase(deviceHistory_.begin());
  storeHistoryLocked();
  return device_;
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::deviceForTimestamp(std::optional<Date> timestamp) {
  std::lock_guard lock(state().mutex);
  if (!timestamp || deviceHistory_.empty()) return std::make_shared<TLMDevice>(*deviceLocked());
  const auto first =
      std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), *timestamp, earlier);
  const auto& entry = first == deviceHistory_.begin() ? *first : *std::prev(first);
  return std::make_shared<TLMDevice>(*entry->device);
}

void TLMDeviceTracker::clearDevices() {
  std::lock_guard lock(state().mutex);
  if (deviceHistory_.size() > 1)
    deviceHistory_.erase(deviceHistory_.begin(), deviceHistory_.end() - 1);
  storeHistoryLocked();
}

void TLMDeviceTracker::setWrapperSdk(std::optional<TLMWrapperSdk> wrapperSdk) {
  std::lock_guard lock(state().mutex);
  state().wrapperSdk = std::move(wrapperSdk);
  state().upToDate = false;
  if (!deviceHistory_.empty()) deviceHistory_.pop_back();
  deviceLocked();
}

std::optional<TLMWrapperSdk> TLMDeviceTracker::wrapperSdk() const {
  std::lock_guard lock(state().mutex);
  return state().wrapperSdk;
}

void TLMDeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
  std::lock_guard lock(state().mutex);
  state().countryCode = std::move(countryCode);
  state().upToDate = false;
}

std::optional<std::string> TLMDeviceTracker::countryCode() const {
  std::lock_guard lock(state().mutex);
  return state().countryCode;
}

std::vector<TLMDeviceHistoryInfo> TLMDeviceTracker::deviceHistory() const {
  std::lock_guard lock(state().mutex);
  std::vector<TLMDeviceHistoryInfo> out;
  out.reserve(deviceHistory_.size());
  for (const auto& entry : deviceHistory_)
    out.push_back(*entry);
  return out;
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::updatedDeviceLocked() const {
  auto device = std::make_shared<TLMDevice>();
  device->sdkName = std::string(TLMUtility::sdkName());
  device->sdkVersion = std::string(TLMUtility::sdkVersion());
  device->model = probe_->model().value_or(std::string(kUnknown));
  device->oemName = probe_->manufacturer().value_or(std::string(kUnknown));
  device->osName = probe_->osName().value_or("Linux");
  const auto release = probe_->osRelease();
  if (release) {
    // A release that does not start with a version number is reported as it is.
    device->osVersion = context_detail::versionTripleOf(*release).value_or(*release);
  }
  device->osBuild = release.value_or(std::string(kUnknown));
  device->locale =
      context_detail::deviceLocale(probe_->preferredLanguage(), probe_->currentLocale());
  // Whole minutes, truncated toward zero.
  device->timeZoneOffset = probe_->utcOffsetSeconds(clock_.now()) / 60;
  const auto screen = probe_->mainScreenSize().value_or(platform::ScreenSize{});
  device->screenSize = std::to_string(screen.width) + "x" + std::to_string(screen.height);
  device->appVersion = application_.appVersion;
  device->carrierCountry = state().countryCode;
  device->carrierName = std::nullopt;
  device->appBuild = application_.appBuild;
  device->appNamespace = application_.appNamespace;
  if (const auto& wrapper = state().wrapperSdk) {
    device->wrapperSdkVersion = wrapper->wrapperSdkVersion;
    device->wrapperSdkName = wrapper->wrapperSdkName;
    device->wrapperRuntimeVersion = wrapper->wrapperRuntimeVersion;
    device->liveUpdateReleaseLabel = wrapper->liveUpdateReleaseLabel;
    device->liveUpdateDeploymentKey = wrapper->liveUpdateDeploymentKey;
    device->liveUpdatePackageHash = wrapper->liveUpdatePackageHash;
  }
  return device;
}

void TLMDeviceTracker::storeHistoryLocked() {
  context_detail::storeHistory(*settings_, kPastDevicesKey, deviceHistory_);
}

namespace context_detail {

std::optional<std::string> versionTripleOf(std::string_view release) {
  long parts[3] = {0, 0, 0};
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (at >= release.size() || !std::isdigit(static_cast<unsigned char>(release[at]))) {
      if (i == 0) return std::nullopt;
      break;
    }
    long value = 0;
    while (at < release.size() && std::isdigit(static_cast<unsigned char>(release[at]))) {
      // Saturate rather than overflow on absurd input.
      value = std::min(value * 10 + (release[at] - '0'), 999999999L);
      ++at;
    }
    parts[i] = value;
    if (at >= release.size() || release[at] != '.') break;
    ++at;
  }
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::string deviceLocale(const std::optional<std::string>& preferredLanguage,
                         const std::optional<std::string>& currentLocale) {
  const auto preferred =
      preferredLanguage ? platform::parseLocaleName(*preferredLanguage) : std::nullopt;
  if (!preferred) return "en_US";
  std::string text = preferred->language;
  if (!preferred->script.empty()) text += "-" + preferred->script;
  std::string country = preferred->country;
  if (country.empty() && currentLocale) {
    if (const auto current = platform::parseLocaleName(*currentLocale)) country = current->country;
  }
  if (!country.empty()) text += "_" + country;
  return text;
}

}  // namespace context_detail

}  // namespace tlm

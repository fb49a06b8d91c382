#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/clock.h"
#include "platform/device/device_probe.h"
#include "telemetry/context/history_info.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/model/device.h"

namespace tlm {

// What the device record says about the application.
struct TLMApplicationInfo {
  std::optional<std::string> appVersion;
  std::optional<std::string> appBuild;
  std::optional<std::string> appNamespace;

  // The program's own version, build number and bundle identifier, from the
  // installed platform::AppIdentity.
  static TLMApplicationInfo mainBundle();
};

// Builds and caches the device record every log carries, and keeps the
// records of recent runs (at most 5, oldest first, stored under
// "PastDevices") so a log about an earlier moment gets the device of then.
//
// Wrapper SDK, country code and the up-to-date flag are shared by all
// trackers, as is the lock that guards them together with every tracker's
// record and history. Thread-safe.
class TLMDeviceTracker {
 public:
  static constexpr std::string_view kPastDevicesKey = "PastDevices";
  static constexpr std::size_t kMaxDevicesHistoryCount = 5;

  // Loads the stored history, then builds the record once, so each run adds
  // one history entry.
  TLMDeviceTracker(std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                   std::shared_ptr<const platform::DeviceProbe> probe, const dispatch::Clock& clock,
                   TLMApplicationInfo application = TLMApplicationInfo::mainBundle());

  // The process's tracker over the shared settings store, the system clock
  // and the probe given to `configureShared` (platform::NoDeviceProbe when
  // none was), made on first use.
  static std::shared_ptr<TLMDeviceTracker> sharedInstance();
  // The probe the shared tracker reads (the program's real one); forgets a
  // tracker made before. Before the SDK starts.
  static void configureShared(std::shared_ptr<const platform::DeviceProbe> probe);
  // Makes `tracker` the shared one (none: made again on next use, and the
  // configured probe is forgotten) and clears wrapper SDK, country code and
  // the up-to-date flag.
  static void setSharedForTesting(std::shared_ptr<TLMDeviceTracker> tracker = nullptr);
  // The next `device` call builds the record again.
  static void refreshDeviceNextTime();

  // The current record, rebuilt when it is not up to date; each rebuild adds
  // a history entry stamped now. The caller gets its own copy.
  std::shared_ptr<TLMDevice> device();
  // The record current at `timestamp`: the newest entry stamped strictly
  // before it, the oldest entry for earlier times; the current record for
  // none or an empty history.
  std::shared_ptr<TLMDevice> deviceForTimestamp(std::optional<Date> timestamp);
  // Keeps only the newest history entry, and stores the history.
  void clearDevices();

  // Replaces the newest history entry with one carrying the wrapper SDK.
  void setWrapperSdk(std::optional<TLMWrapperSdk> wrapperSdk);
  std::optional<TLMWrapperSdk> wrapperSdk() const;
  // Enters the record at its next rebuild.
  void setCountryCode(std::optional<std::string> countryCode);
  std::optional<std::string> countryCode() const;

  // A copy of the history, oldest first.
  std::vector<TLMDeviceHistoryInfo> deviceHistory() const;

 private:
  std::shared_ptr<const TLMDevice> deviceLocked();
  std::shared_ptr<TLMDevice> updatedDeviceLocked() const;
  std::string localeText() const;
  void storeHistoryLocked();

  std::shared_ptr<TLMDarAvevedUserDefaults> settings_;
  std::shared_ptr<const platform::DeviceProbe> probe_;
  const dispatch::Clock& clock_;
  TLMApplicationInfo application_;

  std::shared_ptr<const TLMDevice> device_;
  std::vector<std::shared_ptr<TLMDeviceHistoryInfo>> deviceHistory_;
};

namespace context_detail {

// "major.minor.patch" from the leading numbers of a kernel release
// ("6.1.0-18-amd64" -> "6.1.0", "5.15" -> "5.15.0"); none when it does not
// start with a number.
std::optional<std::string> versionTripleOf(std::string_view release);

// The device record's locale: "ll[-Script]_CC" from the preferred language,
// its country else the current locale's; the language alone when neither has
// a country, and "en_US" without a usable language (unset, "C", "POSIX").
std::string deviceLocale(const std::optional<std::string>& preferredLanguage,
                         const std::optional<std::string>& currentLocale);

}  // namespace context_detail

}  // namespace tlm

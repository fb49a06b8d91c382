#include "telemetry/context/device_tracker.h"

#include <gtest/gtest.h>

#include "context_fixture.h"
#include "platform/device/fake/fake_device_probe.h"
#include "platform/device/linux/linux_device_probe.h"
#include "support/scoped_app_identity.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::ContextStore;

class DeviceTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override { TLMDeviceTracker::setSharedForTesting(); }
  void TearDown() override { TLMDeviceTracker::setSharedForTesting(); }

  std::unique_ptr<TLMDeviceTracker> makeTracker() {
    return std::make_unique<TLMDeviceTracker>(store.settings, probe, store.clock,
                                              TLMApplicationInfo{"1.2.3", "42", "app.Wendrix"});
  }

  // Rebuilds the record at `seconds` with the model `model`.
  void rebuildAt(TLMDeviceTracker& tracker, int seconds, std::string model) {
    store.setTime(seconds);
    probe->modelValue = std::move(model);
    TLMDeviceTracker::refreshDeviceNextTime();
    tracker.device();
  }

  static std::vector<std::string> models(const std::vector<TLMDeviceHistoryInfo>& history) {
    std::vector<std::string> out;
    for (const auto& entry : history)
      out.push_back(entry.device->model.value_or("-"));
    return out;
  }

  ContextStore store;
  std::shared_ptr<platform::FakeDeviceProbe> probe = std::make_shared<platform::FakeDeviceProbe>();
};

TEST_F(DeviceTrackerTest, BuildsTheRecordFromTheProbeAndTheApplication) {
  probe->utcOffsetSecondsValue = 19800;  // +05:30
  const auto device = makeTracker()->device();
  EXPECT_EQ(device->serializeToDictionary().dump(),
            R"({"sdkName":"daraveved.linux","sdkVersion":"4.1.0","model":"Fake Model 1",)"
            R"("oemName":"Fake Maker","osName":"Linux","osVersion":"6.1.0",)"
            R"("osBuild":"6.1.0-18-amd64","locale":"en_US","timeZoneOffset":330,)"
            R"("screenSize":"1920x1080","appVersion":"1.2.3","appBuild":"42",)"
            R"("appNamespace":"app.Wendrix"})");
  EXPECT_TRUE(device->isValid());
}

TEST_F(DeviceTrackerTest, UnreadableFactsGiveFallbacksAndAValidRecord) {
  *probe = platform::FakeDeviceProbe{};
  probe->modelValue = probe->manufacturerValue = probe->osNameValue = std::nullopt;
  probe->osReleaseValue = probe->preferredLanguageValue = probe->currentLocaleValue = std::nullopt;
  probe->screenSizeValue = std::nullopt;
  probe->utcOffsetSecondsValue = -1799;  // just under half an hour west: truncated, not floored
  const auto device = makeTracker()->device();
  EXPECT_EQ(device->model, "Unknown");
  EXPECT_EQ(device->oemName, "Unknown");
  EXPECT_EQ(device->osName, "Linux");
  EXPECT_EQ(device->osBuild, "Unknown");
  EXPECT_EQ(device->locale, "en_US");
  EXPECT_EQ(device->screenSize, "0x0");
  EXPECT_EQ(device->timeZoneOffset, -29);
}

TEST_F(DeviceTrackerTest, LocaleFromPreferredLanguageWithCountryFallback) {
  struct Case {
    std::optional<std::string> preferred, current;
    std::string expected;
  };
  const Case cases[] = {
      {"en_US.UTF-8", "en_US.UTF-8", "en_US"},
      {"sr_RS@latin", std::nullopt, "sr-Latn_RS"},
      {"zh-Hans_CN", std::nullopt, "zh-Hans_CN"},
      {"es_419.UTF-8", std::nullopt, "es_419"},
      {"de", "de_AT.ISO-8859-1", "de_AT"},  // country from the locale in effect
      {"DE", "fr_ch", "de_CH"},
      {"de", "C.UTF-8", "de"},  // no country anywhere: the language alone
      {"de", std::nullopt, "de"},
      {"C", "C", "en_US"},
      {"POSIX", "de_DE", "en_US"},
      {std::nullopt, std::nullopt, "en_US"},
      {"x", "de_DE", "en_US"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(context_detail::deviceLocale(c.preferred, c.current), c.expected)
        << c.preferred.value_or("(none)") << " / " << c.current.value_or("(none)");
  }
}

TEST_F(DeviceTrackerTest, OsVersionIsTheKernelReleaseAsThreeNumbers) {
  struct Case {
    std::string release;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"6.1.0-18-amd64", "6.1.0"}, {"5.15", "5.15.0"}, {"4.19.260+", "4.19.260"}, {"6", "6.0.0"},
      {"rolling", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(context_detail::versionTripleOf(c.release), c.expected) << c.release;

  probe->osReleaseValue = "rolling";
  EXPECT_EQ(makeTracker()->device()->osVersion, "rolling");
}

TEST_F(DeviceTrackerTest, EachRebuildAddsAnEntryAndTheSixthDropsTheOldest) {
  auto tracker = makeTracker();
  tracker->device();  // up to date: no new entry
  for (int i = 1; i <= 5; ++i)
    rebuildAt(*tracker, i * 10, "M" + std::to_string(i));

  EXPECT_EQ(models(tracker->deviceHistory()),
            (std::vector<std::string>{"M1", "M2", "M3", "M4", "M5"}));
  // The stored archive holds the same five; a restart adds one and drops one.
  store.setTime(100);
  probe->modelValue = "M6";
  auto restarted = makeTracker();
  const auto history = restarted->deviceHistory();
  EXPECT_EQ(models(history), (std::vector<std::string>{"M2", "M3", "M4", "M5", "M6"}));
  EXPECT_EQ(history.front().timestamp, store.at(20));
  EXPECT_EQ(history.back().timestamp, store.at(100));
}

TEST_F(DeviceTrackerTest, DeviceForTimestampAnswersFromThePreviousRunAfterARestart) {
  store.setTime(100);
  probe->modelValue = "A";
  auto firstRun = makeTracker();
  rebuildAt(*firstRun, 200, "B");
  firstRun.reset();

  store.setTime(300);
  probe->modelValue = "C";
  auto tracker = makeTracker();

  struct Case {
    std::optional<int> seconds;
    std::string model;
  };
  const Case cases[] = {
      {50, "A"},               // earlier than every entry: the oldest
      {100, "A"},              // equal to the first entry: the first
      {150, "A"}, {200, "A"},  // equal to an entry: the entry before it
      {250, "B"}, {300, "B"},
      {301, "C"}, {std::nullopt, "C"},  // later, or no time: the newest / current
  };
  for (const auto& c : cases) {
    const auto time = c.seconds ? std::optional(store.at(*c.seconds)) : std::nullopt;
    EXPECT_EQ(tracker->deviceForTimestamp(time)->model, c.model)
        << (c.seconds ? std::to_string(*c.seconds) : "none");
  }
}

TEST_F(DeviceTrackerTest, CountryCodeEntersTheRecordAtTheNextDeviceCall) {
  auto tracker = makeTracker();
  store.setTime(10);
  tracker->setCountryCode("NZ");
  EXPECT_EQ(tracker->deviceHistory().size(), 1u);
  EXPECT_EQ(tracker->countryCode(), "NZ");

  EXPECT_EQ(tracker->device()->carrierCountry, "NZ");
  const auto history = tracker->deviceHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history.back().timestamp, store.at(10));
  EXPECT_EQ(history.back().device->carrierCountry, "NZ");
  EXPECT_FALSE(history.front().device->carrierCountry);
}

TEST_F(DeviceTrackerTest, WrapperSdkReplacesTheNewestEntry) {
  auto tracker = makeTracker();
  rebuildAt(*tracker, 10, "M1");
  store.setTime(20);
  tracker->setWrapperSdk(
      TLMWrapperSdk("2.0", "daraveved.wrapper", "17", std::nullopt, std::nullopt, std::nullopt));

  const auto history = tracker->deviceHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_FALSE(history.front().device->wrapperSdkName);
  EXPECT_EQ(history.back().timestamp, store.at(20));
  EXPECT_EQ(history.back().device->wrapperSdkName, "daraveved.wrapper");
  const auto json = tracker->device()->serializeToDictionary();
  EXPECT_EQ(json.begin().key(), "wrapperSdkVersion");
  EXPECT_EQ(json["wrapperRuntimeVersion"], "17");
  ASSERT_TRUE(tracker->wrapperSdk());
  EXPECT_EQ(tracker->wrapperSdk()->wrapperSdkVersion, "2.0");
}

TEST_F(DeviceTrackerTest, ClearDevicesKeepsTheNewestEntryAndStoresIt) {
  auto tracker = makeTracker();
  rebuildAt(*tracker, 10, "M1");
  rebuildAt(*tracker, 20, "M2");
  tracker->clearDevices();
  EXPECT_EQ(models(tracker->deviceHistory()), std::vector<std::string>{"M2"});

  store.setTime(30);
  probe->modelValue = "M3";
  EXPECT_EQ(models(makeTracker()->deviceHistory()), (std::vector<std::string>{"M2", "M3"}));
}

TEST_F(DeviceTrackerTest, UndecodableStoredHistoryStartsEmpty) {
  const coding::Value stored[] = {base::Bytes{0x01, 0x02, 0x03}, coding::Value("not an archive")};
  for (const auto& value : stored) {
    store.settings->setObject(value, TLMDeviceTracker::kPastDevicesKey);
    testing::LogCapture logs;
    auto tracker = makeTracker();
    EXPECT_EQ(tracker->deviceHistory().size(), 1u);
    ASSERT_FALSE(logs.lines().empty());
    EXPECT_EQ(logs.lines().front().level, TLMLogLevel::Error);
    EXPECT_TRUE(logs.messages().front().starts_with("Unarchiving NSData failed with error: "));
  }
}

TEST_F(DeviceTrackerTest, ResetSharedInstanceClearsSharedState) {
  const support::ScopedAppIdentity identity;
  platform::UserDefaults::setSharedForTesting(std::make_shared<platform::MemoryUserDefaults>());
  TLMDarAvevedUserDefaults::setSharedForTesting();

  TLMDeviceTracker::configureShared(std::make_shared<platform::LinuxDeviceProbe>());
  auto shared = TLMDeviceTracker::sharedInstance();
  EXPECT_EQ(TLMDeviceTracker::sharedInstance(), shared);
  shared->setCountryCode("DE");
  shared->setWrapperSdk(
      TLMWrapperSdk("1", "w", std::nullopt, std::nullopt, std::nullopt, std::nullopt));
  EXPECT_EQ(shared->device()->carrierCountry, "DE");

  TLMDeviceTracker::setSharedForTesting();
  TLMDeviceTracker::configureShared(std::make_shared<platform::LinuxDeviceProbe>());
  auto fresh = TLMDeviceTracker::sharedInstance();
  EXPECT_NE(fresh, shared);
  EXPECT_FALSE(fresh->countryCode());
  EXPECT_FALSE(fresh->wrapperSdk());
  const auto device = fresh->device();
  EXPECT_FALSE(device->carrierCountry);
  EXPECT_FALSE(device->wrapperSdkName);
  // The real probe reports this machine; the application is the identity.
  EXPECT_TRUE(device->isValid());
  EXPECT_EQ(device->appNamespace, "test.Wendrix");
  EXPECT_EQ(device->appVersion, "1.2.3");
  EXPECT_EQ(device->appBuild, "42");
  EXPECT_EQ(device->osName, "Linux");

  TLMDeviceTracker::setSharedForTesting();
  TLMDarAvevedUserDefaults::setSharedForTesting();
  platform::UserDefaults::setSharedForTesting(nullptr);
}

// The shared tracker reads the probe the program configured, and reads
// nothing once that is forgotten.
TEST_F(DeviceTrackerTest, SharedInstanceReadsTheConfiguredProbe) {
  const support::ScopedAppIdentity identity;
  platform::UserDefaults::setSharedForTesting(std::make_shared<platform::MemoryUserDefaults>());
  TLMDarAvevedUserDefaults::setSharedForTesting();

  const auto before = TLMDeviceTracker::sharedInstance();
  TLMDeviceTracker::configureShared(probe);
  EXPECT_NE(TLMDeviceTracker::sharedInstance(), before);
  EXPECT_EQ(TLMDeviceTracker::sharedInstance()->device()->model, "Fake Model 1");

  TLMDeviceTracker::setSharedForTesting();
  const auto unconfigured = TLMDeviceTracker::sharedInstance()->device();
  EXPECT_EQ(unconfigured->model, "Unknown");
  EXPECT_EQ(unconfigured->screenSize, "0x0");

  TLMDeviceTracker::setSharedForTesting();
  TLMDarAvevedUserDefaults::setSharedForTesting();
  platform::UserDefaults::setSharedForTesting(nullptr);
}

}  // namespace
}  // namespace tlm

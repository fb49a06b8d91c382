#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "support/telemetry_log_capture.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/fixtures.h"
#include "telemetry/model/log_container.h"
#include "telemetry/model/start_service_log.h"

namespace tlm {
namespace {

using testing::fixedDate;
using testing::linuxDevice;
using testing::LogCapture;

std::shared_ptr<TLMLogWithProperties> validLog() {
  auto log = std::make_shared<TLMLogWithProperties>();
  log->type = "event";
  log->timestamp = fixedDate();
  log->device = linuxDevice();
  return log;
}

TEST(ValidityTest, DeviceReportsFirstMissingRequiredFieldInOrder) {
  const std::vector<std::pair<const char*, std::function<void(TLMDevice&)>>> required = {
      {"sdkName", [](TLMDevice& d) { d.sdkName = "n"; }},
      {"sdkVersion", [](TLMDevice& d) { d.sdkVersion = "v"; }},
      {"osName", [](TLMDevice& d) { d.osName = "Linux"; }},
      {"osVersion", [](TLMDevice& d) { d.osVersion = "6"; }},
      {"locale", [](TLMDevice& d) { d.locale = ""; }},  // empty counts as set
      {"timeZoneOffset", [](TLMDevice& d) { d.timeZoneOffset = 0; }},
      {"appVersion", [](TLMDevice& d) { d.appVersion = "1"; }},
      {"appBuild", [](TLMDevice& d) { d.appBuild = "1"; }},
  };
  TLMDevice device;
  LogCapture logs;
  for (const auto& [field, fill] : required) {
    logs.clear();
    EXPECT_FALSE(device.isValid());
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Verbose);
    EXPECT_EQ(logs.lines()[0].tag, "DarAveved");
    EXPECT_EQ(logs.messages()[0], std::string("TLMDevice: \"") + field + "\" is not valid.");
    fill(device);
  }
  logs.clear();
  EXPECT_TRUE(device.isValid());
  EXPECT_TRUE(logs.lines().empty());
}

TEST(ValidityTest, LogReportsTypeThenTimestampThenDevice) {
  auto log = std::make_shared<TLMStartServiceLog>();
  log->type.reset();
  LogCapture logs;
  std::vector<std::string> expected;
  EXPECT_FALSE(log->isValid());
  log->type = "startService";
  EXPECT_FALSE(log->isValid());
  log->timestamp = fixedDate();
  EXPECT_FALSE(log->isValid());
  log->device = linuxDevice();
  log->device->locale.reset();
  EXPECT_FALSE(log->isValid());
  log->device->locale = "en_US";
  EXPECT_TRUE(log->isValid());
  EXPECT_EQ(logs.messages(), (std::vector<std::string>{
                                 "TLMStartServiceLog: \"type\" is not valid.",
                                 "TLMStartServiceLog: \"timestamp\" is not valid.",
                                 "TLMStartServiceLog: \"device\" is not valid.",
                                 "TLMDevice: \"locale\" is not valid.",
                                 "TLMStartServiceLog: \"device\" is not valid.",
                             }));
}

TEST(ValidityTest, CustomPropertiesLogNeedsAtLeastOneProperty) {
  TLMCustomPropertiesLog log;
  log.timestamp = fixedDate();
  log.device = linuxDevice();
  LogCapture logs;
  EXPECT_FALSE(log.isValid());
  log.properties = TLMCustomPropertyMap{};
  EXPECT_FALSE(log.isValid());
  EXPECT_EQ(logs.messages(),
            std::vector<std::string>(2, "TLMCustomPropertiesLog: \"properties\" is not valid."));
  log.properties = TLMCustomPropertyMap{{"a", TLMCustomPropertyClear{}}};
  EXPECT_TRUE(log.isValid());
}

TEST(ValidityTest, ContainerNeedsLogsAndEveryLogValid) {
  LogCapture logs;
  EXPECT_FALSE(TLMLogContainer("b", {}).isValid());
  EXPECT_EQ(logs.messages(),
            std::vector<std::string>{"TLMLogContainer: there are no logs in container."});

  auto invalid = validLog();
  invalid->timestamp.reset();
  EXPECT_TRUE(TLMLogContainer("b", {validLog(), validLog()}).isValid());
  logs.clear();
  EXPECT_FALSE(TLMLogContainer("b", {validLog(), invalid, validLog()}).isValid());
  EXPECT_EQ(logs.messages(),
            std::vector<std::string>{"TLMLogWithProperties: \"timestamp\" is not valid."});
}

TEST(EqualityTest, LogsCompareFieldsButNotTokens) {
  auto a = validLog();
  auto b = validLog();
  a->addTransmissionTargetToken("t1");
  b->setTransmissionTargetTokens({"t2", "t3"});
  EXPECT_EQ(*a, *b);

  auto target = std::make_shared<int>(1);
  a->tag = target;
  EXPECT_FALSE(*a == *b);
  b->tag = target;
  EXPECT_EQ(*a, *b);

  b->properties = std::map<std::string, std::string>{};
  EXPECT_FALSE(*a == *b);  // none against empty
  a->properties = std::map<std::string, std::string>{};
  EXPECT_EQ(*a, *b);

  b->device->timeZoneOffset = 120;
  EXPECT_FALSE(*a == *b);

  TLMStartServiceLog start;
  start.type = "event";
  start.timestamp = a->timestamp;
  start.device = a->device;
  EXPECT_FALSE(*a == start);  // another class
}

TEST(EqualityTest, TokensAreAddedOnceUnderConcurrency) {
  auto log = validLog();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        log->addTransmissionTargetToken(std::to_string(i % (50 + t)));
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(log->transmissionTargetTokens().size(), 53u);
}

TEST(EqualityTest, DevicesCompareEveryField) {
  auto a = linuxDevice();
  auto b = linuxDevice();
  EXPECT_EQ(*a, *b);
  b->wrapperSdkName = "wrap";
  EXPECT_FALSE(*a == *b);
  b->wrapperSdkName.reset();
  b->osApiLevel = 1;
  EXPECT_FALSE(*a == *b);
  EXPECT_FALSE(*a == TLMWrapperSdk());
}

}  // namespace
}  // namespace tlm

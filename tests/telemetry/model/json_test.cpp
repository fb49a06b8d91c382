#include <gtest/gtest.h>

#include "telemetry/core/json_text.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/fixtures.h"
#include "telemetry/model/log_container.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/model/typed_property.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using testing::fixedDate;
using testing::kLinuxDeviceJson;
using testing::linuxDevice;

std::string text(const TLMAbstractLog& log) {
  return *log.serializeLogWithPrettyPrinting(false);
}

TEST(LogJsonTest, DeviceWritesWrapperMembersFirstAtTopLevel) {
  EXPECT_EQ(*jsonText(linuxDevice()->serializeToDictionary(), false), kLinuxDeviceJson);

  TLMDevice device;
  static_cast<TLMWrapperSdk&>(device) =
      TLMWrapperSdk("1.0", "wrap", std::nullopt, "label", std::nullopt, "hash");
  device.sdkName = "daraveved.linux";
  device.osApiLevel = 33;
  EXPECT_EQ(
      *jsonText(device.serializeToDictionary(), false),
      R"({"wrapperSdkVersion":"1.0","wrapperSdkName":"wrap","liveUpdateReleaseLabel":"label",)"
      R"("liveUpdatePackageHash":"hash","sdkName":"daraveved.linux","osApiLevel":33})");
}

TEST(LogJsonTest, LogWithPropertiesWritesSetMembersInOrder) {
  TLMLogWithProperties log;
  log.type = "event";
  log.timestamp = fixedDate();
  log.sid = "S1";
  log.userId = "c:u";
  log.device = linuxDevice();
  log.addTransmissionTargetToken("token");  // never written
  log.tag = std::make_shared<int>(1);       // never written
  log.properties = std::map<std::string, std::string>{{"path", "a/b"}, {"raw", "x\\/y"}};
  EXPECT_EQ(text(log), std::string(R"({"type":"event","timestamp":"2024-05-01T10:00:00.123Z",)") +
                           R"("sid":"S1","userId":"c:u","device":)" + kLinuxDeviceJson +
                           R"(,"properties":{"path":"a/b","raw":"x\\/y"}})");

  log.properties = std::map<std::string, std::string>{};
  log.sid.reset();
  log.userId.reset();
  log.device.reset();
  EXPECT_EQ(text(log), R"({"type":"event","timestamp":"2024-05-01T10:00:00.123Z"})");
  log.properties.reset();
  EXPECT_EQ(text(log), R"({"type":"event","timestamp":"2024-05-01T10:00:00.123Z"})");
}

TEST(LogJsonTest, StartServiceLog) {
  TLMStartServiceLog log;
  log.timestamp = fixedDate();
  log.device = linuxDevice();
  log.services = std::vector<std::string>{"Crashes", "Analytics"};
  EXPECT_EQ(text(log), std::string(R"({"type":"startService",)") +
                           R"("timestamp":"2024-05-01T10:00:00.123Z","device":)" +
                           kLinuxDeviceJson + R"(,"services":["Crashes","Analytics"]})");
  log.services.reset();
  EXPECT_EQ(text(log).find("services"), std::string::npos);
}

TEST(LogJsonTest, CustomPropertiesLogWritesOneObjectPerKind) {
  TLMCustomPropertiesLog log;
  log.timestamp = fixedDate();
  log.properties = TLMCustomPropertyMap{
      {"a", std::string("x")},         {"b", true},
      {"c", TLMCustomPropertyClear{}}, {"d", fixedDate() + 1s},
      {"n", std::int64_t{1}},          {"r", 2.5},
  };
  EXPECT_EQ(text(log),
            R"({"type":"customProperties","timestamp":"2024-05-01T10:00:00.123Z","properties":[)"
            R"({"type":"string","value":"x","name":"a"},)"
            R"({"type":"boolean","value":true,"name":"b"},)"
            R"({"type":"clear","name":"c"},)"
            R"({"type":"dateTime","value":"2024-05-01T10:00:01.123Z","name":"d"},)"
            R"({"type":"number","value":1,"name":"n"},)"
            R"({"type":"number","value":2.5,"name":"r"}]})");
}

TEST(LogJsonTest, TypedPropertiesWriteTypeNameAndValue) {
  auto s = std::make_shared<TLMStringTypedProperty>();
  s->name = "s";
  auto unset = std::make_shared<TLMStringTypedProperty>();
  unset->name = "u";
  auto l = std::make_shared<TLMLongTypedProperty>();
  l->name = "l";
  l->value = -5;
  auto d = std::make_shared<TLMDoubleTypedProperty>();
  d->name = "d";
  d->value = 0.25;
  auto b = std::make_shared<TLMBooleanTypedProperty>();
  b->name = "b";
  b->value = true;
  auto t = std::make_shared<TLMDateTimeTypedProperty>();
  t->name = "t";
  t->value = fixedDate();
  s->value = "v/w";
  const std::pair<std::shared_ptr<TLMTypedProperty>, const char*> cases[] = {
      {s, R"({"type":"string","name":"s","value":"v/w"})"},
      {unset, R"({"type":"string","name":"u"})"},
      {l, R"({"type":"long","name":"l","value":-5})"},
      {d, R"({"type":"double","name":"d","value":0.25})"},
      {b, R"({"type":"boolean","name":"b","value":true})"},
      {t, R"({"type":"dateTime","name":"t","value":"2024-05-01T10:00:00.123Z"})"},
  };
  for (const auto& [property, expected] : cases) {
    EXPECT_EQ(*jsonText(property->serializeToDictionary(), false), expected);
  }
}

TEST(LogJsonTest, ContainerWritesOnlyLogsInBatchOrder) {
  auto first = std::make_shared<TLMStartServiceLog>();
  first->timestamp = fixedDate();
  first->services = std::vector<std::string>{"Analytics"};
  auto second = std::make_shared<TLMLogWithProperties>();
  second->type = "event";
  second->sid = "S";
  TLMLogContainer container("batch-1", {first, second});
  EXPECT_EQ(*container.serializeLog(),
            R"({"logs":[{"type":"startService","timestamp":"2024-05-01T10:00:00.123Z",)"
            R"("services":["Analytics"]},{"type":"event","sid":"S"}]})");
  EXPECT_EQ(*TLMLogContainer("b", {}).serializeLog(), R"({"logs":[]})");
  EXPECT_EQ(
      *TLMLogContainer("b", {second}).serializeLogWithPrettyPrinting(true),
      "{\n  \"logs\": [\n    {\n      \"type\": \"event\",\n      \"sid\": \"S\"\n    }\n  ]\n}");
  // Slashes stay unescaped in the container text as in a single log's.
  second->sid = "a/b";
  EXPECT_EQ(*TLMLogContainer("b", {second}).serializeLog(),
            R"({"logs":[{"type":"event","sid":"a/b"}]})");
}

TEST(LogJsonTest, InvalidUtf8IsReplacedNotThrown) {
  TLMLogWithProperties log;
  log.userId = std::string(
      "a\xff"
      "b");
  log.properties = std::map<std::string, std::string>{{"k\xc3", "v"}};
  auto json = log.serializeLogWithPrettyPrinting(false);
  ASSERT_TRUE(json);
  EXPECT_EQ(*json,
            "{\"userId\":\"a\xef\xbf\xbd"
            "b\",\"properties\":{\"k\xef\xbf\xbd\":\"v\"}}");
  auto container =
      TLMLogContainer("b", {std::shared_ptr<TLMAbstractLog>(&log, [](auto*) {})}).serializeLog();
  ASSERT_TRUE(container);
}

}  // namespace
}  // namespace tlm

#include "telemetry/analytics/analytics_logs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/telemetry_devices.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/core/archive.h"
#include "telemetry/schema/cs_extensions.h"

namespace tlm {
namespace {

using Json = nlohmann::ordered_json;
using testing::LogCapture;

std::shared_ptr<TLMEventLog> eventLog(std::optional<TLMEventProperties> properties) {
  auto log = std::make_shared<TLMEventLog>();
  log->name = "Layout_Restored";
  log->eventId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";
  log->timestamp = Date(std::chrono::milliseconds(1714557600123));
  log->sid = "5F1E5A0C-0000-4000-8000-000000000001";
  log->device = testing::validDevice();
  log->typedProperties = std::move(properties);
  return log;
}

TEST(AnalyticsLogsTest, EventJsonCarriesIdAndTypedPropertiesInOrder) {
  TLMEventProperties properties;
  properties.setInt64("AppsCount", 3)
      .setDouble("TimeInSec", 2.5)
      .setString("Source", "menu")
      .setBool("Auto", false)
      .setDate("At", Date(std::chrono::milliseconds(1714557600123)));
  const Json json = eventLog(properties)->serializeToDictionary();
  EXPECT_EQ(json.at("type"), "event");
  EXPECT_EQ(json.at("name"), "Layout_Restored");
  EXPECT_EQ(json.at("id"), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  EXPECT_EQ(json.at("typedProperties"), Json::parse(R"([
      {"type":"long","name":"AppsCount","value":3},
      {"type":"double","name":"TimeInSec","value":2.5},
      {"type":"string","name":"Source","value":"menu"},
      {"type":"boolean","name":"Auto","value":false},
      {"type":"dateTime","name":"At","value":"2024-05-01T10:00:00.123Z"}])"));

  EXPECT_FALSE(eventLog(std::nullopt)->serializeToDictionary().contains("typedProperties"));
  const Json session = [] {
    TLMStartSessionLog log;
    log.sid = "S";
    return log.serializeToDictionary();
  }();
  EXPECT_EQ(session.at("type"), "startSession");
  EXPECT_EQ(TLMPageLog().type, "page");
}

TEST(AnalyticsLogsTest, ValidityNeedsNameAndIdAndEqualityIgnoresTypedProperties) {
  LogCapture logs{TLMLogLevel::Verbose};
  auto log = eventLog(std::nullopt);
  EXPECT_TRUE(log->isValid());
  log->eventId.reset();
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose, "TLMEventLog: \"eventId\" is not valid."));
  log = eventLog(std::nullopt);
  log->name.reset();
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose, "TLMEventLog: \"name\" is not valid."));

  TLMEventProperties some;
  some.setBool("x", true);
  EXPECT_TRUE(eventLog(some)->isEqual(*eventLog(std::nullopt)));
  auto other = eventLog(std::nullopt);
  other->eventId = "OTHER";
  EXPECT_FALSE(eventLog(std::nullopt)->isEqual(*other));
}

TEST(AnalyticsLogsTest, ArchiveRoundTripKeepsEveryKindOfProperty) {
  TLMEventProperties properties;
  properties.setString("s", "x").setInt64("l", -4).setDouble("d", 0.25).setBool("b", true).setDate(
      "t", Date(std::chrono::nanoseconds(1714557600123456789)));
  const auto log = eventLog(properties);
  const auto back = unarchiveKeyedDataOf<TLMEventLog>(archiveKeyedData(*log));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(*log));
  ASSERT_TRUE(back->typedProperties);
  EXPECT_EQ(back->typedProperties->properties(), properties.properties());

  const auto session = std::make_shared<TLMStartSessionLog>();
  session->sid = "S";
  session->timestamp = log->timestamp;
  session->device = log->device;
  const auto sessionBack = unarchiveKeyedDataOf<TLMStartSessionLog>(archiveKeyedData(*session));
  ASSERT_TRUE(sessionBack);
  EXPECT_TRUE(sessionBack->isEqual(*session));
}

// The common-schema data and metadata trees of typed properties.
struct ConversionCase {
  const char* name;
  std::vector<TLMEventProperty> properties;
  const char* data;      // "" for no data record
  const char* metadata;  // "" for no metadata extension
  std::vector<std::string> warnings;
  std::vector<std::string> remaining;  // names left in the event's own map
};

class CommonSchemaConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(CommonSchemaConversionTest, BuildsDataAndMetadata) {
  const auto& c = GetParam();
  LogCapture logs{TLMLogLevel::Verbose};
  TLMEventProperties properties;
  for (const auto& property : c.properties)
    properties.setProperty(property);
  auto log = eventLog(properties);
  log->tag = std::make_shared<int>(7);

  const auto cs = log->toCommonSchemaLogForTargetToken("token-1", 1);
  ASSERT_TRUE(cs);
  EXPECT_EQ(cs->name, "Layout_Restored");
  EXPECT_EQ(cs->tag, log->tag);
  if (*c.data) {
    ASSERT_TRUE(cs->data);
    EXPECT_EQ(*cs->data->properties(), Json::parse(c.data));
  } else {
    EXPECT_FALSE(cs->data);
  }
  const auto metadata =
      cs->ext && cs->ext->metadataExt ? cs->ext->metadataExt->metadata() : std::nullopt;
  if (*c.metadata) {
    ASSERT_TRUE(metadata);
    EXPECT_EQ(*metadata, Json::parse(c.metadata));
  } else {
    EXPECT_FALSE(metadata);
  }
  EXPECT_EQ(logs.at(TLMLogLevel::Warning), c.warnings);
  std::vector<std::string> remaining;
  for (const auto& property : log->typedProperties->properties())
    remaining.push_back(property.name);
  EXPECT_EQ(remaining, c.remaining);
}

const TLMDate kDate{std::chrono::milliseconds(1714557600123)};

INSTANTIATE_TEST_SUITE_P(
    Cases, CommonSchemaConversionTest,
    ::testing::Values(
        ConversionCase{"NestedLongAndPlainString",
                       {{"a.b", std::int64_t{5}}, {"c", std::string("x")}},
                       R"({"a":{"b":5},"c":"x"})",
                       R"({"f":{"a":{"f":{"b":4}}}})",
                       {},
                       {"a.b", "c"}},
        ConversionCase{"EveryKind",
                       {{"s", std::string("t")},
                        {"b", true},
                        {"l", std::int64_t{-1}},
                        {"d", 1.5},
                        {"t", kDate}},
                       R"({"s":"t","b":true,"l":-1,"d":1.5,"t":"2024-05-01T10:00:00.123Z"})",
                       R"({"f":{"l":4,"d":6,"t":9}})",
                       {},
                       {"s", "b", "l", "d", "t"}},
        ConversionCase{"StringFirstWinsOverNestedLong",
                       {{"a", std::string("x")}, {"a.b", std::int64_t{1}}},
                       R"({"a":"x"})",
                       "",
                       {"Property key 'b' already has a value, choosing one."},
                       {"a", "a.b"}},
        ConversionCase{"NestedLongFirstWinsOverString",
                       {{"a.b", std::int64_t{1}}, {"a", std::string("x")}},
                       R"({"a":{"b":1}})",
                       R"({"f":{"a":{"f":{"b":4}}}})",
                       {"Property key 'a' already has a value, choosing one."},
                       {"a.b", "a"}},
        ConversionCase{"LosingLongTakesBackOnlyItsOwnMetadata",
                       {{"x.y", 2.0},
                        {"p.q", std::string("s")},
                        {"p.q.r", std::int64_t{3}},
                        {"u.v", std::string("s")},
                        {"u.v.w", std::int64_t{4}}},
                       R"({"x":{"y":2.0},"p":{"q":"s"},"u":{"v":"s"}})",
                       R"({"f":{"x":{"f":{"y":6}}}})",
                       {"Property key 'r' already has a value, choosing one.",
                        "Property key 'w' already has a value, choosing one."},
                       {"x.y", "p.q", "p.q.r", "u.v", "u.v.w"}},
        ConversionCase{"LosingLongAloneLeavesNoMetadata",
                       {{"p.q", std::string("s")}, {"p.q.r", std::int64_t{3}}},
                       R"({"p":{"q":"s"}})",
                       "",
                       {"Property key 'r' already has a value, choosing one."},
                       {"p.q", "p.q.r"}},
        ConversionCase{"BaseTypeWithBaseData",
                       {{"baseType", std::string("T")}, {"baseData.x", std::int64_t{1}}},
                       R"({"baseType":"T","baseData":{"x":1}})",
                       R"({"f":{"baseData":{"f":{"x":4}}}})",
                       {},
                       {"baseType", "baseData.x"}},
        ConversionCase{"BaseDataWithoutBaseType",
                       {{"baseData.x", std::int64_t{1}}, {"baseData.y", true}, {"k", true}},
                       R"({"k":true})",
                       "",
                       {"baseData was set but baseType is missing or invalid."},
                       {"k"}},
        ConversionCase{"BaseTypeWithoutBaseData",
                       {{"baseType", std::string("T")}, {"k", true}},
                       R"({"k":true})",
                       "",
                       {"baseType was set but baseData is missing."},
                       {"k"}},
        ConversionCase{"BaseTypeNotAString",
                       {{"baseType", std::int64_t{1}}, {"baseData.x", true}},
                       "",
                       "",
                       {"baseData was set but baseType is missing or invalid."},
                       {}},
        ConversionCase{"BaseTypeObjectAndBaseDataValue",
                       {{"baseType", std::string("T")},
                        {"baseData.x", true},
                        {"baseType.y", true},
                        {"baseData", std::string("v")}},
                       R"({"baseType":"T","baseData":{"x":true}})",
                       "",
                       {"baseType must not be an object.", "baseData must be an object."},
                       {"baseType", "baseData.x", "baseType.y", "baseData"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(AnalyticsLogsTest, EventWithoutTypedPropertiesConvertsWithoutData) {
  const auto cs = eventLog(std::nullopt)->toCommonSchemaLogForTargetToken("token-1", 2);
  ASSERT_TRUE(cs);
  EXPECT_FALSE(cs->data);
  EXPECT_EQ(cs->flags, 2);
}

}  // namespace
}  // namespace tlm

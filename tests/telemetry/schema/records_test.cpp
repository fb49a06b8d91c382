#include <gtest/gtest.h>

#include <functional>

#include "support/telemetry_log_capture.h"
#include "telemetry/core/archive.h"
#include "telemetry/schema/common_schema_log.h"
#include "telemetry/schema/log_conversion.h"
#include "telemetry/schema/schema_fixtures.h"

namespace tlm {
namespace {

using nlohmann::ordered_json;
using testing::LogCapture;

// A common-schema log with every member and extension set.
std::shared_ptr<TLMCommonSchemaLog> fullLog() {
  auto log = schematest::eventLog();
  auto cs = toCommonSchemaLogForTargetToken(*log, "key-t", 2);
  cs->name = "Layout_Saved";
  cs->popSample = 12.5;
  cs->cV = "cv";
  cs->sid = "S";
  cs->device = schematest::linuxDevice();  // as the channel unit sets it on enqueue
  cs->ext->protocolExt->ticketKeys = std::vector<std::string>{"h1", "h2"};
  cs->ext->deviceExt->localId = "d";
  cs->ext->appExt->name = "Wendrix";
  cs->ext->appExt->userId = "u";
  cs->ext->netExt->provider = "carrier";
  cs->ext->sdkExt->epoch = "E";
  cs->ext->sdkExt->seq = 3;
  cs->ext->sdkExt->installId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";
  cs->ext->metadataExt = std::make_shared<TLMMetadataExtension>();
  cs->ext->metadataExt->setMetadata(ordered_json{{"f", {{"n", 4}}}});
  cs->data = std::make_shared<TLMCSData>();
  cs->data->setProperties(ordered_json{{"baseData", {{"a", 1}}}, {"n", 5}, {"baseType", "T"}});
  return cs;
}

TEST(CSRecordsTest, ExtensionsAreLeftOutWhenEmptyAndExtIsAlwaysWritten) {
  TLMCommonSchemaLog log;
  log.ver = "3.0";
  log.ext = std::make_shared<TLMCSExtensions>();
  log.ext->userExt = std::make_shared<TLMUserExtension>();
  log.ext->sdkExt = std::make_shared<TLMSDKExtension>();
  log.ext->metadataExt = std::make_shared<TLMMetadataExtension>();
  log.data = std::make_shared<TLMCSData>();
  EXPECT_EQ(log.serializeToDictionary().dump(), R"({"ver":"3.0","ext":{}})");

  log.ext->sdkExt->seq = 1;
  log.ext->userExt->locale = "en-US";
  EXPECT_EQ(log.serializeToDictionary().dump(),
            R"({"ver":"3.0","ext":{"user":{"locale":"en-US"},"sdk":{"seq":1}}})");

  log.ext = nullptr;
  EXPECT_EQ(log.serializeToDictionary().dump(), R"({"ver":"3.0"})");
}

TEST(CSRecordsTest, DataPutsBaseTypeThenBaseDataFirst) {
  TLMCSData data;
  data.setProperties(ordered_json{{"baseData", {{"b", 1}}}, {"x", true}, {"baseType", "T"}});
  EXPECT_EQ(data.serializeToDictionary()->dump(),
            R"({"baseType":"T","baseData":{"b":1},"x":true})");
  data.setProperties(ordered_json("not an object"));
  EXPECT_EQ(data.serializeToDictionary(), std::nullopt);
}

TEST(CSRecordsTest, LogValidityNeedsTimestampThenVerThenName) {
  TLMCommonSchemaLog log;  // no type and no device: those rules do not apply
  LogCapture logs;
  EXPECT_FALSE(log.isValid());
  log.timestamp = schematest::fixedDate();
  EXPECT_FALSE(log.isValid());
  log.ver = "3.0";
  EXPECT_FALSE(log.isValid());
  log.name = "";
  EXPECT_TRUE(log.isValid());
  EXPECT_EQ(logs.messages(), (std::vector<std::string>{
                                 "TLMCommonSchemaLog: \"timestamp\" is not valid.",
                                 "TLMCommonSchemaLog: \"ver\" is not valid.",
                                 "TLMCommonSchemaLog: \"name\" is not valid.",
                             }));
  EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Verbose);
  EXPECT_EQ(logs.lines()[0].tag, "DarAveved");
}

template <class T>
struct Refusing : T {
  bool isValid() const override { return false; }
};

TEST(CSRecordsTest, ExtensionsValidityNamesTheFirstFailingExtension) {
  using Set = std::function<void(TLMCSExtensions&)>;
  const std::pair<const char*, Set> cases[] = {
      {"metadataExt",
       [](auto& e) { e.metadataExt = std::make_shared<Refusing<TLMMetadataExtension>>(); }},
      {"protocolExt",
       [](auto& e) { e.protocolExt = std::make_shared<Refusing<TLMProtocolExtension>>(); }},
      {"userExt", [](auto& e) { e.userExt = std::make_shared<Refusing<TLMUserExtension>>(); }},
      {"deviceExt",
       [](auto& e) { e.deviceExt = std::make_shared<Refusing<TLMDeviceExtension>>(); }},
      {"osExt", [](auto& e) { e.osExt = std::make_shared<Refusing<TLMOSExtension>>(); }},
      {"appExt", [](auto& e) { e.appExt = std::make_shared<Refusing<TLMAppExtension>>(); }},
      {"netExt", [](auto& e) { e.netExt = std::make_shared<Refusing<TLMNetExtension>>(); }},
      {"sdkExt", [](auto& e) { e.sdkExt = std::make_shared<Refusing<TLMSDKExtension>>(); }},
      {"locExt", [](auto& e) { e.locExt = std::make_shared<Refusing<TLMLocExtension>>(); }},
  };
  // Filled from the last to the first, each failing extension is reported
  // until an earlier one fails too.
  TLMCSExtensions ext = {};
  EXPECT_TRUE(fullLog()->ext->isValid());
  LogCapture logs;
  std::vector<std::string> expected;
  for (auto it = std::rbegin(cases); it != std::rend(cases); ++it) {
    it->second(ext);
    EXPECT_FALSE(ext.isValid());
    expected.push_back(std::string("TLMCSExtensions: \"") + it->first + "\" is not valid.");
  }
  EXPECT_EQ(logs.messages(), expected);
}

TEST(CSRecordsTest, EqualityComparesEveryMemberButNotTokens) {
  auto a = fullLog();
  auto b = fullLog();
  b->setTransmissionTargetTokens({"other-token"});
  EXPECT_TRUE(a->isEqual(*b));
  // Dictionaries compare by content, whatever their member order.
  b->data->setProperties(ordered_json{{"n", 5}, {"baseType", "T"}, {"baseData", {{"a", 1}}}});
  EXPECT_TRUE(a->isEqual(*b));

  const std::vector<std::function<void(TLMCommonSchemaLog&)>> changes = {
      [](auto& l) { l.popSample = 1; },
      [](auto& l) { l.cV = std::nullopt; },
      [](auto& l) { l.flags = 1; },
      [](auto& l) { l.sid = "other"; },
      [](auto& l) { l.ext->sdkExt->seq = 4; },
      [](auto& l) { l.ext->sdkExt->installId = std::nullopt; },
      [](auto& l) { l.ext->protocolExt->ticketKeys->push_back("h3"); },
      [](auto& l) { l.ext->appExt = std::make_shared<TLMAppExtension>(); },
      [](auto& l) { l.ext->metadataExt->setMetadata(ordered_json::object()); },
      [](auto& l) { l.data = nullptr; },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    auto changed = fullLog();
    changes[i](*changed);
    EXPECT_FALSE(a->isEqual(*changed)) << "change " << i;
  }
  TLMLogWithProperties plain;
  EXPECT_FALSE(a->isEqual(plain));
}

TEST(CSRecordsTest, ArchiveRoundTripKeepsEveryMember) {
  auto log = fullLog();
  auto decoded = unarchiveKeyedDataOf<TLMCommonSchemaLog>(archiveKeyedData(*log));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*log));
  EXPECT_EQ(decoded->serializeToDictionary(), log->serializeToDictionary());
  EXPECT_EQ(decoded->popSample, 12.5);
  EXPECT_EQ(decoded->cV, "cv");
  EXPECT_EQ(decoded->sid, "S");
  EXPECT_TRUE(decoded->device && decoded->device->isEqual(*log->device));
  // Tokens are kept by the store, not by the archive.
  EXPECT_TRUE(decoded->transmissionTargetTokens().empty());
  EXPECT_EQ(decoded->ticketKeys(), (std::vector<std::string>{"h1", "h2"}));
}

TEST(CSRecordsTest, DamagedNestedJsonInAnArchiveReadsAsAbsent) {
  // A data record whose stored text is not an object, or is nested far
  // deeper than any record of ours, comes back without properties.
  for (const std::string& text :
       {std::string("[1,2]"), std::string("{\"a\":"),
        "{\"a\":" + std::string(10000, '[') + std::string(10000, ']') + "}"}) {
    TLMKeyedArchiver coder;
    coder.encodeString("$root", text);
    TLMCSData data;
    data.initWithCoder(TLMKeyedUnarchiver(coder.tree()));
    EXPECT_EQ(data.properties(), std::nullopt) << text.substr(0, 20);
  }
}

}  // namespace
}  // namespace tlm

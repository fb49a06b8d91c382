#include <gtest/gtest.h>

#include "support/telemetry_idle_http_client.h"
#include "telemetry/core/json_text.h"
#include "telemetry/http/http_client.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/ingestion/ticket_cache.h"
#include "telemetry/model/log_container.h"
#include "telemetry/schema/log_conversion.h"
#include "telemetry/schema/schema_fixtures.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

using schematest::eventLog;

std::string line(const TLMAbstractLog& log) {
  return log.serializeLogWithPrettyPrinting(false).value_or("<none>");
}

TEST(LogConversionTest, OneGoldenLinePerTargetToken) {
  auto log = eventLog();
  log->addTransmissionTargetToken("key2-abc-def");
  log->addTransmissionTargetToken("key1-secret1");

  auto csLogs = toCommonSchemaLogsWithFlags(*log, 2);

  ASSERT_EQ(csLogs.size(), 2u);
  const std::string ext = R"("ext":{"protocol":{"devMake":"LENOVO","devModel":"X1"},)"
                          R"("user":{"localId":"c:alice","locale":"en-US"},)"
                          R"("os":{"name":"Linux","ver":"Version 6.1.0"},)"
                          R"("app":{"id":"I:app.Wendrix","ver":"1.2","locale":"en"},)"
                          R"("sdk":{"libVer":"daraveved.linux-4.1.0"},"loc":{"tz":"+01:00"}})";
  EXPECT_EQ(
      line(*csLogs[0]),
      R"({"ver":"3.0","time":"2024-05-01T10:00:00.123Z","iKey":"o:key1","flags":2,)" + ext + "}");
  EXPECT_EQ(
      line(*csLogs[1]),
      R"({"ver":"3.0","time":"2024-05-01T10:00:00.123Z","iKey":"o:key2","flags":2,)" + ext + "}");
  EXPECT_EQ(csLogs[0]->transmissionTargetTokens(), std::set<std::string>{"key1-secret1"});
  EXPECT_EQ(csLogs[1]->transmissionTargetTokens(), std::set<std::string>{"key2-abc-def"});
}

TEST(LogConversionTest, SentLineCarriesCollectorFieldsAndTickets) {
  // What the collector delegate and a target add before sending, then the
  // request body and headers of the common-schema endpoint.
  auto log = eventLog();
  log->addTransmissionTargetToken("key1-secret1");
  auto csLog = toCommonSchemaLogsWithFlags(*log, 1).at(0);
  csLog->name = "Layout_Restored";
  csLog->ext->sdkExt->epoch = "E1";
  csLog->ext->sdkExt->seq = 7;
  csLog->ext->sdkExt->installId = "1b4e28ba-2fa1-11d2-883f-0016d3cca427";
  csLog->ext->protocolExt->ticketKeys = std::vector<std::string>{"hash1"};
  csLog->ext->deviceExt->localId = "d:1";
  auto data = std::make_shared<TLMCSData>();
  data->setProperties(nlohmann::ordered_json{{"x", 1}, {"baseType", "T"}});
  csLog->data = data;
  TLMTicketCache::sharedInstance().setTicket("ticket1", "hash1");

  auto ingestion =
      TLMCollectorIngestion::make(std::make_shared<testing::IdleHttpClient>(), "https://c.example");
  TLMLogContainer container("b1", {csLog});

  EXPECT_EQ(
      ingestion->getPayload(container).value_or(""),
      R"({"ver":"3.0","name":"Layout_Restored","time":"2024-05-01T10:00:00.123Z","iKey":"o:key1",)"
      R"("flags":1,"ext":{"protocol":{"ticketKeys":["hash1"],"devMake":"LENOVO","devModel":"X1"},)"
      R"("user":{"localId":"c:alice","locale":"en-US"},"device":{"localId":"d:1"},)"
      R"("os":{"name":"Linux","ver":"Version 6.1.0"},)"
      R"("app":{"id":"I:app.Wendrix","ver":"1.2","locale":"en"},)"
      R"("sdk":{"libVer":"daraveved.linux-4.1.0","epoch":"E1","seq":7,)"
      R"("installId":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"},"loc":{"tz":"+01:00"}},)"
      R"("data":{"baseType":"T","x":1}})"
      "\n");
  auto headers = ingestion->getHeaders(container, std::nullopt).value_or(TLMHttpHeaders{});
  EXPECT_EQ(headers["apikey"], "key1-secret1");
  EXPECT_EQ(headers["Tickets"], R"({"hash1":"ticket1"})");
  TLMTicketCache::sharedInstance().clearCache();
}

TEST(LogConversionTest, TokensWithoutTargetKeyOrDashAndLogsWithoutTokensOrDevice) {
  auto log = eventLog();
  log->addTransmissionTargetToken("wholetoken");
  log->addTransmissionTargetToken("-nokey");
  auto csLogs = toCommonSchemaLogsWithFlags(*log, 0);
  ASSERT_EQ(csLogs.size(), 2u);
  EXPECT_EQ(csLogs[0]->iKey, std::nullopt);  // "-nokey" sorts first
  EXPECT_FALSE(csLogs[0]->serializeToDictionary().contains("iKey"));
  EXPECT_EQ(csLogs[1]->iKey, "o:wholetoken");
  EXPECT_FALSE(csLogs[1]->serializeToDictionary().contains("flags"));

  EXPECT_TRUE(toCommonSchemaLogsWithFlags(*eventLog(), 1).empty());

  log->device = nullptr;
  EXPECT_TRUE(toCommonSchemaLogsWithFlags(*log, 1).empty());
}

TEST(LogConversionTest, UserAndApplicationFieldsFollowTheLogAndDevice) {
  struct Case {
    std::optional<std::string> userId;
    std::optional<std::string> appNamespace;
    std::optional<std::string> localId;
    std::optional<std::string> appId;
  };
  const Case cases[] = {
      {"c:bob", "app.Wendrix", "c:bob", "I:app.Wendrix"},  // already prefixed
      {"x:bob", "app.Wendrix", "x:bob", "I:app.Wendrix"},  // any prefix is kept
      {std::nullopt, "app.Wendrix", std::nullopt, "I:app.Wendrix"},
      // No bundle identifier: no application id rather than one naming a
      // missing value.
      {"bob", std::nullopt, "c:bob", std::nullopt},
  };
  for (const auto& c : cases) {
    auto log = eventLog();
    log->userId = c.userId;
    log->device->appNamespace = c.appNamespace;
    auto csLog = toCommonSchemaLogForTargetToken(*log, "k-t", 1);
    ASSERT_TRUE(csLog);
    EXPECT_EQ(csLog->ext->userExt->localId, c.localId);
    EXPECT_EQ(csLog->ext->appExt->appId, c.appId);
  }
}

// A log class with its own conversion, as the event log has.
class NamedLog : public TLMLogWithProperties, public TLMLogConversion {
 public:
  std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(
      const std::string& token, std::uint64_t flags) override {
    auto csLog = tlm::toCommonSchemaLogForTargetToken(*this, token, flags);
    if (csLog) csLog->name = "Named";
    return csLog;
  }
};

TEST(LogConversionTest, LogsWithTheirOwnConversionUseIt) {
  NamedLog log;
  log.type = "event";
  log.timestamp = schematest::fixedDate();
  log.device = schematest::linuxDevice();
  log.addTransmissionTargetToken("a-1");
  auto csLogs = toCommonSchemaLogsWithFlags(log, 1);
  ASSERT_EQ(csLogs.size(), 1u);
  EXPECT_EQ(csLogs[0]->name, "Named");
  EXPECT_EQ(csLogs[0]->ext->osExt->name, "Linux");
}

TEST(LogConversionTest, OsVersionLibraryVersionAndTimeZoneTexts) {
  using Opt = std::optional<std::string>;
  const std::tuple<Opt, Opt, Opt> osCases[] = {
      {"6.1.0", "22A", "Version 6.1.0 (Build 22A)"},
      {"6.1.0", std::nullopt, "Version 6.1.0"},
      {"6.1.0", "", "Version 6.1.0"},
      {"", "22A", "(Build 22A)"},
      {std::nullopt, "22A", "(Build 22A)"},
      {"", "", std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& [version, build, text] : osCases) {
    EXPECT_EQ(combineOsVersion(version, build), text)
        << version.value_or("nil") << " / " << build.value_or("nil");
  }

  EXPECT_EQ(combineSDKLibVer("daraveved.linux", "4.1.0"), "daraveved.linux-4.1.0");
  EXPECT_EQ(combineSDKLibVer("daraveved.linux", ""), std::nullopt);
  EXPECT_EQ(combineSDKLibVer(std::nullopt, "4.1.0"), std::nullopt);

  const std::pair<std::int64_t, const char*> tzCases[] = {
      {330, "+05:30"}, {-480, "-08:00"}, {0, "+00:00"}, {-30, "-00:30"}, {840, "+14:00"},
  };
  for (const auto& [minutes, text] : tzCases)
    EXPECT_EQ(convertTimeZoneOffsetToISO8601(minutes), text) << minutes;
  EXPECT_EQ(convertTimeZoneOffsetToISO8601(std::numeric_limits<std::int64_t>::min()),
            "-153722867280912930:08");
}

}  // namespace
}  // namespace tlm

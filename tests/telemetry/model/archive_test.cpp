#include <gtest/gtest.h>

#include "support/telemetry_log_capture.h"
#include "telemetry/core/archive.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/fixtures.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/model/typed_property.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using testing::fixedDate;
using testing::linuxDevice;

template <class T>
std::shared_ptr<T> roundTrip(const T& object) {
  auto bytes = archiveKeyedData(object);
  EXPECT_TRUE(bytes);
  auto decoded = unarchiveKeyedData(bytes);
  EXPECT_TRUE(decoded);
  EXPECT_EQ(decoded ? decoded->className() : "", object.className());
  return std::dynamic_pointer_cast<T>(decoded);
}

template <class T>
void fillBase(T& log) {
  log.timestamp = fixedDate();
  log.sid = "S";
  log.distributionGroupId = "G";
  log.userId = "U";
  log.device = linuxDevice();
  log.device->wrapperSdkName = "wrap";
  log.device->osApiLevel = 7;
}

TEST(ModelArchiveTest, EveryLogClassRoundTrips) {
  TLMAbstractLog plain;
  fillBase(plain);
  plain.type = "plain";

  TLMLogWithProperties withProperties;
  fillBase(withProperties);
  withProperties.type = "event";
  withProperties.properties = std::map<std::string, std::string>{{"k", "v"}, {"e", ""}};

  TLMStartServiceLog start;
  fillBase(start);
  start.services = std::vector<std::string>{"Crashes", "Analytics"};

  TLMCustomPropertiesLog custom;
  fillBase(custom);
  custom.properties =
      TLMCustomPropertyMap{{"s", std::string("x")}, {"b", false},
                           {"i", std::int64_t{-3}}, {"d", 1.5},
                           {"t", fixedDate()},      {"c", TLMCustomPropertyClear{}}};

  const TLMAbstractLog* logs[] = {&plain, &withProperties, &start, &custom};
  for (const TLMAbstractLog* log : logs) {
    auto decoded =
        std::dynamic_pointer_cast<TLMAbstractLog>(unarchiveKeyedData(archiveKeyedData(*log)));
    ASSERT_TRUE(decoded) << log->className();
    EXPECT_EQ(decoded->className(), log->className());
    EXPECT_TRUE(decoded->isEqual(*log)) << log->className();
    EXPECT_EQ(decoded->timestamp, fixedDate());  // full precision
    EXPECT_EQ(decoded->serializeLogWithPrettyPrinting(false),
              log->serializeLogWithPrettyPrinting(false));
  }
  EXPECT_EQ(roundTrip(custom)->type, "customProperties");
}

TEST(ModelArchiveTest, TagAndTokensAreNotArchived) {
  TLMStartServiceLog log;
  log.tag = std::make_shared<int>(1);
  log.addTransmissionTargetToken("token");
  auto decoded = roundTrip(log);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->tag);
  EXPECT_TRUE(decoded->transmissionTargetTokens().empty());
}

TEST(ModelArchiveTest, DeviceAndTypedPropertiesRoundTrip) {
  auto device = linuxDevice();
  device->liveUpdatePackageHash = "h";
  EXPECT_EQ(*roundTrip(*device), *device);
  TLMWrapperSdk wrapper("1", "w", "r", "l", "k", "h");
  EXPECT_EQ(*roundTrip(wrapper), wrapper);

  TLMStringTypedProperty s;
  s.name = "s";
  s.value = "v";
  TLMLongTypedProperty l;
  l.value = INT64_MIN;
  TLMDoubleTypedProperty d;
  d.value = 0.1;
  TLMBooleanTypedProperty b;
  b.value = true;
  TLMDateTimeTypedProperty t;
  t.value = fixedDate();
  const TLMTypedProperty* properties[] = {&s, &l, &d, &b, &t};
  for (const TLMTypedProperty* p : properties) {
    auto decoded =
        std::dynamic_pointer_cast<TLMTypedProperty>(unarchiveKeyedData(archiveKeyedData(*p)));
    ASSERT_TRUE(decoded) << p->className();
    EXPECT_TRUE(decoded->isEqual(*p)) << p->className();
    EXPECT_EQ(decoded->name, p->name);
  }
  EXPECT_EQ(roundTrip(t)->value, fixedDate());  // nanoseconds kept
}

TEST(ModelArchiveTest, TruncatedOrForeignBytesGiveNoLog) {
  TLMStartServiceLog log;
  fillBase(log);
  const base::Bytes bytes = *archiveKeyedData(log);
  testing::LogCapture capture;
  for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
    EXPECT_FALSE(unarchiveKeyedData(base::Bytes(bytes.begin(), bytes.begin() + cut))) << cut;
  }
  EXPECT_FALSE(unarchiveKeyedDataOf<TLMAbstractLog>(archiveKeyedData(*linuxDevice())));
  const std::string sqlite = "SQLite format 3";
  EXPECT_FALSE(unarchiveKeyedData(base::Bytes(sqlite.begin(), sqlite.end())));
}

TEST(ModelArchiveTest, OldClassNameDecodesThroughAlias) {
  TLMStartServiceLog log;
  fillBase(log);
  auto tree = nlohmann::json::from_cbor(*archiveKeyedData(log));
  tree["$class"] = "TLStartServiceLog";
  tree["device"]["$class"] = "TLDevice";
  const auto oldBytes = nlohmann::json::to_cbor(tree);

  resetMigrationClassesForTesting();
  addMigrationClasses({{"TLStartServiceLog", "TLMStartServiceLog"}, {"TLDevice", "TLMDevice"}});
  auto decoded = unarchiveKeyedDataOf<TLMStartServiceLog>(oldBytes);
  resetMigrationClassesForTesting();
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, log);
}

}  // namespace
}  // namespace tlm

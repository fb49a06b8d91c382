#include "telemetry/core/archive.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;

// A small record using every member kind, nesting itself once.
struct Sample : TLMArchivable {
  std::optional<std::string> text;
  std::optional<std::int64_t> count;
  std::optional<std::uint64_t> big;
  double ratio = 0;
  bool flag = false;
  std::optional<Date> when;
  std::optional<base::Bytes> blob;
  std::optional<std::vector<std::string>> names;
  std::optional<std::map<std::string, std::string>> props;
  std::optional<std::map<std::string, TLMArchiveValue>> values;
  std::shared_ptr<Sample> child;

  std::string_view className() const override { return "TLMSample"; }
  void encodeWithCoder(TLMKeyedArchiver& c) const override {
    c.encodeString("text", text);
    c.encodeInt64("count", count);
    c.encodeUInt64("big", big);
    c.encodeDouble("ratio", ratio);
    c.encodeBool("flag", flag);
    c.encodeDate("when", when);
    c.encodeBytes("blob", blob);
    c.encodeStringArray("names", names);
    c.encodeStringMap("props", props);
    c.encodeValueMap("values", values);
    c.encodeObject("child", child.get());
  }
  void initWithCoder(const TLMKeyedUnarchiver& c) override {
    text = c.decodeString("text");
    count = c.decodeInt64("count");
    big = c.decodeUInt64("big");
    ratio = c.decodeDouble("ratio").value_or(0);
    flag = c.decodeBool("flag").value_or(false);
    when = c.decodeDate("when");
    blob = c.decodeBytes("blob");
    names = c.decodeStringArray("names");
    props = c.decodeStringMap("props");
    values = c.decodeValueMap("values");
    child = c.decodeObjectOf<Sample>("child");
  }
};

struct Other : TLMArchivable {
  std::string_view className() const override { return "TLMOther"; }
  void encodeWithCoder(TLMKeyedArchiver&) const override {}
  void initWithCoder(const TLMKeyedUnarchiver&) override {}
};

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerArchiveClass<Sample>("TLMSample");
    registerArchiveClass<Other>("TLMOther");
    resetMigrationClassesForTesting();
  }
  void TearDown() override { resetMigrationClassesForTesting(); }
};

Sample fullSample() {
  Sample s;
  s.text = "a/b\\c é";
  s.count = -(std::int64_t{1} << 40);
  s.big = std::numeric_limits<std::uint64_t>::max();
  s.ratio = 0.1;
  s.flag = true;
  s.when = Date(std::chrono::seconds(1714557600) + 123456789ns);
  s.blob = base::Bytes{0, 1, 255};
  s.names = std::vector<std::string>{"Crashes", "Analytics"};
  s.props = std::map<std::string, std::string>{{"k", "v"}};
  s.values = std::map<std::string, TLMArchiveValue>{
      {"b", true},      {"i", std::int64_t{1}}, {"d", 1.0}, {"s", "x"}, {"n", TLMArchiveNull{}},
      {"t", Date(1ns)}, {"y", base::Bytes{7}}};
  s.child = std::make_shared<Sample>();
  s.child->text = "inner";
  return s;
}

TEST_F(ArchiveTest, RoundTripKeepsEveryMemberExactly) {
  const Sample in = fullSample();
  auto out = unarchiveKeyedDataOf<Sample>(archiveKeyedData(in));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->text, in.text);
  EXPECT_EQ(out->count, in.count);
  EXPECT_EQ(out->big, in.big);  // above the int64 range
  EXPECT_EQ(out->ratio, in.ratio);
  EXPECT_TRUE(out->flag);
  EXPECT_EQ(out->when, in.when);  // nanoseconds kept
  EXPECT_EQ(out->blob, in.blob);
  EXPECT_EQ(out->names, in.names);
  EXPECT_EQ(out->props, in.props);
  EXPECT_EQ(out->values, in.values);  // bool, int and double stay apart
  ASSERT_TRUE(out->child);
  EXPECT_EQ(out->child->text, "inner");
  EXPECT_FALSE(out->child->count);
  EXPECT_FALSE(out->child->child);
}

TEST_F(ArchiveTest, MemberOfWrongTypeReadsAsAbsent) {
  nlohmann::json tree = {{"$class", "TLMSample"},
                         {"text", 5},
                         {"count", "5"},
                         {"big", -1},
                         {"ratio", 2},
                         {"flag", 1},
                         {"when", "2024-05-01T10:00:00.123Z"},
                         {"names", {"a", 1}},
                         {"props", {{"k", 1}}},
                         {"child", {{"$class", "TLMOther"}}}};
  auto out = unarchiveKeyedDataOf<Sample>(nlohmann::json::to_cbor(tree));
  ASSERT_TRUE(out);
  EXPECT_FALSE(out->text);
  EXPECT_FALSE(out->count);
  EXPECT_FALSE(out->big);
  EXPECT_EQ(out->ratio, 0);
  EXPECT_FALSE(out->flag);
  EXPECT_FALSE(out->when);
  EXPECT_FALSE(out->names);
  EXPECT_FALSE(out->props);
  EXPECT_FALSE(out->child);
}

TEST_F(ArchiveTest, BytesThatAreNotAnArchiveGiveNone) {
  const base::Bytes good = *archiveKeyedData(fullSample());
  std::vector<std::pair<std::string, base::Bytes>> cases = {
      {"empty", {}},
      {"text", base::Bytes{'h', 'e', 'l', 'l', 'o'}},
      {"cbor array", nlohmann::json::to_cbor(nlohmann::json::array({1, 2}))},
      {"no class", nlohmann::json::to_cbor(nlohmann::json{{"text", "x"}})},
      {"unknown class", nlohmann::json::to_cbor(nlohmann::json{{"$class", "NSWindow"}})},
      {"deep nesting", base::Bytes(100000, 0x81)},
  };
  for (std::size_t cut : {good.size() - 1, good.size() / 2, std::size_t{1}}) {
    cases.push_back({"truncated to " + std::to_string(cut),
                     base::Bytes(good.begin(), good.begin() + static_cast<long>(cut))});
  }
  testing::LogCapture logs;
  for (const auto& [name, bytes] : cases) {
    logs.clear();
    EXPECT_FALSE(unarchiveKeyedData(bytes)) << name;
    auto lines = logs.lines();
    ASSERT_EQ(lines.size(), 1u) << name;
    EXPECT_EQ(lines[0].level, TLMLogLevel::Error);
    EXPECT_EQ(lines[0].message.rfind("Unarchiving NSData failed with error: ", 0), 0u) << name;
  }
  EXPECT_FALSE(unarchiveKeyedData(std::nullopt));
  EXPECT_FALSE(archiveKeyedData(nullptr));
}

TEST_F(ArchiveTest, ObjectOfAnotherClassGivesNoneForTypedDecode) {
  EXPECT_FALSE(unarchiveKeyedDataOf<Sample>(archiveKeyedData(Other())));
  EXPECT_TRUE(unarchiveKeyedDataOf<Other>(archiveKeyedData(Other())));
}

TEST_F(ArchiveTest, OldClassNameDecodesAfterMigrationEntry) {
  auto bytes = nlohmann::json::to_cbor(nlohmann::json{{"$class", "TLSample"}, {"text", "old"}});
  testing::LogCapture logs;
  EXPECT_FALSE(unarchiveKeyedData(bytes));
  addMigrationClasses({{"TLSample", "TLMSample"}});
  auto out = unarchiveKeyedDataOf<Sample>(bytes);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->text, "old");
}

TEST_F(ArchiveTest, ArrayRootRoundTripsAndSkipsUnknownMembers) {
  auto a = std::make_shared<Sample>();
  a->text = "a";
  auto bytes = archiveKeyedArray({a, std::make_shared<Other>()});
  auto out = unarchiveKeyedArray(bytes);
  ASSERT_TRUE(out);
  ASSERT_EQ(out->size(), 2u);
  EXPECT_EQ(std::dynamic_pointer_cast<Sample>((*out)[0])->text, "a");
  testing::LogCapture logs;
  EXPECT_FALSE(unarchiveKeyedArray(archiveKeyedData(*a)));
}

}  // namespace
}  // namespace tlm

#include "telemetry/analytics/event_properties.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace tlm {
namespace {

using Props = std::vector<TLMEventProperty>;

TEST(EventPropertiesTest, KeepsInsertionOrderAndTypes) {
  const TLMDate date{std::chrono::milliseconds(1714557600123)};
  TLMEventProperties properties;
  properties.setString("s", "text")
      .setInt64("i", -7)
      .setDouble("d", 2.5)
      .setBool("b", true)
      .setDate("t", date);

  EXPECT_EQ(properties.properties(), (Props{{"s", std::string("text")},
                                            {"i", std::int64_t{-7}},
                                            {"d", 2.5},
                                            {"b", true},
                                            {"t", date}}));
  std::vector<std::string_view> types;
  for (const auto& p : properties.properties())
    types.push_back(typeName(p.value));
  EXPECT_EQ(types,
            (std::vector<std::string_view>{"string", "long", "double", "boolean", "dateTime"}));
}

TEST(EventPropertiesTest, LaterValueReplacesEarlierOfAnyKindInPlace) {
  TLMEventProperties properties;
  properties.setString("a", "first").setInt64("b", 1).setBool("a", false).setInt64("b", 2);
  EXPECT_EQ(properties.properties(), (Props{{"a", false}, {"b", std::int64_t{2}}}));
}

TEST(EventPropertiesTest, NonFiniteDoublesAreIgnored) {
  for (const double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    TLMEventProperties properties;
    properties.setDouble("x", 1.0);
    TLMEventProperties& same = properties.setDouble("x", bad).setDouble("y", bad);
    EXPECT_EQ(&same, &properties);
    EXPECT_EQ(properties.properties(), (Props{{"x", 1.0}})) << bad;
  }
}

TEST(EventPropertiesTest, MergeLetsTheOtherWinAndEqualityIgnoresOrder) {
  TLMEventProperties mine;
  mine.setString("a", "mine").setInt64("b", 1);
  TLMEventProperties other;
  other.setInt64("b", 2).setBool("c", true);
  mine.mergeEventProperties(other);
  mine.mergeEventProperties(mine);  // no deadlock, no change
  EXPECT_EQ(mine.properties(),
            (Props{{"a", std::string("mine")}, {"b", std::int64_t{2}}, {"c", true}}));

  TLMEventProperties reordered;
  reordered.setBool("c", true).setString("a", "mine").setInt64("b", 2);
  EXPECT_EQ(mine, reordered);
  reordered.setInt64("b", 3);
  EXPECT_FALSE(mine == reordered);
  // Same number, different kind.
  EXPECT_FALSE(TLMEventProperties().setInt64("n", 1) == TLMEventProperties().setDouble("n", 1.0));
}

TEST(EventPropertiesTest, StringDictionaryMakesStringProperties) {
  const auto properties = TLMEventProperties::makeWithStringDictionary({{"k", "v"}, {"e", ""}});
  EXPECT_EQ(properties.properties(), (Props{{"k", std::string("v")}, {"e", std::string()}}));
  EXPECT_TRUE(TLMEventProperties().isEmpty());
}

TEST(EventPropertiesTest, ConcurrentSettersLoseNothing) {
  TLMEventProperties properties;
  constexpr int kThreads = 4;
  constexpr int kKeys = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&properties, t] {
      for (int k = 0; k < kKeys; ++k) {
        properties.setInt64("t" + std::to_string(t) + "k" + std::to_string(k), k);
        (void)properties.size();
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(properties.size(), static_cast<std::size_t>(kThreads * kKeys));
}

}  // namespace
}  // namespace tlm

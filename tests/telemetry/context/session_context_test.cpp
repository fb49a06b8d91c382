#include "telemetry/context/session_context.h"

#include <gtest/gtest.h>

#include "context_fixture.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::ContextStore;
using testing::LogCapture;

std::vector<std::optional<std::string>> ids(const std::vector<TLMSessionHistoryInfo>& history) {
  std::vector<std::optional<std::string>> out;
  for (const auto& entry : history)
    out.push_back(entry.sessionId);
  return out;
}

TEST(SessionContextTest, EachRunKeepsItsLastSessionAcrossRestarts) {
  ContextStore store;
  {
    store.setTime(0);
    TLMSessionContext idle(store.settings, store.clock);  // never sets an id: stores nothing
  }
  {
    store.setTime(100);
    TLMSessionContext firstRun(store.settings, store.clock);
    store.setTime(110);
    firstRun.setSessionId("s1");
    store.setTime(120);
    firstRun.setSessionId("s2");
    EXPECT_EQ(ids(firstRun.sessionHistory()), (std::vector<std::optional<std::string>>{"s2"}));
  }

  store.setTime(200);
  TLMSessionContext context(store.settings, store.clock);
  EXPECT_EQ(ids(context.sessionHistory()),
            (std::vector<std::optional<std::string>>{"s2", std::nullopt}));
  EXPECT_FALSE(context.sessionId());
  store.setTime(210);
  context.setSessionId("s3");
  EXPECT_EQ(context.sessionId(), "s3");
  EXPECT_EQ(context.currentSessionInfo().timestamp, store.at(210));

  struct Case {
    int seconds;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {50, std::nullopt},   // before every entry
      {120, std::nullopt},  // an entry stamped exactly then does not count
      {121, "s2"},         {210, "s2"}, {211, "s3"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(context.sessionIdAt(store.at(c.seconds)), c.expected) << c.seconds;
}

TEST(SessionContextTest, ClearingKeepsTheCurrentSessionOnlyWhenAsked) {
  for (const bool keep : {true, false}) {
    ContextStore store;
    {
      TLMSessionContext previous(store.settings, store.clock);
      previous.setSessionId("old");
    }
    store.setTime(10);
    TLMSessionContext context(store.settings, store.clock);
    context.setSessionId("current");
    context.clearSessionHistoryAndKeepCurrentSession(keep);

    const auto expected = keep ? std::vector<std::optional<std::string>>{"current"}
                               : std::vector<std::optional<std::string>>{};
    EXPECT_EQ(ids(context.sessionHistory()), expected) << keep;
    store.setTime(20);
    auto restarted = expected;
    restarted.push_back(std::nullopt);
    EXPECT_EQ(ids(TLMSessionContext(store.settings, store.clock).sessionHistory()), restarted)
        << keep;
  }
}

TEST(SessionContextTest, SettingAnIdAfterAClearWithoutKeepingAppendsTheCurrentEntry) {
  ContextStore store;
  {
    TLMSessionContext previous(store.settings, store.clock);
    previous.setSessionId("old");
  }
  store.setTime(10);
  TLMSessionContext context(store.settings, store.clock);
  context.clearSessionHistoryAndKeepCurrentSession(false);
  store.setTime(20);
  context.setSessionId("fresh");  // the history is empty: nothing to take off

  EXPECT_EQ(ids(context.sessionHistory()), (std::vector<std::optional<std::string>>{"fresh"}));
  EXPECT_EQ(context.sessionIdAt(store.at(21)), "fresh");
  EXPECT_FALSE(context.sessionIdAt(store.at(19)));
}

TEST(SessionContextTest, LogsWithTheSdkTag) {
  ContextStore store;
  { TLMSessionContext(store.settings, store.clock).setSessionId("a"); }
  LogCapture logs;
  TLMSessionContext context(store.settings, store.clock);
  context.setSessionId("abc");
  context.setSessionId(std::nullopt);
  context.clearSessionHistoryAndKeepCurrentSession(true);

  const auto lines = logs.lines();
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& line : lines)
    EXPECT_EQ(line.tag, "DarAveved");
  EXPECT_EQ(lines[0].level, TLMLogLevel::Debug);
  EXPECT_EQ(lines[0].message, "1 session(s) in the history.");
  EXPECT_EQ(lines[1].level, TLMLogLevel::Verbose);
  EXPECT_EQ(lines[1].message,
            "Stored new session with id:abc and timestamp: 2024-05-01T10:00:00.000Z.");
  EXPECT_EQ(lines[2].message,
            "Stored new session with id:(null) and timestamp: 2024-05-01T10:00:00.000Z.");
  EXPECT_EQ(lines[3].message, "Cleared old sessions.");
}

TEST(SessionContextTest, SharedInstanceIsMadeOnceAndReset) {
  auto store = std::make_shared<platform::MemoryUserDefaults>();
  platform::UserDefaults::setSharedForTesting(store);
  TLMDarAvevedUserDefaults::setSharedForTesting();

  auto shared = TLMSessionContext::sharedInstance();
  EXPECT_EQ(TLMSessionContext::sharedInstance(), shared);
  shared->setSessionId("s");
  EXPECT_TRUE(store->contains("TLDarAvevedSessionIdHistory"));
  TLMSessionContext::setSharedForTesting();
  EXPECT_NE(TLMSessionContext::sharedInstance(), shared);

  TLMSessionContext::setSharedForTesting();
  TLMDarAvevedUserDefaults::setSharedForTesting();
  platform::UserDefaults::setSharedForTesting(nullptr);
}

}  // namespace
}  // namespace tlm

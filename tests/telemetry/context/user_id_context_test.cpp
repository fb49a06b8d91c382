#include "telemetry/context/user_id_context.h"

#include "telemetry/context/session_context.h"

#include <gtest/gtest.h>

#include "context_fixture.h"
#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

using testing::ContextStore;
using testing::LogCapture;

using Ids = std::vector<std::optional<std::string>>;

Ids ids(const std::vector<TLMUserIdHistoryInfo>& history) {
  Ids out;
  for (const auto& entry : history)
    out.push_back(entry.userId);
  return out;
}

// Records each notification together with what the context answers during it.
class RecordingDelegate final : public TLMUserIdContextDelegate {
 public:
  void userIdContext(TLMUserIdContext& context, const std::optional<std::string>& userId) override {
    received.push_back(userId);
    readDuringCall.push_back(context.userId());  // would deadlock if called under the lock
  }
  Ids received;
  Ids readDuringCall;
};

TEST(UserIdContextTest, HistoryIsStoredAtStartAndAnswersAcrossRestarts) {
  ContextStore store;
  {
    store.setTime(100);
    TLMUserIdContext firstRun(store.settings, store.clock);
    store.setTime(110);
    firstRun.setUserId("alice");
  }
  {
    store.setTime(200);
    TLMUserIdContext idle(store.settings, store.clock);  // stored at once, with no id
  }
  store.setTime(300);
  TLMUserIdContext context(store.settings, store.clock);
  store.setTime(310);
  context.setUserId("bob");
  EXPECT_EQ(ids(context.userIdHistory()), (Ids{"alice", std::nullopt, "bob"}));

  struct Case {
    int seconds;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {100, std::nullopt}, {110, std::nullopt},  // exactly at an entry: not yet
      {111, "alice"},      {200, "alice"},      {201, std::nullopt},
      {310, std::nullopt}, {311, "bob"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(context.userIdAt(store.at(c.seconds)), c.expected) << c.seconds;
}

TEST(UserIdContextTest, ChangesNotifyDelegatesOutsideTheLockAndOnlyOnChange) {
  ContextStore store;
  TLMUserIdContext context(store.settings, store.clock);
  auto delegate = std::make_shared<RecordingDelegate>();
  auto removed = std::make_shared<RecordingDelegate>();
  context.addDelegate(delegate);
  context.addDelegate(delegate);  // held once
  context.addDelegate(removed);
  context.removeDelegate(removed);
  {
    auto expired = std::make_shared<RecordingDelegate>();
    context.addDelegate(expired);
  }

  LogCapture logs;
  context.setUserId(std::nullopt);  // nil while nil: nothing
  context.setUserId("alice");
  store.setTime(5);
  context.setUserId("alice");  // same id: nothing
  context.setUserId(std::nullopt);

  EXPECT_EQ(delegate->received, (Ids{"alice", std::nullopt}));
  EXPECT_EQ(delegate->readDuringCall, delegate->received);
  EXPECT_TRUE(removed->received.empty());
  EXPECT_EQ(logs.messages(),
            (std::vector<std::string>{
                "Stored new userId:alice and timestamp: 2024-05-01T10:00:00.000Z.",
                "Stored new userId:(null) and timestamp: 2024-05-01T10:00:05.000Z."}));
  EXPECT_EQ(ids(context.userIdHistory()), (Ids{std::nullopt}));
}

TEST(UserIdContextTest, ClearKeepsTheCurrentEntryAndStoresIt) {
  ContextStore store;
  { TLMUserIdContext(store.settings, store.clock).setUserId("old"); }
  store.setTime(10);
  TLMUserIdContext context(store.settings, store.clock);
  context.setUserId("current");
  LogCapture logs;
  context.clearUserIdHistory();
  EXPECT_EQ(ids(context.userIdHistory()), (Ids{"current"}));
  EXPECT_EQ(logs.messages(),
            std::vector<std::string>{"Cleared old userIds while keeping current userId."});

  store.setTime(20);
  EXPECT_EQ(ids(TLMUserIdContext(store.settings, store.clock).userIdHistory()),
            (Ids{"current", std::nullopt}));
}

struct CheckCase {
  std::optional<std::string> userId;
  bool valid;
  std::string message;  // the ERROR line of a refusal
};

void expectChecks(bool (*check)(const std::optional<std::string>&),
                  const std::vector<CheckCase>& cases) {
  for (const auto& c : cases) {
    LogCapture logs;
    EXPECT_EQ(check(c.userId), c.valid) << c.userId.value_or("(none)");
    if (c.valid) {
      EXPECT_TRUE(logs.lines().empty());
      continue;
    }
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Error);
    EXPECT_EQ(logs.lines()[0].tag, "DarAveved");
    EXPECT_EQ(logs.lines()[0].message, c.message);
  }
}

TEST(UserIdContextTest, ChecksForTheSdkIngestionLimitTheLength) {
  std::string accented;
  for (int i = 0; i < 256; ++i)
    accented += "\xC3\xA9";  // 256 characters, 512 bytes
  expectChecks(&TLMUserIdContext::isUserIdValidForDarAveved,
               {
                   {std::nullopt, true, ""},
                   {"", true, ""},
                   {std::string(256, 'a'), true, ""},
                   {accented, true, ""},
                   {std::string(257, 'a'), false, "userId is limited to 256 characters."},
               });
}

TEST(UserIdContextTest, ChecksForTheCollectorIngestionTheCPrefix) {
  expectChecks(&TLMUserIdContext::isUserIdValidForCollector,
               {
                   {std::nullopt, true, ""},
                   {"alice", true, ""},
                   {"c:alice", true, ""},
                   {"c:a:b", true, ""},
                   {std::string(1000, 'a'), true, ""},
                   {"", false, "userId must not be empty."},
                   {"c:", false, "userId must not be empty."},
                   {"x:alice", false, "userId prefix must be 'c', 'x' is not supported."},
                   {":alice", false, "userId prefix must be 'c', '' is not supported."},
                   {"cc:alice", false, "userId prefix must be 'c', 'cc' is not supported."},
               });
}

TEST(UserIdContextTest, PrefixesIdsWithoutAColon) {
  const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
      {std::nullopt, std::nullopt}, {"alice", "c:alice"}, {"c:alice", "c:alice"},
      {"x:alice", "x:alice"},       {"", "c:"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(TLMUserIdContext::prefixedUserIdFromUserId(in), out) << in.value_or("(none)");
}

TEST(UserIdContextTest, UndecodableStoredHistoriesStartEmpty) {
  ContextStore store;
  store.settings->setObject(base::Bytes{0xff, 0x00}, TLMUserIdContext::kUserIdHistoryKey);
  store.settings->setObject(42, "SessionIdHistory");
  LogCapture logs;
  EXPECT_EQ(ids(TLMUserIdContext(store.settings, store.clock).userIdHistory()),
            (Ids{std::nullopt}));
  EXPECT_EQ(TLMSessionContext(store.settings, store.clock).sessionHistory().size(), 1u);
  size_t errors = 0;
  for (const auto& line : logs.lines())
    errors += line.level == TLMLogLevel::Error;
  EXPECT_EQ(errors, 2u);
}

}  // namespace
}  // namespace tlm

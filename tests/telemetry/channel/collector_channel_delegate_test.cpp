#include "telemetry/channel/collector_channel_delegate.h"

#include <set>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channel_fixtures.h"
#include "telemetry/channel/channel_group_default.h"

namespace tlm::channeltest {
namespace {

using namespace std::chrono_literals;

class CollectorChannelDelegateTest : public ChannelTest {
 protected:
  void SetUp() override {
    group = std::make_shared<TLMChannelGroupDefault>(ingestion, storage, queue, environment());
    group->addDelegate(collector);
    group->addDelegate(delegate);
    analytics = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("Analytics"));
    mirror = group->channelUnitForGroupId("Analytics/one");
    ASSERT_TRUE(mirror);
    queue->runUntilIdle();
  }
  std::shared_ptr<TLMSDKExtension> sdk(const TLMLogPtr& log) {
    return std::dynamic_pointer_cast<TLMCommonSchemaLog>(log)->ext->sdkExt;
  }

  std::shared_ptr<FakeIngestion> collectorIngestion = std::make_shared<FakeIngestion>();
  std::shared_ptr<TLMCollectorChannelDelegate> collector =
      std::make_shared<TLMCollectorChannelDelegate>(collectorIngestion, "INSTALL-ID");
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(journal);
  std::shared_ptr<TLMChannelGroupDefault> group;
  std::shared_ptr<TLMChannelUnitProtocol> analytics;
  std::shared_ptr<TLMChannelUnitProtocol> mirror;
};

TEST_F(CollectorChannelDelegateTest, EveryOrdinaryUnitGetsOneMirrorWithItsFlushInterval) {
  group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("Crashes", 2, 1, 10, 1));
  std::vector<std::string> ids;
  for (const auto& unit : group->channels())
    ids.push_back(unit->configuration().groupId());
  EXPECT_THAT(ids, ::testing::ElementsAre("Analytics", "Analytics/one", "Crashes", "Crashes/one"));

  auto crashesMirror =
      std::dynamic_pointer_cast<TLMChannelUnitDefault>(group->channelUnitForGroupId("Crashes/one"));
  EXPECT_EQ(collector->collectorChannelForGroupId("Crashes"), crashesMirror);
  EXPECT_EQ(collector->collectorChannelForGroupId("Crashes/one"), nullptr);
  EXPECT_EQ(crashesMirror->ingestion(), collectorIngestion);
  const auto& configuration = crashesMirror->configuration();
  EXPECT_EQ(configuration.flushInterval(), 1u);
  EXPECT_EQ(configuration.priority(), 1);
  EXPECT_EQ(configuration.batchSizeLimit(), 50u);
  EXPECT_EQ(configuration.pendingBatchesLimit(), 3u);
}

TEST_F(CollectorChannelDelegateTest, LogWithTwoTargetTokensTravelsAsTwoCommonSchemaLogs) {
  auto event = std::make_shared<NamedLog>("buttonClicked");
  event->sid = "event";
  event->addTransmissionTargetToken("keyA-secretA");
  event->addTransmissionTargetToken("keyB-secretB");
  analytics->enqueueItem(event, 1);
  queue->runUntilIdle();

  EXPECT_EQ(stored("Analytics"), 0u);
  EXPECT_EQ(stored("Analytics/one"), 2u);
  queue->advance(3s);
  EXPECT_EQ(ingestion->sentCount(), 0u);
  ASSERT_EQ(collectorIngestion->sentCount(), 1u);
  const auto sent = collectorIngestion->sent()[0].logs;
  ASSERT_EQ(sent.size(), 2u);
  std::set<std::string> iKeys;
  for (const auto& log : sent) {
    auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log);
    ASSERT_TRUE(csLog);
    EXPECT_EQ(csLog->name, "buttonClicked");
    iKeys.insert(csLog->iKey.value_or(""));
    EXPECT_EQ(sdk(log)->seq, 1);
    EXPECT_TRUE(sdk(log)->epoch);
    EXPECT_EQ(sdk(log)->installId, "INSTALL-ID");
  }
  EXPECT_EQ(iKeys, (std::set<std::string>{"o:keyA", "o:keyB"}));
}

TEST_F(CollectorChannelDelegateTest, CommonSchemaLogOnAnOrdinaryUnitMovesToItsMirror) {
  analytics->enqueueItem(csLog("pageViewed"), 2);
  queue->runUntilIdle();
  EXPECT_EQ(stored("Analytics"), 0u);
  EXPECT_EQ(stored("Analytics/one"), 1u);
  EXPECT_THAT(journal, ::testing::Contains("d: didPrepare Analytics/one pageViewed 2"));
}

TEST_F(CollectorChannelDelegateTest, EventNamesAreCheckedOnTheMirror) {
  struct Case {
    std::optional<std::string> name;
    bool valid;
  };
  const std::string hundred = "a" + std::string(99, 'b');
  for (const Case& c : {Case{"abc", false}, Case{"abcd", true}, Case{"a.b_c", true},
                        Case{"ab..cd", false}, Case{"abcd.", false}, Case{"_abc", false},
                        Case{"1abc", true}, Case{"abcé", false}, Case{hundred, true},
                        Case{hundred + "c", false}, Case{"", false}, Case{std::nullopt, false}}) {
    SCOPED_TRACE(c.name.value_or("(none)"));
    LogLines lines;
    EXPECT_EQ(TLMCollectorChannelDelegate::validateLogName(c.name), c.valid);
    if (!c.valid && c.name && !c.name->empty()) {
      EXPECT_TRUE(lines.has(TLMLogLevel::Error,
                            "Log validation failed. Name must match "
                            "'^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$' but was '" +
                                *c.name + "'"));
    } else if (!c.valid) {
      EXPECT_TRUE(
          lines.has(TLMLogLevel::Error, "Log validation failed. Name must not be nil or empty."));
    }
  }

  mirror->enqueueItem(csLog("abc"), 1);
  mirror->enqueueItem(csLog("abcd"), 1);
  queue->runUntilIdle();
  EXPECT_EQ(sids(storage->logsFromDBWithGroupId("Analytics/one")),
            std::vector<std::string>{"abcd"});
}

TEST_F(CollectorChannelDelegateTest, EpochAndSequenceRunPerIKeyAndRestartAfterGroupDeletion) {
  auto a1 = csLog("first", "o:one");
  auto a2 = csLog("second", "o:one");
  auto b1 = csLog("other", "o:two");
  for (const auto& log : {a1, a2, b1})
    mirror->enqueueItem(log, 1);
  EXPECT_EQ(sdk(a1)->seq, 1);
  EXPECT_EQ(sdk(a2)->seq, 2);
  EXPECT_EQ(sdk(a1)->epoch, sdk(a2)->epoch);
  EXPECT_EQ(sdk(b1)->seq, 1);
  EXPECT_NE(sdk(b1)->epoch, sdk(a1)->epoch);

  // A log without an iKey is sequenced under its own empty key.
  auto noKey = csLog("noKey");
  noKey->iKey.reset();
  mirror->enqueueItem(noKey, 1);
  EXPECT_EQ(sdk(noKey)->seq, 1);

  group->setEnabled(false, true);
  auto a3 = csLog("third", "o:one");
  mirror->enqueueItem(a3, 1);
  EXPECT_EQ(sdk(a3)->seq, 1);
  EXPECT_NE(sdk(a3)->epoch, sdk(a1)->epoch);
}

TEST_F(CollectorChannelDelegateTest, MirrorFollowsItsUnitsSwitches) {
  auto mirrorUnit = std::dynamic_pointer_cast<TLMChannelUnitDefault>(mirror);
  auto holder = std::make_shared<int>(0);
  analytics->pauseWithIdentifyingObject(holder);
  queue->runUntilIdle();
  EXPECT_TRUE(mirrorUnit->isPaused());
  analytics->resumeWithIdentifyingObject(holder);
  queue->runUntilIdle();
  EXPECT_FALSE(mirrorUnit->isPaused());

  analytics->setEnabled(false, true);
  queue->runUntilIdle();
  EXPECT_FALSE(mirrorUnit->isEnabled());
  EXPECT_TRUE(mirrorUnit->discardLogs());
  analytics->setEnabled(true, false);
  queue->runUntilIdle();
  EXPECT_TRUE(mirrorUnit->isEnabled());
  EXPECT_FALSE(mirrorUnit->isPaused());
}

TEST_F(CollectorChannelDelegateTest, SequencesStayUniqueWhenLoggingFromManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kLogsEach = 200;
  std::vector<std::vector<std::shared_ptr<TLMCommonSchemaLog>>> logs(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLogsEach; ++i) {
        auto log = csLog("event");
        collector->prepareLog(*mirror, log);
        logs[t].push_back(log);
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  std::set<std::int64_t> seqs;
  std::set<std::string> epochs;
  for (const auto& perThread : logs) {
    for (const auto& log : perThread) {
      seqs.insert(log->ext->sdkExt->seq);
      epochs.insert(log->ext->sdkExt->epoch.value_or(""));
    }
  }
  EXPECT_EQ(seqs.size(), std::size_t{kThreads * kLogsEach});
  EXPECT_EQ(*seqs.rbegin(), kThreads * kLogsEach);
  EXPECT_EQ(epochs.size(), 1u);
}

}  // namespace
}  // namespace tlm::channeltest

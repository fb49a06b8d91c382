#include "telemetry/channel/channel_group_default.h"

#include <atomic>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channel_fixtures.h"
#include "support/telemetry_idle_http_client.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"

namespace tlm::channeltest {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

class ChannelGroupTest : public ChannelTest {
 protected:
  void SetUp() override {
    group = std::make_shared<TLMChannelGroupDefault>(ingestion, storage, queue, environment());
    group->addDelegate(delegate);
  }
  std::shared_ptr<TLMChannelUnitDefault> unitOf(
      const std::shared_ptr<TLMChannelUnitProtocol>& unit) {
    return std::dynamic_pointer_cast<TLMChannelUnitDefault>(unit);
  }

  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(journal);
  std::shared_ptr<TLMChannelGroupDefault> group;
};

TEST_F(ChannelGroupTest, UnitsShareTheGroupsQueueStoreAndIngestionAndAreFoundByGroupId) {
  auto other = std::make_shared<FakeIngestion>();
  auto first = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A"));
  auto second = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("B"), other);
  auto duplicate = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A"));

  EXPECT_EQ(unitOf(first)->ingestion(), ingestion);
  EXPECT_EQ(unitOf(second)->ingestion(), other);
  EXPECT_EQ(unitOf(first)->storage(), storage);
  EXPECT_EQ(first->logsDispatchQueue(), queue);
  EXPECT_EQ(group->channelUnitForGroupId("A"), first);
  EXPECT_EQ(group->channelUnitForGroupId("B"), second);
  EXPECT_EQ(group->channelUnitForGroupId("C"), nullptr);
  EXPECT_EQ(group->channels().size(), 3u);
  EXPECT_THAT(journal, ElementsAre("d: added A", "d: added B", "d: added A"));
  (void)duplicate;
}

TEST_F(ChannelGroupTest, LogEnqueuedRightAfterAddingAUnitIsPreparedByTheGroupsDelegates) {
  auto unit = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A"));
  unit->enqueueItem(plainLog("s0"), 1);  // before the queue ever ran
  EXPECT_THAT(journal, ElementsAre("d: added A", "d: prepare A s0", "d: didPrepare A s0 1"));
  queue->runUntilIdle();
  EXPECT_EQ(stored("A"), 1u);
}

TEST_F(ChannelGroupTest, DelegateAddedLaterHearsTheUnitsLaterEvents) {
  auto unit = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A", 0));
  auto late = std::make_shared<RecordingDelegate>(journal, "late");
  group->addDelegate(late);
  unit->enqueueItem(plainLog("s0"), 1);
  queue->runUntilIdle();
  ingestion->answer(0, 200);
  queue->runUntilIdle();
  EXPECT_THAT(journal, ::testing::IsSupersetOf({"late: prepare A s0", "late: filter? A s0",
                                                "late: complete A s0", "late: willSend A s0",
                                                "late: succeed A s0"}));

  group->removeDelegate(late);
  journal.clear();
  unit->enqueueItem(plainLog("s1"), 1);
  EXPECT_THAT(journal, ElementsAre("d: prepare A s1", "d: didPrepare A s1 1"));
}

TEST_F(ChannelGroupTest, FilterAnswerIsTheFirstYesAndEndsTheAsking) {
  auto second = std::make_shared<RecordingDelegate>(journal, "e");
  group->addDelegate(second);
  auto unit = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A"));
  second->filter = [](const TLMLogPtr& log) { return log->sid == "drop"; };
  delegate->filter = [](const TLMLogPtr& log) { return log->sid == "first"; };
  unit->enqueueItem(plainLog("first"), 1);
  unit->enqueueItem(plainLog("drop"), 1);
  unit->enqueueItem(plainLog("keep"), 1);
  queue->runUntilIdle();

  EXPECT_EQ(std::count(journal.begin(), journal.end(), "e: filter? A first"), 0);
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "e: filter? A drop"), 1);
  EXPECT_EQ(sids(storage->logsFromDBWithGroupId("A")), std::vector<std::string>{"keep"});
}

TEST_F(ChannelGroupTest, DisablingWithDeletionReachesIngestionFirstThenUnitsThenGroupDelegates) {
  group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A"));
  group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("B"));
  queue->runUntilIdle();
  journal.clear();

  group->setEnabled(false, true);
  // The group reports at once; the units report from the queue.
  EXPECT_THAT(journal, ElementsAre("ingestion enabled:01", "d: enabled group 01"));
  queue->runUntilIdle();
  // Disabling a unit pauses it with itself as the holder.
  EXPECT_THAT(journal, ElementsAre("ingestion enabled:01", "d: enabled group 01", "d: pause A",
                                   "d: enabled A 01", "d: pause B", "d: enabled B 01"));
  for (const auto& unit : group->channels())
    EXPECT_TRUE(unit->discardLogs());
}

TEST_F(ChannelGroupTest, PauseAndResumeWithTheSameObjectLeaveEveryUnitRunning) {
  auto a = unitOf(group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A")));
  auto b = unitOf(group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("B")));
  auto holder = std::make_shared<int>(0);
  auto stranger = std::make_shared<int>(1);
  queue->runUntilIdle();
  journal.clear();

  group->pauseWithIdentifyingObject(holder);
  group->resumeWithIdentifyingObject(stranger);
  queue->runUntilIdle();
  EXPECT_TRUE(a->isPaused());
  EXPECT_TRUE(b->isPaused());

  group->resumeWithIdentifyingObject(holder);
  queue->runUntilIdle();
  EXPECT_FALSE(a->isPaused());
  EXPECT_FALSE(b->isPaused());
  EXPECT_THAT(journal,
              ::testing::IsSupersetOf({"ingestion enabled:00", "ingestion enabled:10", "d: pause A",
                                       "d: pause B", "d: resume A", "d: resume B"}));
}

TEST_F(ChannelGroupTest, StorageSizeIsSetOnTheQueue) {
  std::optional<bool> outcome;
  group->setMaxStorageSize(24576, [&](bool ok) { outcome = ok; });
  EXPECT_FALSE(outcome);
  queue->runUntilIdle();
  EXPECT_EQ(outcome, true);
}

using tlm::testing::IdleHttpClient;

TEST_F(ChannelGroupTest, SdkGroupCarriesLogUrlAndSecretOnItsOwnEndpoint) {
  auto sdkGroup = TLMChannelGroupDefault::make(std::make_shared<IdleHttpClient>(), "INSTALL",
                                               "https://in.example.test", directory / "sdk",
                                               nullptr, environment());
  EXPECT_TRUE(std::filesystem::exists(directory / "sdk" / "Logs.sqlite"));
  auto own = std::dynamic_pointer_cast<TLMDarAvevedIngestion>(sdkGroup->ingestion());
  ASSERT_TRUE(own);
  EXPECT_FALSE(own->isReadyToSend());

  sdkGroup->setAppSecret("secret");
  sdkGroup->setLogUrl("https://other.example.test");
  EXPECT_EQ(sdkGroup->appSecret(), "secret");
  EXPECT_EQ(sdkGroup->logUrl(), "https://other.example.test");
  EXPECT_TRUE(own->isReadyToSend());
}

// Counts the requests it is asked to send; sends none.
class CountingHttpClient final : public TLMHttpClientProtocol {
 public:
  using TLMHttpClientProtocol::sendAsync;
  void sendAsync(const std::string&, const std::string&, const TLMHttpHeaders&,
                 std::optional<std::string>, const std::vector<double>&, bool,
                 TLMHttpCompletionHandler) override {
    ++requests;
  }
  void pause() override {}
  void resume() override {}
  void setEnabled(bool, bool) override {}
  std::shared_ptr<TLMHttpClientDelegate> delegate() const override { return nullptr; }
  void setDelegate(std::weak_ptr<TLMHttpClientDelegate>) override {}

  std::atomic<int> requests = 0;
};

TEST_F(ChannelGroupTest, IngestionKeptDisabledSendsNothingWhateverTheSwitchesAndLogsStayStored) {
  auto http = std::make_shared<CountingHttpClient>();
  auto sdkGroup = std::make_shared<TLMChannelGroupDefault>(
      TLMDarAvevedIngestion::make(http, "https://in.example.test", "INSTALL"), storage, queue,
      environment());
  sdkGroup->setAppSecret("secret");
  sdkGroup->setIngestionDisabled(true);
  // The switches that enable the ingestion otherwise.
  auto holder = std::make_shared<int>(0);
  sdkGroup->setEnabled(true, false);
  sdkGroup->pauseWithIdentifyingObject(holder);
  sdkGroup->resumeWithIdentifyingObject(holder);
  auto own = std::dynamic_pointer_cast<TLMDarAvevedIngestion>(sdkGroup->ingestion());
  ASSERT_TRUE(own);
  EXPECT_FALSE(own->isEnabled());

  auto unit =
      sdkGroup->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration("A", std::uint64_t{0}));
  for (const char* sid : {"s0", "s1", "s2"})
    unit->enqueueItem(plainLog(sid), 1);
  queue->runUntilIdle();
  queue->advance(1h);
  queue->runUntilIdle();
  EXPECT_EQ(http->requests, 0);
  EXPECT_EQ(stored("A"), 3u);

  // Let go, the ingestion follows the switches again.
  sdkGroup->setIngestionDisabled(false);
  EXPECT_TRUE(own->isEnabled());
}

}  // namespace
}  // namespace tlm::channeltest

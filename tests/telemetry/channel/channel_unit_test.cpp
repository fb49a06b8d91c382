#include "telemetry/channel/channel_unit_default.h"

#include <chrono>
#include <functional>
#include <span>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channel_fixtures.h"
#include "dispatch/serial_queue.h"

namespace tlm::channeltest {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

class ChannelUnitTest : public ChannelTest {
 protected:
  std::shared_ptr<TLMChannelUnitDefault> makeUnit(std::uint64_t flushInterval = 3,
                                                  std::uint64_t batchSize = 50,
                                                  std::uint64_t pendingBatches = 3) {
    auto unit = std::make_shared<TLMChannelUnitDefault>(
        ingestion, storage,
        TLMChannelUnitConfiguration("G", 1, flushInterval, batchSize, pendingBatches), queue,
        environment());
    unit->addDelegate(delegate);
    return unit;
  }
  void enqueue(TLMChannelUnitDefault& unit, int count, std::uint64_t flags = 1) {
    for (int i = 0; i < count; ++i)
      unit.enqueueItem(plainLog("s" + std::to_string(i)), flags);
    queue->runUntilIdle();
  }
  std::string startKey() { return "ChannelStartTimer:G"; }
  std::optional<base::Time> storedStart() {
    const auto value = settings->objectForKey(startKey());
    const auto* date = value ? value->getIf<base::Time>() : nullptr;
    return date ? std::optional<base::Time>(*date) : std::nullopt;
  }

  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(journal);
};

TEST_F(ChannelUnitTest, EnqueuedLogIsCompletedPreparedStoredAndSentAfterTheFlushInterval) {
  auto unit = makeUnit();
  auto log = plainLog("s1");
  unit->enqueueItem(log, 2);

  // Completed and prepared on the caller's thread, before the queue ran.
  EXPECT_EQ(log->timestamp, queue->now());
  ASSERT_TRUE(log->device);
  EXPECT_TRUE(log->device->isEqual(*validDevice()));
  EXPECT_THAT(journal, ElementsAre("d: prepare G s1", "d: didPrepare G s1 2"));
  ASSERT_EQ(delegate->internalIds.size(), 1u);
  EXPECT_THAT(delegate->internalIds[0], ::testing::MatchesRegex("[0-9A-F-]{36}"));

  queue->runUntilIdle();
  EXPECT_THAT(journal, ElementsAre("d: prepare G s1", "d: didPrepare G s1 2", "d: filter? G s1",
                                   "d: complete G s1"));
  EXPECT_TRUE(logLines.has(TLMLogLevel::Debug, "Saving log, type: test, flags: 2."));
  EXPECT_EQ(stored("G"), 1u);
  EXPECT_EQ(unit->itemsCount(), 1u);

  queue->advance(2999ms);
  EXPECT_EQ(ingestion->sentCount(), 0u);
  queue->advance(1ms);
  ASSERT_EQ(ingestion->sentCount(), 1u);
  EXPECT_THAT(sids(ingestion->sent()[0].logs), ElementsAre("s1"));
  EXPECT_EQ(unit->itemsCount(), 0u);
  EXPECT_EQ(journal.back(), "d: willSend G s1");
}

TEST_F(ChannelUnitTest, EachSavedLogRestartsTheThreeSecondWait) {
  auto unit = makeUnit();
  enqueue(*unit, 1);
  queue->advance(2s);
  enqueue(*unit, 1);
  queue->advance(2s);
  EXPECT_EQ(ingestion->sentCount(), 0u);
  queue->advance(1s);
  ASSERT_EQ(ingestion->sentCount(), 1u);
  EXPECT_EQ(ingestion->sent()[0].logs.size(), 2u);
}

// Counts how the unit hands logs to the store.
struct CountingStorage : TLMStorage {
  explicit CountingStorage(std::shared_ptr<TLMLogDBStorage> store) : inner(std::move(store)) {}
  bool saveLog(const TLMLogPtr& log, const std::string& groupId, std::uint64_t flags) override {
    return inner->saveLog(log, groupId, flags);
  }
  std::vector<bool> saveLogs(std::span<const LogToSave> logs, const std::string& groupId) override {
    batches.push_back(logs.size());
    return inner->saveLogs(logs, groupId);
  }
  std::uint64_t countLogs() override { return inner->countLogs(); }
  std::vector<TLMLogPtr> deleteLogsWithGroupId(const std::string& groupId) override {
    return inner->deleteLogsWithGroupId(groupId);
  }
  void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override {
    inner->deleteLogsWithBatchId(batchId, groupId);
  }
  bool loadLogsWithGroupId(const std::string& groupId, std::uint64_t limit,
                           const std::vector<std::string>& excludedTargetKeys,
                           const TLMLoadLogsCompletionHandler& handler) override {
    return inner->loadLogsWithGroupId(groupId, limit, excludedTargetKeys, handler);
  }
  void setMaxStorageSize(std::int64_t size, const std::function<void(bool)>& handler) override {
    inner->setMaxStorageSize(size, handler);
  }
  std::shared_ptr<TLMLogDBStorage> inner;
  std::vector<std::size_t> batches;
};

TEST_F(ChannelUnitTest, ABurstOfLogsIsStoredInOneGoAndCompletesInOrder) {
  auto counting = std::make_shared<CountingStorage>(storage);
  auto unit = std::make_shared<TLMChannelUnitDefault>(
      ingestion, counting, TLMChannelUnitConfiguration("G", 1, 3, 50, 3), queue, environment());
  unit->addDelegate(delegate);
  enqueue(*unit, 3);
  EXPECT_THAT(counting->batches, ElementsAre(3u));
  EXPECT_EQ(stored("G"), 3u);
  EXPECT_EQ(unit->itemsCount(), 3u);

  // A log dropped amid a burst completes after those before it are stored.
  counting->batches.clear();
  journal.clear();
  delegate->filter = [](const TLMLogPtr& log) { return sidOf(log) == "s1"; };
  enqueue(*unit, 3);
  EXPECT_THAT(counting->batches, ElementsAre(1u, 1u));
  std::vector<std::string> completed;
  for (const auto& entry : journal)
    if (entry.starts_with("d: complete")) completed.push_back(entry);
  EXPECT_THAT(completed, ElementsAre("d: complete G s0", "d: complete G s1", "d: complete G s2"));
  EXPECT_EQ(stored("G"), 5u);
}

TEST_F(ChannelUnitTest, InvalidLogsNeverReachDelegatesOrStore) {
  auto unit = makeUnit();
  auto untyped = plainLog("s1");
  untyped->type.reset();
  for (const auto& log : {TLMLogPtr(), TLMLogPtr(untyped)}) {
    unit->enqueueItem(log, 1);
    queue->runUntilIdle();
  }
  EXPECT_TRUE(logLines.has(TLMLogLevel::Warning, "Log is not valid."));
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(stored("G"), 0u);
}

TEST_F(ChannelUnitTest, FirstFilteringDelegateEndsTheAskingAndTheLogIsDropped) {
  auto unit = makeUnit();
  delegate->filter = [](const TLMLogPtr&) { return true; };
  auto second = std::make_shared<RecordingDelegate>(journal, "e");
  unit->addDelegate(second);
  enqueue(*unit, 1);

  EXPECT_EQ(std::count(journal.begin(), journal.end(), "e: filter? G s0"), 0);
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "e: complete G s0"), 1);
  EXPECT_TRUE(
      logLines.has(TLMLogLevel::Debug, "Log of type 'test' was filtered out by delegate(s)"));
  EXPECT_EQ(stored("G"), 0u);
  EXPECT_EQ(unit->itemsCount(), 0u);
}

TEST_F(ChannelUnitTest, LogsAreDroppedWhileTheIngestionIsNotReady) {
  auto unit = makeUnit();
  ingestion->setReady(false);
  enqueue(*unit, 1);
  EXPECT_TRUE(
      logLines.has(TLMLogLevel::Debug,
                   "Log of type 'test' was not filtered out by delegate(s) but ingestion is "
                   "not ready to send it."));
  EXPECT_EQ(journal.back(), "d: complete G s0");
  EXPECT_EQ(stored("G"), 0u);
}

TEST_F(ChannelUnitTest, LogTheStoreRefusesIsCompletedButNeitherCountedNorFlushed) {
  bool limited = false;
  storage->setMaxStorageSize(24576, [&](bool ok) { limited = ok; });
  ASSERT_TRUE(limited);
  auto unit = makeUnit(3, 2);  // a second counted log would flush at once
  enqueue(*unit, 1);
  auto big = plainLog("big");  // larger than the whole store
  big->properties = std::map<std::string, std::string>{{"payload", std::string(30000, 'x')}};
  unit->enqueueItem(big, 1);
  queue->runUntilIdle();

  EXPECT_EQ(journal.back(), "d: complete G big");
  EXPECT_EQ(stored("G"), 1u);
  EXPECT_EQ(unit->itemsCount(), 1u);
  EXPECT_EQ(ingestion->sentCount(), 0u);
}

TEST_F(ChannelUnitTest, WhenAFullBatchFlushesDependsOnTheInterval) {
  struct Case {
    std::uint64_t interval;
    int logs;
    std::size_t sentAtOnce;
    std::chrono::seconds timer;
  };
  // Only an interval of exactly 3 flushes a full batch at once; 0 flushes
  // every saved log; 1 and 2 wait for their timer and keep no start time.
  for (const Case& c :
       {Case{3, 50, 1, 3s}, Case{2, 50, 0, 2s}, Case{1, 1, 0, 1s}, Case{0, 1, 1, 0s}}) {
    SCOPED_TRACE(c.interval);
    ingestion = std::make_shared<FakeIngestion>();
    auto unit = makeUnit(c.interval);
    enqueue(*unit, c.logs);
    EXPECT_EQ(ingestion->sentCount(), c.sentAtOnce);
    EXPECT_FALSE(storedStart());
    if (c.sentAtOnce == 0) {
      queue->advance(c.timer - 1ms);
      EXPECT_EQ(ingestion->sentCount(), 0u);
      queue->advance(1ms);
      EXPECT_EQ(ingestion->sentCount(), 1u);
    }
    queue->advance(10s);
    EXPECT_EQ(ingestion->sentCount(), 1u);
    storage->deleteLogsWithGroupId("G");
  }
}

TEST_F(ChannelUnitTest, LongIntervalMeasuresTheWaitFromThePersistedStart) {
  struct Case {
    const char* name;
    std::optional<std::chrono::milliseconds> storedAgo;  // negative: in the future
    std::chrono::milliseconds wait;                      // until the flush
  };
  // After a restart 10.5 s into a 60 s wait, 50 s are left (whole seconds).
  for (const Case& c :
       {Case{"no start yet", std::nullopt, 60s}, Case{"restart 10.5 s later", 10500ms, 50s},
        Case{"interval already passed", 100s, 0s}, Case{"start in the future", -30s, 60s}}) {
    SCOPED_TRACE(c.name);
    ingestion = std::make_shared<FakeIngestion>();
    settings->removeObjectForKey(startKey());
    if (c.storedAgo) settings->setObject(coding::Value(queue->now() - *c.storedAgo), startKey());
    auto unit = makeUnit(60);
    const auto enqueuedAt = queue->now();
    enqueue(*unit, 1);

    if (c.wait > 0s) {
      if (!c.storedAgo || *c.storedAgo < 0s) {
        EXPECT_EQ(storedStart(), enqueuedAt);
      }
      queue->advance(c.wait - 1ms);
      EXPECT_EQ(ingestion->sentCount(), 0u);
      queue->advance(1ms);
    }
    EXPECT_EQ(ingestion->sentCount(), 1u);
    EXPECT_FALSE(storedStart());  // removed by the timer or when found passed
    storage->deleteLogsWithGroupId("G");
  }
}

TEST_F(ChannelUnitTest, AtMostThePendingLimitOfBatchesIsInFlight) {
  auto unit = makeUnit(3, 2, 3);
  auto holder = std::make_shared<int>(0);
  unit->pauseWithIdentifyingObject(holder);
  enqueue(*unit, 10);
  EXPECT_EQ(ingestion->sentCount(), 0u);

  unit->resumeWithIdentifyingObject(holder);
  queue->runUntilIdle();
  ASSERT_EQ(ingestion->sentCount(), 3u);
  EXPECT_TRUE(unit->pendingBatchQueueFull());
  EXPECT_TRUE(unit->availableBatchFromStorage());

  // A further flush loads nothing.
  enqueue(*unit, 1);
  queue->advance(3s);
  EXPECT_EQ(ingestion->sentCount(), 3u);

  // A success with more logs waiting starts the next batch at once...
  ingestion->answer(0, 200);
  queue->runUntilIdle();
  EXPECT_EQ(ingestion->sentCount(), 4u);
  EXPECT_EQ(stored("G"), 9u);

  // ...a recoverable failure does not, and its logs stay stored.
  ingestion->answer(1, 503);
  queue->runUntilIdle();
  EXPECT_EQ(ingestion->sentCount(), 4u);
  EXPECT_FALSE(unit->pendingBatchQueueFull());
  EXPECT_EQ(unit->pendingBatchIds().size(), 2u);
  EXPECT_EQ(stored("G"), 9u);
  EXPECT_TRUE(unit->isEnabled());
}

TEST_F(ChannelUnitTest, AnswerStatusDecidesWhatHappensToTheBatch) {
  struct Case {
    std::int64_t status;
    std::size_t storedAfter;  // of the 2 logs sent and 1 log not yet sent
    bool enabledAfter;
  };
  // Only 200 is success; 201 and 204 are as fatal as 401.
  for (const Case& c :
       {Case{200, 1, true}, Case{0, 3, true}, Case{408, 3, true}, Case{429, 3, true},
        Case{500, 3, true}, Case{201, 0, false}, Case{204, 0, false}, Case{401, 0, false}}) {
    SCOPED_TRACE(c.status);
    ingestion = std::make_shared<FakeIngestion>();
    journal.clear();
    delegate->errors.clear();
    auto unit = makeUnit(3, 2, 1);
    enqueue(*unit, 2);
    queue->advance(3s);
    unit->enqueueItem(plainLog("late"), 1);  // stored, waiting behind the full queue
    queue->runUntilIdle();
    ASSERT_EQ(ingestion->sentCount(), 1u);

    ingestion->answer(0, c.status);
    queue->runUntilIdle();
    EXPECT_EQ(stored("G"), c.storedAfter);
    EXPECT_EQ(unit->isEnabled(), c.enabledAfter);
    EXPECT_EQ(unit->discardLogs(), !c.enabledAfter);
    for (const std::string sid : {"s0", "s1"}) {
      const auto verdict = c.status == 200 ? "d: succeed G " + sid : "d: fail G " + sid + " none";
      EXPECT_EQ(std::count(journal.begin(), journal.end(), verdict), 1) << verdict;
    }
    if (c.status != 200) {
      EXPECT_TRUE(
          logLines.contains("Log(s) sent with failure, batch Id:" + ingestion->sent()[0].batchId +
                            ", status code:" + std::to_string(c.status)));
    }
    if (!c.enabledAfter) {
      EXPECT_TRUE(
          logLines.has(TLMLogLevel::Error,
                       "Fatal error encountered; shutting down channel unit with group ID G"));
      // The stored log that was never sent is reported with the code-100
      // error; the batch in flight is deleted without a second report.
      EXPECT_EQ(std::count(journal.begin(), journal.end(), "d: fail G late 100"), 1);
      EXPECT_EQ(std::count(journal.begin(), journal.end(), "d: fail G s0 100"), 0);
      EXPECT_TRUE(unit->pendingBatchIds().empty());

      // Enabled again, the unit sends: the deletion freed its in-flight slot.
      unit->setEnabled(true, false);
      enqueue(*unit, 1);
      queue->advance(3s);
      EXPECT_EQ(ingestion->sentCount(), 2u);
    }
    storage->deleteLogsWithGroupId("G");
  }
}

TEST_F(ChannelUnitTest, AnswerForAnUnknownBatchIsIgnored) {
  auto unit = makeUnit();
  enqueue(*unit, 1);
  queue->advance(3s);
  ingestion->answer(0, 200);
  queue->runUntilIdle();
  ingestion->answer(0, 500);  // the same batch again
  queue->runUntilIdle();
  EXPECT_TRUE(logLines.has(TLMLogLevel::Warning,
                           "Batch Id " + ingestion->sent()[0].batchId + " not expected, ignore."));
  EXPECT_TRUE(unit->isEnabled());
}

TEST_F(ChannelUnitTest, PauseLaneKeepsTheUnitPausedWhileAnyHolderRemains) {
  auto unit = makeUnit();
  auto first = std::make_shared<int>(1);
  auto second = std::make_shared<int>(2);
  unit->pauseWithIdentifyingObject(first);
  unit->pauseWithIdentifyingObject(second);
  enqueue(*unit, 2);
  EXPECT_EQ(stored("G"), 2u);  // stored as usual while paused

  unit->resumeWithIdentifyingObject(first);
  queue->advance(10s);
  EXPECT_TRUE(unit->isPaused());
  EXPECT_EQ(ingestion->sentCount(), 0u);

  unit->resumeWithIdentifyingObject(second);
  queue->runUntilIdle();
  EXPECT_FALSE(unit->isPaused());
  EXPECT_TRUE(logLines.has(TLMLogLevel::Debug, "Resume channel G."));
  queue->advance(3s);
  EXPECT_EQ(ingestion->sentCount(), 1u);

  // A holder that died no longer holds the unit: any resume frees it.
  auto gone = std::make_shared<int>(3);
  unit->pauseWithIdentifyingObject(gone);
  queue->runUntilIdle();
  gone.reset();
  unit->resumeWithIdentifyingObject(first);
  queue->runUntilIdle();
  EXPECT_FALSE(unit->isPaused());
}

TEST_F(ChannelUnitTest, DisablingWithoutDeletionKeepsLogsAndSendsThemAfterEnabling) {
  auto unit = makeUnit();
  unit->setEnabled(false, false);
  enqueue(*unit, 2);
  queue->advance(10s);
  EXPECT_EQ(ingestion->sentCount(), 0u);
  EXPECT_EQ(stored("G"), 2u);
  EXPECT_TRUE(unit->isPaused());

  unit->setEnabled(true, false);
  queue->advance(3s);
  ASSERT_EQ(ingestion->sentCount(), 1u);
  EXPECT_EQ(ingestion->sent()[0].logs.size(), 2u);
  EXPECT_THAT(std::vector<std::string>(journal.end() - 2, journal.end()),
              ElementsAre("d: willSend G s0", "d: willSend G s1"));
}

TEST_F(ChannelUnitTest, DisablingWithDeletionRefusesLogsUntilEnabledAgain) {
  auto unit = makeUnit(60);
  enqueue(*unit, 1);
  ASSERT_TRUE(storedStart());
  unit->setEnabled(false, true);
  queue->runUntilIdle();
  EXPECT_EQ(stored("G"), 0u);
  EXPECT_FALSE(storedStart());  // the deleted logs' wait is forgotten too
  EXPECT_EQ(journal.back(), "d: enabled G 01");

  journal.clear();
  enqueue(*unit, 1);
  EXPECT_TRUE(logLines.has(TLMLogLevel::Warning,
                           "Channel G disabled in log discarding mode, discard this log."));
  EXPECT_THAT(journal, ::testing::IsSupersetOf({"d: willSend G s0", "d: fail G s0 100"}));
  ASSERT_FALSE(delegate->errors.empty());
  EXPECT_EQ(delegate->errors.back(), base::Error("com.Zodoradud.DarAveved.ErrorDomain", 100,
                                                 "Canceled, connection paused with log deletion."));
  EXPECT_EQ(stored("G"), 0u);

  unit->setEnabled(true, false);
  enqueue(*unit, 1);
  EXPECT_FALSE(unit->discardLogs());
  EXPECT_EQ(stored("G"), 1u);
}

TEST_F(ChannelUnitTest, PausedTargetKeysAreSkippedUntilResumed) {
  auto unit = makeUnit();
  unit->pauseSendingLogsWithToken("keyA-secret");
  auto paused = csLog("pausedEvent", "o:keyA");
  paused->addTransmissionTargetToken("keyA-secret");
  unit->enqueueItem(paused, 1);
  unit->enqueueItem(plainLog("plain"), 1);
  queue->runUntilIdle();
  queue->advance(3s);
  ASSERT_EQ(ingestion->sentCount(), 1u);
  EXPECT_THAT(sids(ingestion->sent()[0].logs), ElementsAre("plain"));
  EXPECT_TRUE(logLines.has(TLMLogLevel::Debug, "Pause channel for target key keyA."));

  unit->resumeSendingLogsWithToken("keyA-secret");
  queue->runUntilIdle();
  EXPECT_EQ(unit->itemsCount(), 2u);  // every stored log, in flight or not
  queue->advance(3s);
  ASSERT_EQ(ingestion->sentCount(), 2u);
  EXPECT_THAT(sids(ingestion->sent()[1].logs), ElementsAre("pausedEvent"));
}

TEST_F(ChannelUnitTest, TokenWithoutTargetKeyChangesNothing) {
  auto unit = makeUnit();
  unit->pauseSendingLogsWithToken("-no-key");
  unit->resumeSendingLogsWithToken("");
  queue->runUntilIdle();
  EXPECT_TRUE(unit->pausedTargetKeys().empty());
  EXPECT_TRUE(logLines.contains("has no target key"));
}

TEST_F(ChannelUnitTest, PayloadIsLoggedOnlyAtDebugLevelOrBelow) {
  for (const auto level : {TLMLogLevel::Debug, TLMLogLevel::Warning}) {
    LogLines lines;
    TLMLogger::setCurrentLogLevel(level);
    ingestion = std::make_shared<FakeIngestion>();
    auto unit = makeUnit(0);
    enqueue(*unit, 1);
    ASSERT_EQ(ingestion->sentCount(), 1u);
    const std::string prefix =
        "Sending 1/1 log, group Id: G, batch Id: " + ingestion->sent()[0].batchId +
        ", session Id: s0, payload:\n{";
    EXPECT_EQ(lines.contains(prefix), level == TLMLogLevel::Debug);
  }
}

TEST_F(ChannelUnitTest, ZeroBatchSizeDoesNotSpinWhenFlushing) {
  auto unit = makeUnit(0, 0, 3);
  enqueue(*unit, 1);
  EXPECT_EQ(ingestion->sentCount(), 0u);
  EXPECT_EQ(stored("G"), 1u);
}

TEST_F(ChannelUnitTest, AnswersFromAnotherThreadAreHandledOnTheQueue) {
  auto serial = std::make_shared<dispatch::SerialQueue>("channel.test");
  auto unit = std::make_shared<TLMChannelUnitDefault>(
      ingestion, storage, TLMChannelUnitConfiguration("G", 0), serial, environment());
  unit->addDelegate(delegate);
  unit->enqueueItem(plainLog("s0"), 1);
  ASSERT_TRUE(serial->sync([] {}));
  ASSERT_EQ(ingestion->sentCount(), 1u);

  std::thread transport([&] { ingestion->answer(0, 200); });
  transport.join();
  std::size_t left = 1;
  ASSERT_TRUE(serial->sync([&] { left = stored("G") + unit->pendingBatchIds().size(); }));
  EXPECT_EQ(left, 0u);
}

}  // namespace
}  // namespace tlm::channeltest

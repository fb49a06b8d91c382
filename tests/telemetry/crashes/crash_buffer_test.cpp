// The crash-time log buffer: slots, the crash callback's files, and the
// replay at the next start.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "telemetry/crashes/crashes_fixture.h"

namespace tlm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CrashBufferTest : public CrashesFixture {
 protected:
  static TLMLogPtr eventLog(const std::string& sid) {
    auto log = std::make_shared<TLMLogWithProperties>();
    log->type = "event";
    log->sid = sid;
    log->properties = std::map<std::string, std::string>{{"name", sid}};
    return log;
  }
  std::vector<std::string> bufferedIds() const {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < kTLMCrashesBufferSlotCount; ++i)
      ids.push_back(TLMCrashesBuffer::slot(i).internalId);
    return ids;
  }
};

TEST_F(CrashBufferTest, SetUpMakesSixtyEmptyFilesAndKeepsExistingOnes) {
  writeFile(bufferDir() / "7.tlmcrasheslogbuffer", "from the last crash");
  makeService();
  const auto names = namesIn(bufferDir());
  EXPECT_EQ(names.size(), 60u);
  EXPECT_EQ(readFile(bufferDir() / "7.tlmcrasheslogbuffer"), "from the last crash");
  EXPECT_EQ(TLMCrashesBuffer::filePath(59), (bufferDir() / "59.tlmcrasheslogbuffer").string());
  EXPECT_EQ(TLMCrashesBuffer::tokenFilePath(59), (bufferDir() / "59.targettoken").string());
}

TEST_F(CrashBufferTest, TokenPathsHaveTheExtensionReplacedInTheirFolderToo) {
  TLMCrashesBuffer::setPaths("/data/old.tlmcrasheslogbuffer");
  EXPECT_EQ(TLMCrashesBuffer::filePath(12), "/data/old.tlmcrasheslogbuffer/12.tlmcrasheslogbuffer");
  EXPECT_EQ(TLMCrashesBuffer::tokenFilePath(12), "/data/old.targettoken/12.targettoken");
  TLMCrashesBuffer::resetForTesting();
  EXPECT_EQ(TLMCrashesBuffer::filePath(0), "");
}

TEST_F(CrashBufferTest, SetUpRemovesBufferFilesOfTheEarlierExtension) {
  writeFile(bufferDir() / "4.mscrasheslogbuffer", "left by an earlier build");
  writeFile(bufferDir() / "4.tlmcrasheslogbuffer", "from the last crash");
  makeService();
  EXPECT_FALSE(std::filesystem::exists(bufferDir() / "4.mscrasheslogbuffer"));
  EXPECT_EQ(readFile(bufferDir() / "4.tlmcrasheslogbuffer"), "from the last crash");
  EXPECT_EQ(namesIn(bufferDir()).size(), 60u);
}

TEST_F(CrashBufferTest, TheSixtyFirstLogReplacesTheOldestLowestIndexFirst) {
  const auto service = start();
  auto& channel = *unit("Crashes");
  // Slots 0..59 filled at t, except slots 4 and 9, filled one second earlier.
  for (int i = 0; i < 60; ++i) {
    if (i == 4) clock.advance(std::chrono::seconds(-1));
    service->callbacks().didPrepareLog(channel, eventLog("s" + std::to_string(i)),
                                       "id" + std::to_string(i), 1);
    if (i == 4) clock.advance(std::chrono::seconds(1));
    if (i == 8) clock.advance(std::chrono::seconds(-1));
    if (i == 9) clock.advance(std::chrono::seconds(1));
  }
  service->callbacks().didPrepareLog(channel, eventLog("late"), "id60", 1);
  service->callbacks().didPrepareLog(channel, eventLog("later"), "id61", 1);

  const auto ids = bufferedIds();
  EXPECT_EQ(ids[4], "id60");
  EXPECT_EQ(ids[9], "id61");
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose,
                       "Reached end of buffer. Next step is overwriting the oldest one.",
                       kTLMCrashesLogTag));
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Verbose, "Overwrote buffered log at index 4.", kTLMCrashesLogTag));
}

TEST_F(CrashBufferTest, CrashLogsAttachmentsAndLogsWhileDisabledAreNotBuffered) {
  const auto service = start();
  auto& channel = *unit("Crashes");
  service->callbacks().didPrepareLog(channel, std::make_shared<TLMAppleErrorLog>(), "crash", 2);
  service->callbacks().didPrepareLog(
      channel, TLMErrorAttachmentLog::attachmentWithText("t", "t.txt"), "att", 1);
  service->callbacks().didPrepareLog(channel, std::make_shared<TLMHandledErrorLog>(), "handled", 1);
  TLMCrashes::serviceClass().setEnabled(false);
  service->callbacks().didPrepareLog(channel, eventLog("off"), "off", 1);

  auto ids = bufferedIds();
  std::erase(ids, "");
  EXPECT_THAT(ids, ElementsAre("handled"));
}

TEST_F(CrashBufferTest, TheCrashCallbackWritesEverySlotAndTokensOnlyWhereThereAreSome) {
  const auto service = start();
  auto& channel = *unit("Crashes");
  auto withToken = eventLog("with token");
  withToken->addTransmissionTargetToken("target-token-1");
  service->callbacks().didPrepareLog(channel, withToken, "a", 1);
  service->callbacks().didPrepareLog(channel, eventLog("plain"), "b", 1);
  service->callbacks().didPrepareLog(channel, eventLog("stored"), "c", 1);
  service->callbacks().didCompleteEnqueueingLog(channel, eventLog("stored"), "c");
  writeFile(bufferDir() / "1.targettoken", "stale token of an earlier crash");

  reporter->simulateCrash();

  EXPECT_TRUE(TLMCrashesBuffer::wasWrittenAtCrash());
  EXPECT_FALSE(readFile(bufferDir() / "0.tlmcrasheslogbuffer").empty());
  EXPECT_FALSE(readFile(bufferDir() / "1.tlmcrasheslogbuffer").empty());
  EXPECT_EQ(readFile(bufferDir() / "2.tlmcrasheslogbuffer"), "");
  EXPECT_EQ(readFile(bufferDir() / "0.targettoken"), TLMCrashesBuffer::slot(0).encryptedToken);
  EXPECT_FALSE(std::filesystem::exists(bufferDir() / "1.targettoken"));

  // Stored after the crash callback ran: its file goes.
  service->callbacks().didCompleteEnqueueingLog(channel, eventLog("plain"), "b");
  EXPECT_FALSE(std::filesystem::exists(bufferDir() / "1.tlmcrasheslogbuffer"));
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose, "Deleted crash buffer file: ", kTLMCrashesLogTag));
}

TEST_F(CrashBufferTest, TheNextStartReplaysTheBufferedLogs) {
  auto service = start();
  auto& channel = *unit("Crashes");
  auto withToken = eventLog("first");
  withToken->addTransmissionTargetToken("target-token-1");
  service->callbacks().didPrepareLog(channel, withToken, "a", 1);
  service->callbacks().didPrepareLog(channel, eventLog("second"), "b", 1);
  reporter->simulateCrash();
  writeFile(bufferDir() / "5.tlmcrasheslogbuffer", "not an archive");
  TLMCrashesBuffer::resetForTesting();

  service = restart();

  const auto replayed = unit("CrashesBuffer")->enqueued();
  ASSERT_EQ(replayed.size(), 2u);
  EXPECT_EQ(replayed[0].log->sid, "first");
  EXPECT_EQ(replayed[0].log->transmissionTargetTokens(), std::set<std::string>{"target-token-1"});
  EXPECT_EQ(replayed[0].flags, 1u);
  EXPECT_EQ(replayed[1].log->sid, "second");
  EXPECT_TRUE(replayed[1].log->transmissionTargetTokens().empty());
  EXPECT_FALSE(std::filesystem::exists(bufferDir() / "0.targettoken"));
  EXPECT_EQ(readFile(bufferDir() / "0.tlmcrasheslogbuffer"), "");
  EXPECT_EQ(readFile(bufferDir() / "1.tlmcrasheslogbuffer"), "");
  // An undecodable file is reported and left as it is.
  EXPECT_EQ(readFile(bufferDir() / "5.tlmcrasheslogbuffer"), "not an archive");
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "Deserialization failed for log: The log deserialized to NULL."));

  // A second replay (the application starting the SDK after a library)
  // finds the emptied files and sends nothing more.
  service->updateConfigurationWithAppSecret("secret", std::nullopt);
  const auto units = sdk.group()->unitGroupIds();
  EXPECT_EQ(std::count(units.begin(), units.end(), "CrashesBuffer"), 2);
  EXPECT_THAT(service->bufferSlots().channelUnit()
                  ? std::dynamic_pointer_cast<FakeChannelUnit>(service->bufferSlots().channelUnit())
                        ->enqueued()
                  : std::vector<FakeChannelUnit::Enqueued>{},
              IsEmpty());
}

}  // namespace
}  // namespace tlm::testing

// Processing of the previous run's reports: listing, decoding, the
// delegate's filter, user confirmation, attachments and manual processing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "telemetry/crashes/crashes_fixture.h"

namespace tlm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CrashProcessingTest : public CrashesFixture {
 protected:
  // Runs the processing scheduled one second after start.
  void process() { processingQueue->advance(std::chrono::seconds(1)); }

  std::vector<FakeChannelUnit::Enqueued> sent() const { return unit("Crashes")->enqueued(); }
  std::vector<std::string> sentTypes() const {
    std::vector<std::string> types;
    for (const auto& item : sent())
      types.push_back(item.log->type.value_or("?") + "/" + std::to_string(item.flags));
    return types;
  }
};

TEST_F(CrashProcessingTest, OnlyNonEmptyRegularFilesWithoutReservedSuffixesAreReports) {
  const auto service = makeService();
  storeReport("736250000", reportBytes());
  storeReport("736250001", {});
  for (const char* name :
       {"x.DS_Store", "TLCrashes.analyzer", "a.plist", "b.data", "c.meta", "d.desc", "e.tlcrash"})
    writeFile(crashesDir() / name, "content");
  std::filesystem::create_directories(crashesDir() / "folder");

  std::vector<std::string> names;
  for (const auto& path : service->processing().persistedCrashReports())
    names.push_back(path.filename().string());
  EXPECT_THAT(names, ElementsAre("736250000", "e.tlcrash"));
}

TEST_F(CrashProcessingTest, StoredReportsAreSentOneSecondAfterStartAndDeleted) {
  storeReport("736250000", reportBytes());
  auto attachment = TLMErrorAttachmentLog::attachmentWithText("log text", "log.txt");
  const auto service = restart();
  TLMCrashesDelegate delegate;
  delegate.attachmentsWithCrashes = [&](TLMCrashes&, const std::shared_ptr<TLMErrorReport>&) {
    return TLMErrorAttachments{attachment};
  };
  service->callbacks().setDelegate(delegate);

  EXPECT_THAT(sent(), IsEmpty());
  process();

  EXPECT_THAT(sentTypes(), ElementsAre("appleError/2", "errorAttachment/1"));
  const auto crashLog = std::dynamic_pointer_cast<TLMAppleErrorLog>(sent()[0].log);
  ASSERT_TRUE(crashLog);
  EXPECT_EQ(crashLog->errorId, "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
  EXPECT_EQ(attachment->errorId, crashLog->errorId);
  EXPECT_THAT(namesIn(crashesDir()), IsEmpty());
  EXPECT_THAT(service->processing().crashFiles(), IsEmpty());
  EXPECT_THAT(service->processing().unprocessedCrashReports(), IsEmpty());
}

TEST_F(CrashProcessingTest, TheCrashLogCarriesTheSessionAndUserOfTheCrashTime) {
  // 2023-11-14T22:13:20Z is the report's time; the session and user ids of
  // that time come from the histories of the crashed run.
  dispatch::VirtualClock crashRun(dispatch::WallTime(std::chrono::seconds(1700000000 - 60)));
  auto session = std::make_shared<TLMSessionContext>(
      std::shared_ptr<TLMDarAvevedUserDefaults>(&sdk.settings(), [](auto*) {}), crashRun);
  session->setSessionId("crashed-session");
  auto users = std::make_shared<TLMUserIdContext>(
      std::shared_ptr<TLMDarAvevedUserDefaults>(&sdk.settings(), [](auto*) {}), crashRun);
  users->setUserId("alice");
  TLMSessionContext::setSharedForTesting();
  TLMUserIdContext::setSharedForTesting();
  storeReport("736250000", reportBytes());
  start();
  TLMSessionContext::sharedInstance()->setSessionId("current-session");

  process();

  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0].log->sid, "crashed-session");
  EXPECT_EQ(sent()[0].log->userId, "alice");
  // The histories are trimmed once the reports are dealt with.
  EXPECT_EQ(TLMSessionContext::sharedInstance()->sessionHistory().size(), 1u);
}

TEST_F(CrashProcessingTest, ADelegateThatRefusesEveryReportDropsThemAll) {
  storeReport("736250000", reportBytes(4242, 0x01));
  storeReport("736250001", reportBytes(4343, 0x02));
  TLMWrapperException wrapper;
  wrapper.processId = 4343;
  TLMWrapperExceptionManager::saveWrapperException(wrapper);
  const auto service = start();
  std::vector<std::string> asked;
  TLMCrashesDelegate delegate;
  delegate.shouldProcessErrorReport = [&](TLMCrashes&,
                                          const std::shared_ptr<TLMErrorReport>& report) {
    asked.push_back(std::to_string(report->appProcessIdentifier()));
    return false;
  };
  service->callbacks().setDelegate(delegate);

  process();

  EXPECT_THAT(asked, ElementsAre("4242", "4343"));
  EXPECT_THAT(sent(), IsEmpty());
  EXPECT_THAT(namesIn(crashesDir()), IsEmpty());
  EXPECT_THAT(namesIn(dataDir() / "crasheswrapperexceptions"), IsEmpty());
  EXPECT_THAT(service->processing().crashFiles(), IsEmpty());
}

struct ConfirmationCase {
  const char* name;
  TLMUserConfirmation answer;
  std::vector<std::string> sent;
  bool filesLeft;
  bool alwaysStored;
};

void PrintTo(const ConfirmationCase& c, std::ostream* os) {
  *os << c.name;
}

class UserConfirmationTest : public CrashProcessingTest,
                             public ::testing::WithParamInterface<ConfirmationCase> {};

TEST_P(UserConfirmationTest, NothingIsSentBeforeTheAnswer) {
  const auto& c = GetParam();
  storeReport("736250000", reportBytes());
  const auto service = start();
  std::vector<std::size_t> asked;
  service->userConfirmation().setHandler(
      [&](const std::vector<std::shared_ptr<TLMErrorReport>>& reports) {
        asked.push_back(reports.size());
        return true;
      });

  process();
  EXPECT_THAT(asked, ElementsAre(1u));
  EXPECT_THAT(sent(), IsEmpty());
  EXPECT_EQ(namesIn(crashesDir()).size(), 1u);

  service->processing().notifyWithUserConfirmation(c.answer);
  EXPECT_EQ(sentTypes(), c.sent);
  EXPECT_EQ(!namesIn(crashesDir()).empty(), c.filesLeft);
  EXPECT_EQ(service->userConfirmation().alwaysSend(), c.alwaysStored);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UserConfirmationTest,
    ::testing::Values(
        ConfirmationCase{"DontSend", TLMUserConfirmation::DontSend, {}, false, false},
        ConfirmationCase{"Send", TLMUserConfirmation::Send, {"appleError/2"}, false, false},
        ConfirmationCase{"Always", TLMUserConfirmation::Always, {"appleError/2"}, false, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CrashProcessingTest, AfterAlwaysLaterRunsSendWithoutAsking) {
  sdk.settings().setObject(true, "CrashesUserConfirmation");
  storeReport("736250000", reportBytes());
  const auto service = start();
  bool asked = false;
  service->userConfirmation().setHandler([&](const auto&) { return asked = true; });
  process();
  EXPECT_FALSE(asked);
  EXPECT_THAT(sentTypes(), ElementsAre("appleError/2"));
}

// A main queue other threads may post to, pumped by the test's thread.
class LockedQueue : public dispatch::Queue {
 public:
  void async(dispatch::Task task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  dispatch::TimerHandle after(dispatch::Duration, dispatch::Task task) override {
    auto [handle, guarded] = dispatch::TimerHandle::wrap(std::move(task));
    async(std::move(guarded));
    return handle;
  }
  const dispatch::Clock& clock() const override { return clock_; }
  void runPending() {
    std::vector<dispatch::Task> tasks;
    {
      std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks)
      task();
  }

 private:
  std::mutex mutex_;
  std::vector<dispatch::Task> tasks_;
  dispatch::VirtualClock clock_;
};

TEST_F(CrashProcessingTest, TheHandlerIsAskedOnTheMainQueueFromAnotherThread) {
  onMainThread = false;
  auto main = std::make_shared<LockedQueue>();
  mainQueueForService = main;
  storeReport("736250000", reportBytes());
  const auto service = start();
  std::thread::id askedOn;
  service->userConfirmation().setHandler([&](const auto&) {
    askedOn = std::this_thread::get_id();
    return false;
  });
  // The processing runs on its own thread; the main queue is pumped here.
  std::atomic<bool> processed = false;
  std::thread processing([&] {
    process();
    processed = true;
  });
  while (!processed)
    main->runPending();
  processing.join();
  EXPECT_EQ(askedOn, std::this_thread::get_id());
  EXPECT_THAT(sentTypes(), ElementsAre("appleError/2"));
}

TEST_F(CrashProcessingTest, AnAnswerWithoutAQuestionIsAUsageError) {
  const auto service = makeService();
  service->processing().notifyWithUserConfirmation(TLMUserConfirmation::Send);
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "Incorrect usage of notifyWithUserConfirmation:", kTLMCrashesLogTag));
}

struct AttachmentCase {
  const char* name;
  std::size_t size;
  std::optional<std::string> contentType;
  bool sent;
  const char* message;
};

void PrintTo(const AttachmentCase& c, std::ostream* os) {
  *os << c.name;
}

class AttachmentLimitTest : public CrashProcessingTest,
                            public ::testing::WithParamInterface<AttachmentCase> {};

TEST_P(AttachmentLimitTest, OnlyCompleteAttachmentsUpToSevenMebibytesAreSent) {
  const auto& c = GetParam();
  const auto service = start();
  auto attachment = TLMErrorAttachmentLog::attachmentWithBinary(base::Bytes(c.size, 0x5A),
                                                                "dump.bin", c.contentType);
  service->processing().sendErrorAttachments({attachment}, "INCIDENT");
  EXPECT_EQ(sent().size(), c.sent ? 1u : 0u);
  if (c.message) {
    EXPECT_TRUE(logs.has(TLMLogLevel::Error, c.message, kTLMCrashesLogTag));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, AttachmentLimitTest,
    ::testing::Values(
        AttachmentCase{"AtTheLimit", 7340032, "application/octet-stream", true, nullptr},
        AttachmentCase{"AboveTheLimit", 7340033, "application/octet-stream", false,
                       "Discarding attachment with size above 7340032 bytes: size=7340033, "
                       "fileName=dump.bin."},
        AttachmentCase{"NoContentType", 10, std::nullopt, false,
                       "Not all required fields are present"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CrashProcessingTest, APendingReportThatCrashedTheDecoderIsPurgedUndecoded) {
  writeFile(crashesDir() / "TLCrashes.analyzer", "");
  pendingReport = reportBytes();
  const auto service = start();
  EXPECT_EQ(reporter->purgeCount(), 1);
  EXPECT_THAT(namesIn(crashesDir()), IsEmpty());
  EXPECT_EQ(service->pendingReport().lastSessionCrashReport(), nullptr);
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, "Error on loading the crash report, it will be purged.",
                       kTLMCrashesLogTag));

  // The next crash is reported normally.
  restart();
  EXPECT_EQ(reporter->purgeCount(), 1);
  EXPECT_THAT(namesIn(crashesDir()), ElementsAre("736250400"));
}

TEST_F(CrashProcessingTest, TwoCrashesCopiedInTheSameSecondAreBothKept) {
  pendingReport = reportBytes(1, 0x01);
  start();
  pendingReport = reportBytes(2, 0x02);
  restart();
  EXPECT_THAT(namesIn(crashesDir()), ElementsAre("736250400", "736250400-1"));
  process();
  EXPECT_THAT(sentTypes(), ElementsAre("appleError/2", "appleError/2"));
}

TEST_F(CrashProcessingTest, ThePendingReportIsDecodedOnceAtStartAndSentFromThat) {
  pendingReport = reportBytes();
  const auto service = start();
  const auto lastSession = service->pendingReport().lastSessionCrashReport();
  ASSERT_TRUE(lastSession);
  // Processing takes the report decoded at start, not the copy on disk.
  writeFile(crashesDir() / "736250400", "tlcrash\x01 damaged");
  process();
  ASSERT_THAT(sentTypes(), ElementsAre("appleError/2"));
  const auto crashLog = std::dynamic_pointer_cast<TLMAppleErrorLog>(sent()[0].log);
  ASSERT_TRUE(crashLog);
  EXPECT_EQ(crashLog->errorId, lastSession->incidentIdentifier());
  EXPECT_FALSE(logs.has(
      TLMLogLevel::Warning,
      "Crash report found but couldn't parse it, discard the crash report: ", kTLMCrashesLogTag));
}

TEST_F(CrashProcessingTest, AStoredReportThatDoesNotDecodeStaysForTheNextStart) {
  writeFile(crashesDir() / "736250000", "tlcrash\x01 damaged");
  const auto service = start();
  process();
  EXPECT_THAT(sent(), IsEmpty());
  EXPECT_THAT(namesIn(crashesDir()), ElementsAre("736250000"));
  EXPECT_TRUE(logs.has(
      TLMLogLevel::Warning,
      "Crash report found but couldn't parse it, discard the crash report: ", kTLMCrashesLogTag));
}

TEST_F(CrashProcessingTest, AWrapperProcessesByHandKeepingTheReportsItNames) {
  storeReport("736250000", reportBytes(4242, 0x01));
  storeReport("736250001", reportBytes(4343, 0x02));
  auto service = makeService();
  service->processing().setAutomaticProcessingEnabled(false);
  TLMDarAveved::start("secret", {TLMCrashes::serviceClass()});
  process();
  EXPECT_THAT(sent(), IsEmpty());

  const auto reports = service->processing().unprocessedCrashReports();
  ASSERT_EQ(reports.size(), 2u);
  const std::string kept = *reports[1]->incidentIdentifier();
  EXPECT_FALSE(service->processing().sendCrashReportsOrAwaitUserConfirmationForFilteredIds({kept}));
  EXPECT_THAT(namesIn(crashesDir()), ElementsAre("736250001"));
  EXPECT_THAT(sent(), IsEmpty());
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug,
                       "Automatic crash processing is disabled and \"AlwaysSend\" is false.",
                       kTLMCrashesLogTag));

  service->processing().notifyWithUserConfirmation(TLMUserConfirmation::Send);
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(std::dynamic_pointer_cast<TLMAppleErrorLog>(sent()[0].log)->errorId, kept);
}

}  // namespace
}  // namespace tlm::testing

// Set-up and lifecycle of the crash service: arming the reporter, enabling
// and disabling, the previous run's report and memory warning, handled
// errors and the delegate's send callbacks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "telemetry/crashes/crashes_fixture.h"
#include "telemetry/crashes/wrapper_crashes_helper.h"

namespace tlm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using CrashesServiceTest = CrashesFixture;

bool hasDelegate(const FakeChannelGroup& group, const std::shared_ptr<TLMCrashes>& service) {
  for (const auto& delegate : group.delegates())
    if (delegate.get() == &service->callbacks()) return true;
  return false;
}

TEST_F(CrashesServiceTest, StartArmsTheReporterAndJoinsThePipeline) {
  const auto service = start();

  ASSERT_TRUE(reporter);
  EXPECT_EQ(reporter->config().signalHandlerType, 1u);
  EXPECT_EQ(reporter->config().symbolicationStrategy, 0u);
  EXPECT_TRUE(reporter->config().shouldRegisterUncaughtExceptionHandler);
  EXPECT_TRUE(reporter->isEnabled());
  EXPECT_EQ(reporter->callbacks().version, 0);
  EXPECT_EQ(reporter->callbacks().handleSignal, &TLMCrashesBuffer::writeAtCrash);
  EXPECT_EQ(service->reporterSetup().exceptionHandler(),
            &FakeCrashReporter::uncaughtExceptionHandler);
  EXPECT_GE(TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler(), 1u);

  const auto group = sdk.group();
  EXPECT_THAT(group->unitGroupIds(), ElementsAre("DarAveved", "Crashes", "CrashesBuffer"));
  const auto& crashes = unit("Crashes")->configuration();
  EXPECT_EQ(crashes.priority(), 2);
  EXPECT_EQ(crashes.flushInterval(), 1u);
  EXPECT_EQ(crashes.batchSizeLimit(), 1u);
  EXPECT_EQ(crashes.pendingBatchesLimit(), 3u);
  const auto& buffer = unit("CrashesBuffer")->configuration();
  EXPECT_EQ(buffer.batchSizeLimit(), 50u);
  EXPECT_EQ(buffer.pendingBatchesLimit(), 1u);
  EXPECT_TRUE(hasDelegate(*group, service));

  EXPECT_TRUE(logs.has(TLMLogLevel::Info, "Crashes service has been enabled.", kTLMCrashesLogTag));
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug, "Exception handler successfully initialized.",
                       kTLMCrashesLogTag));
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose, "Started crash service.", kTLMCrashesLogTag));
  // Nothing stored: processing is not needed, and waiting for it returns.
  EXPECT_THAT(service->processing().unprocessedCrashReports(), IsEmpty());
}

TEST_F(CrashesServiceTest, WithADebuggerTheReporterIsMadeButNotEnabled) {
  debuggerAttached = true;
  const std::size_t handlersBefore =
      TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler();
  const auto service = start();

  ASSERT_TRUE(reporter);
  EXPECT_FALSE(reporter->isEnabled());
  EXPECT_EQ(reporter->callbacks().handleSignal, nullptr);
  EXPECT_EQ(service->reporterSetup().exceptionHandler(), nullptr);
  EXPECT_EQ(TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler(),
            handlersBefore);
  EXPECT_TRUE(logs.has(TLMLogLevel::Warning,
                       "Detecting crashes is NOT enabled due to running the app with a debugger "
                       "attached.",
                       kTLMCrashesLogTag));
  EXPECT_TRUE(logs.has(TLMLogLevel::Info,
                       "Crashes service has been enabled but the service cannot detect crashes",
                       kTLMCrashesLogTag));
}

TEST_F(CrashesServiceTest, SignalHandlersWhenTheMachHandlerIsDisabledBeforeStart) {
  makeService();
  TLMCrashes::disableMachExceptionHandler();
  TLMDarAveved::start("secret", {TLMCrashes::serviceClass()});
  ASSERT_TRUE(reporter);
  EXPECT_EQ(reporter->config().signalHandlerType, 0u);
}

TEST_F(CrashesServiceTest, AReporterThatCannotBeEnabledIsLoggedAndTheServiceRuns) {
  enableError = "Failed to set up the signal stack.";
  const auto service = start();
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "Could not enable crash reporter: Failed to set up the signal stack.",
                       kTLMCrashesLogTag));
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Error, "Exception handler could not be set.", kTLMCrashesLogTag));
  EXPECT_TRUE(service->isAvailable());
}

TEST_F(CrashesServiceTest, AWrapperKeepsItsOwnUncaughtExceptionHandler) {
  std::vector<std::string> calls;
  auto delegate = std::make_shared<TLMCrashHandlerSetupDelegate>();
  delegate->willSetUpCrashHandlers = [&] { calls.push_back("will"); };
  delegate->shouldEnableUncaughtExceptionHandler = [&] {
    calls.push_back("should");
    return false;
  };
  delegate->didSetUpCrashHandlers = [&] { calls.push_back("did"); };
  TLMWrapperCrashesHelper::setCrashHandlerSetupDelegate(delegate);
  const platform::UncaughtExceptionHandler wrapperHandler = [](const platform::UncaughtException&) {
  };
  platform::setUncaughtExceptionHandler(wrapperHandler);
  auto service = makeService();
  platform::setUncaughtExceptionHandler(wrapperHandler);
  TLMDarAveved::start("secret", {TLMCrashes::serviceClass()});
  TLMWrapperCrashesHelper::setCrashHandlerSetupDelegate(nullptr);

  EXPECT_THAT(calls, ElementsAre("should", "will", "did"));
  EXPECT_FALSE(reporter->config().shouldRegisterUncaughtExceptionHandler);
  EXPECT_EQ(service->reporterSetup().exceptionHandler(), wrapperHandler);
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug,
                       "EnableUncaughtExceptionHandler is set to NO, we're running in a Xamarin "
                       "runtime.",
                       kTLMCrashesLogTag));
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug,
                       "Exception handler successfully initialized but it has not been registered "
                       "due to the wrapper SDK.",
                       kTLMCrashesLogTag));
}

TEST_F(CrashesServiceTest, ThePendingReportIsCopiedOutAndPurged) {
  pendingReport = reportBytes();
  const auto service = start();

  EXPECT_TRUE(TLMCrashes::hasCrashedInLastSession());
  EXPECT_EQ(reporter->purgeCount(), 1);
  EXPECT_FALSE(reporter->hasPendingCrashReport());
  // Named by the seconds since 2001 of the virtual clock (2024-05-01T10:00:00Z).
  EXPECT_THAT(namesIn(crashesDir()), ElementsAre("736250400"));
  EXPECT_EQ(readFile(crashesDir() / "736250400"),
            std::string(pendingReport->begin(), pendingReport->end()));
  ASSERT_TRUE(TLMCrashes::lastSessionCrashReport());
  EXPECT_EQ(TLMCrashes::lastSessionCrashReport()->incidentIdentifier(),
            "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
  EXPECT_EQ(service->processing().crashFiles().size(), 1u);
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug, "The application crashed in the last session.",
                       kTLMCrashesLogTag));
}

TEST_F(CrashesServiceTest, SwitchingOnAfterACrashWhileOffPurgesThatReport) {
  sdk.settings().setObject(false, "CrashesIsEnabled");
  const auto service = start();
  ASSERT_EQ(reporter, nullptr);
  pendingReport = reportBytes();

  TLMCrashes::serviceClass().setEnabled(true);

  ASSERT_TRUE(reporter);
  EXPECT_EQ(reporter->purgeCount(), 1);
  EXPECT_FALSE(service->pendingReport().didCrashInLastSession());
  EXPECT_THAT(namesIn(crashesDir()), IsEmpty());
}

TEST_F(CrashesServiceTest, EnablingAgainKeepsTheOneReporter) {
  start();
  TLMCrashes::serviceClass().setEnabled(false);
  TLMCrashes::serviceClass().setEnabled(true);
  EXPECT_EQ(reportersMade, 1);
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Debug, "Already configured TLCrashReporter.", kTLMCrashesLogTag));
}

TEST_F(CrashesServiceTest, DisablingDeletesCrashFilesAndEmptiesTheBuffer) {
  const auto service = start();
  storeReport("736250000", reportBytes());
  writeFile(crashesDir() / "TLCrashes.analyzer", "");
  TLMWrapperException wrapper;
  wrapper.processId = 1;
  TLMWrapperExceptionManager::saveWrapperException(wrapper);
  writeFile(bufferDir() / "3.tlmcrasheslogbuffer", "archived log");
  memoryPressure->warn();
  ASSERT_TRUE(sdk.settings().objectForKey("AppDidReceiveMemoryWarning"));
  ASSERT_EQ(memoryPressure->observerCount(), 1u);

  TLMCrashes::serviceClass().setEnabled(false);

  EXPECT_FALSE(std::filesystem::exists(crashesDir()));
  EXPECT_FALSE(std::filesystem::exists(dataDir() / "crasheswrapperexceptions"));
  EXPECT_TRUE(std::filesystem::exists(bufferDir() / "3.tlmcrasheslogbuffer"));
  EXPECT_EQ(readFile(bufferDir() / "3.tlmcrasheslogbuffer"), "");
  EXPECT_FALSE(sdk.settings().objectForKey("AppDidReceiveMemoryWarning"));
  EXPECT_EQ(memoryPressure->observerCount(), 0u);
  EXPECT_EQ(reporter->purgeCount(), 1);
  EXPECT_THAT(service->processing().crashFiles(), IsEmpty());
  EXPECT_TRUE(logs.has(TLMLogLevel::Info, "Crashes service has been disabled.", kTLMCrashesLogTag));
}

TEST_F(CrashesServiceTest, AMemoryWarningIsReportedInTheNextRunOnly) {
  start();
  memoryPressure->warn();
  EXPECT_FALSE(TLMCrashes::hasReceivedMemoryWarningInLastSession());

  restart();
  EXPECT_TRUE(TLMCrashes::hasReceivedMemoryWarningInLastSession());
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug,
                       "The application received a low memory warning in the last session.",
                       kTLMCrashesLogTag));

  restart();
  EXPECT_FALSE(TLMCrashes::hasReceivedMemoryWarningInLastSession());
}

TEST_F(CrashesServiceTest, HandledErrorsAreSentWithTheirAttachments) {
  const auto service = start();
  auto exception = std::make_shared<TLMException>();
  exception->type = "LayoutError";

  const auto bare = service->handledErrors().trackModelException(
      exception, std::map<std::string, std::string>{}, {});
  auto attachment = TLMErrorAttachmentLog::attachmentWithText("details", "details.txt");
  const auto withProperties = service->handledErrors().trackModelException(
      exception, std::map<std::string, std::string>{{"", "dropped"}, {"layout", "Work"}},
      {attachment});

  ASSERT_TRUE(bare && withProperties);
  const auto enqueued = unit("Crashes")->enqueued();
  ASSERT_EQ(enqueued.size(), 3u);
  const auto first = std::dynamic_pointer_cast<TLMHandledErrorLog>(enqueued[0].log);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->errorId, bare);
  EXPECT_FALSE(first->properties);
  EXPECT_EQ(enqueued[0].flags, 1u);
  const auto second = std::dynamic_pointer_cast<TLMHandledErrorLog>(enqueued[1].log);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->properties, (std::map<std::string, std::string>{{"layout", "Work"}}));
  EXPECT_EQ(enqueued[2].log, attachment);
  EXPECT_EQ(attachment->errorId, withProperties);
  EXPECT_EQ(enqueued[2].flags, 1u);

  TLMCrashes::serviceClass().setEnabled(false);
  EXPECT_EQ(service->handledErrors().trackModelException(exception, std::nullopt, {}),
            std::nullopt);
  EXPECT_EQ(unit("Crashes")->enqueued().size(), 3u);
}

TEST_F(CrashesServiceTest, SendCallbacksReachTheDelegateOnTheMainQueueForCrashLogsOnly) {
  const auto service = start();
  std::vector<std::string> calls;
  TLMCrashesDelegate delegate;
  delegate.willSendErrorReport = [&](TLMCrashes&, const std::shared_ptr<TLMErrorReport>& report) {
    calls.push_back("will " + report->incidentIdentifier().value_or("?"));
  };
  delegate.didFailSendingErrorReport = [&](TLMCrashes&,
                                           const std::shared_ptr<TLMErrorReport>& report,
                                           const std::optional<base::Error>& error) {
    calls.push_back("failed " + report->incidentIdentifier().value_or("?") + " " +
                    (error ? error->description : "-"));
  };
  service->callbacks().setDelegate(delegate);
  auto crashLog = std::make_shared<TLMAppleErrorLog>();
  crashLog->errorId = "E1";
  auto handled = std::make_shared<TLMHandledErrorLog>();
  handled->errorId = "E2";
  auto& channel = *unit("Crashes");

  service->callbacks().willSendLog(channel, crashLog);
  service->callbacks().willSendLog(channel, handled);
  service->callbacks().didSucceedSendingLog(channel, crashLog);  // not implemented
  service->callbacks().didFailSendingLog(channel, crashLog, base::Error("d", 1, "offline"));
  EXPECT_THAT(calls, IsEmpty());  // not before the main queue runs
  mainQueue->runUntilIdle();

  EXPECT_THAT(calls, ElementsAre("will E1", "failed E1 offline"));
}

}  // namespace
}  // namespace tlm::testing

namespace tlm::testing {
namespace {

class CrashesServiceDeathTest : public CrashesFixture {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(CrashesServiceDeathTest, TheTestCrashEndsTheProcessWithAnIllegalInstruction) {
  start();
  EXPECT_EXIT(TLMCrashes::generateTestCrash(), ::testing::KilledBySignal(SIGILL), "");
}

TEST_F(CrashesServiceTest, NoTestCrashBeforeTheServiceIsStarted) {
  makeService();
  TLMCrashes::generateTestCrash();
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, "Crashes service hasn't been started."));
}

}  // namespace
}  // namespace tlm::testing

// Capture of uncaught C++ exceptions (handler list, throw records, the
// terminate handler and the wrapper exception) and the forwarding of
// exceptions the application reports. Paths that end the process run in
// death tests (child processes).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

#include "support/scoped_app_identity.h"
#include "telemetry/crashes/crashes_fixture.h"

namespace tlm::testing {
namespace {

using ::testing::ElementsAre;

void noopHandler(const TLMCXXExceptionInfoRecord*) {}
void otherTerminate() {
  std::abort();
}

// The return address of this function's caller, taken before it throws.
void* throwerCaller = nullptr;

// Set by the tests; read where the compiler cannot see it.
volatile bool shouldThrow = true;

__attribute__((noinline)) int throwRuntimeError() {
  throwerCaller = __builtin_return_address(0);
  if (shouldThrow) throw std::runtime_error("boom");
  return 0;
}

TEST(CXXExceptionHandlerManagerTest, TheLastRemovalRestoresThePreviousTerminateHandler) {
  const std::terminate_handler before = std::get_terminate();
  const std::size_t count =
      TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler();
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(&noopHandler);
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(&noopHandler);
  EXPECT_EQ(TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler(), count + 2);
  if (count == 0) {
    EXPECT_NE(std::get_terminate(), before);
  }

  TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(&noopHandler);
  TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(&noopHandler);
  EXPECT_EQ(TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler(), count);
  if (count == 0) {
    EXPECT_EQ(std::get_terminate(), before);
    EXPECT_FALSE(TLMCrashesUncaughtCXXExceptionHandlerManager::isRecordingThrows());
  }
}

TEST(CXXExceptionHandlerManagerTest, ATerminateHandlerInstalledOverOursStays) {
  const std::terminate_handler before = std::get_terminate();
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(&noopHandler);
  const std::terminate_handler ours = std::get_terminate();
  std::set_terminate(&otherTerminate);
  TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(&noopHandler);
  EXPECT_EQ(std::get_terminate(), &otherTerminate);

  // The manager still counts its handler as installed under the other one.
  // Put ours back on top and let the manager take it away, so the process is
  // left as the test found it.
  std::set_terminate(ours);
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(&noopHandler);
  TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(&noopHandler);
  EXPECT_EQ(std::get_terminate(), before);
}

TEST(CXXThrowRecordTest, AThrowRecordsTheStackFromTheThrower) {
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(&noopHandler);
  const void* thrown = nullptr;
  try {
    throwRuntimeError();
  } catch (const std::runtime_error& error) {
    thrown = &error;
  }
  TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(&noopHandler);

  const TLMCXXThrowRecord* record =
      TLMCrashesUncaughtCXXExceptionHandlerManager::currentThrowRecord();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->exception, thrown);
  // The throw entry, the thrower, then the thrower's caller.
  ASSERT_GE(record->frameCount, 3);
  EXPECT_EQ(record->frames[2], reinterpret_cast<std::uintptr_t>(throwerCaller));
}

TEST(CXXExceptionWrapperTest, NameReasonAndStackComeFromTheRecord) {
  const std::uint64_t frames[] = {0x1000, 0x2000};
  const TLMCXXExceptionInfoRecord demangled{nullptr, typeid(std::out_of_range).name(), "index 9", 2,
                                            frames};
  const TLMCrashesCXXExceptionWrapperException wrapper(&demangled);
  EXPECT_EQ(wrapper.name(), "std::out_of_range");
  EXPECT_EQ(wrapper.reason(), "index 9");
  EXPECT_THAT(wrapper.callStackReturnAddresses(), ElementsAre(0x1000u, 0x2000u));

  const TLMCXXExceptionInfoRecord raw{nullptr, "not a mangled name", nullptr, 0, nullptr};
  EXPECT_EQ(TLMCrashesCXXExceptionWrapperException(&raw).name(), "not a mangled name");
  EXPECT_EQ(TLMCrashesCXXExceptionWrapperException(&raw).reason(), "");
  const TLMCXXExceptionInfoRecord none{nullptr, nullptr, nullptr, 0, nullptr};
  EXPECT_EQ(TLMCrashesCXXExceptionWrapperException(&none).name(), "");
}

// An exception escaping a noexcept function ends in std::terminate.
template <class Thrown>
void escape(Thrown thrown) noexcept {
  [](Thrown value) { throw value; }(thrown);
}

// Installs what the crash service installs at configuration: the fake
// reporter's uncaught-exception handler and the service's C++ handler.
void armAsTheService() {
  platform::setUncaughtExceptionHandler(&FakeCrashReporter::uncaughtExceptionHandler);
  TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
      &TLMCrashesExceptionRouting::uncaughtCXXExceptionHandler);
}

class CXXExceptionCaptureDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(CXXExceptionCaptureDeathTest, AnEscapingExceptionReachesTheReporterWithItsThrowStack) {
  EXPECT_DEATH(
      {
        armAsTheService();
        []() noexcept { throwRuntimeError(); }();
      },
      "uncaught exception: std::runtime_error: boom \\([1-9][0-9]* frames\\)");
}

TEST_F(CXXExceptionCaptureDeathTest, EachKindOfThrownValueGivesItsNameAndMessage) {
  EXPECT_DEATH(
      {
        armAsTheService();
        escape(7);
      },
      "uncaught exception: int:  \\(");
  EXPECT_DEATH(
      {
        armAsTheService();
        escape(std::string("text"));
      },
      "uncaught exception: std::__cxx11::basic_string<.*>: text \\(");
  EXPECT_DEATH(
      {
        armAsTheService();
        escape("c text");
      },
      "uncaught exception: char const\\*: c text \\(");
}

TEST_F(CXXExceptionCaptureDeathTest, WithoutAnUncaughtExceptionHandlerTheProcessStillEnds) {
  EXPECT_DEATH(
      {
        TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
            &TLMCrashesExceptionRouting::uncaughtCXXExceptionHandler);
        escape(std::logic_error("no reporter"));
      },
      "");
}

// ---- application forwarding

class ApplicationForwarderTest : public CrashesFixture {
 protected:
  void withSwitch(bool enabled) {
    auto identity = support::testAppIdentity();
    identity.switches.emplace(std::string(TLMApplicationForwarder::kEnabledKey), enabled);
    platform::AppIdentity::setSharedForTesting(identity);
  }
  void crashOnExceptions() {
    ASSERT_TRUE(sdk.defaults().set(TLMApplicationForwarder::kCrashOnExceptionsKey, true).ok());
  }
  static void throwingEvent() { throw std::logic_error("bad event"); }
};

TEST_F(ApplicationForwarderTest, AFalseInformationSwitchReplacesNothing) {
  withSwitch(false);
  crashOnExceptions();
  TLMApplicationForwarder::registerForwarding();
  EXPECT_THROW(TLMApplicationExceptionEntries::sendEvent(&throwingEvent), std::logic_error);
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug,
                       "Application forwarder for info.plist key "
                       "'DarAvevedApplicationForwarderEnabled' disabled. It won't use swizzling.",
                       kTLMCrashesLogTag));
}

TEST_F(ApplicationForwarderTest, WithoutTheUserDefaultNothingIsReplaced) {
  TLMApplicationForwarder::registerForwarding();
  EXPECT_THROW(TLMApplicationExceptionEntries::sendEvent(&throwingEvent), std::logic_error);
  EXPECT_TRUE(logs.has(TLMLogLevel::Info,
                       "Catching uncaught exceptions thrown on the main thread disabled. Set "
                       "`NSApplicationCrashOnExceptions` flag",
                       kTLMCrashesLogTag));
}

TEST_F(ApplicationForwarderTest, BothEntriesAreReplacedOnceAndEventsReturnNormally) {
  crashOnExceptions();
  debuggerAttached = true;  // the service hands nothing to the reporter then
  start();
  TLMApplicationForwarder::registerForwarding();

  TLMApplicationExceptionEntries::sendEvent(&throwingEvent);

  const auto messages = logs.messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "Selector 'reportException:' of class 'NSApplication' is swizzled."),
            1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "Selector 'sendEvent:' of class 'NSApplication' is swizzled."),
            1);
  // The previous reportException ran after the service's.
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, "Uncaught exception in an event handler: bad event",
                       kTLMCrashesLogTag));
}

class ApplicationForwarderDeathTest : public ApplicationForwarderTest {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ApplicationForwarderDeathTest, AnEventExceptionReachesTheReporter) {
  crashOnExceptions();
  start();
  EXPECT_DEATH(TLMApplicationExceptionEntries::sendEvent(&throwingEvent),
               "uncaught exception: std::logic_error: bad event \\([1-9][0-9]* frames\\)");
}

}  // namespace
}  // namespace tlm::testing

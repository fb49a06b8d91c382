#include "telemetry/sdk/delegate_forwarder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/scoped_app_identity.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/sdk/app_delegate_forwarder.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

using testing::LogCapture;
using Calls = std::vector<std::string>;

class RecordingApplicationDelegate final : public TLMCustomApplicationDelegate {
 public:
  RecordingApplicationDelegate(std::string name, Calls& calls)
      : name_(std::move(name)), calls_(calls) {}
  void applicationOpenURLs(const std::vector<std::string>& urls) override {
    calls_.push_back(name_ + " open " + urls.at(0));
  }
  void applicationDidBecomeActive() override { calls_.push_back(name_ + " active"); }

 private:
  std::string name_;
  Calls& calls_;
};

platform::AppIdentity identityWithForwarder(std::optional<bool> enabled) {
  auto identity = support::testAppIdentity();
  if (enabled) identity.switches[std::string(TLMAppDelegateForwarder::kEnabledKey)] = *enabled;
  return identity;
}

class DelegateForwarderTest : public ::testing::Test {
 protected:
  DelegateForwarderTest() { TLMDelegateForwarder::resetTraceBufferForTesting(); }
  ~DelegateForwarderTest() override {
    TLMDelegateForwarder::resetTraceBufferForTesting();
    TLMAppDelegateForwarder::setSharedForTesting();
  }

  LogCapture logs{TLMLogLevel::Verbose};
  Calls calls;
};

TEST_F(DelegateForwarderTest, HooksReachTheRegisteredDelegatesInOrderWhileTheyLive) {
  TLMAppDelegateForwarder forwarder(identityWithForwarder(std::nullopt));
  auto first = std::make_shared<RecordingApplicationDelegate>("first", calls);
  auto second = std::make_shared<RecordingApplicationDelegate>("second", calls);
  forwarder.addDelegate(first);
  forwarder.addDelegate(second);
  forwarder.addDelegate(first);

  forwarder.applicationOpenURLs({"wendrix:save?name=A"});
  second.reset();
  forwarder.applicationDidBecomeActive();
  forwarder.removeDelegate(first);
  forwarder.applicationDidBecomeActive();

  EXPECT_TRUE(forwarder.isEnabled());
  EXPECT_EQ(calls, (Calls{"first open wendrix:save?name=A", "second open wendrix:save?name=A",
                          "first active"}));
}

TEST_F(DelegateForwarderTest, SwitchedOffByTheIdentityItTakesNoDelegatesAndTracesWhy) {
  support::ScopedAppIdentity identity(identityWithForwarder(false));
  const auto forwarder = TLMAppDelegateForwarder::sharedInstance();
  EXPECT_FALSE(TLMDarAveved::isAppDelegateForwarderEnabled());
  forwarder->addDelegate(std::make_shared<RecordingApplicationDelegate>("late", calls));
  forwarder->applicationDidBecomeActive();
  EXPECT_TRUE(calls.empty());

  // The traces wait for the application's log level, then come in order.
  EXPECT_TRUE(logs.lines().empty());
  TLMDarAveved::setLogLevel(TLMLogLevel::Verbose);
  EXPECT_EQ(logs.messages(),
            (Calls{"Start buffering traces.",
                   "Delegate forwarder for info.plist key 'DarAvevedAppDelegateForwarderEnabled' "
                   "disabled. It won't use swizzling.",
                   "Stop buffering traces, flushed."}));

  // Later traces are logged at once; a second flush does nothing.
  logs.clear();
  TLMAppDelegateForwarder enabled(identityWithForwarder(true));
  TLMDelegateForwarder::flushTraceBuffer();
  EXPECT_EQ(logs.messages(),
            (Calls{"Delegate forwarder for info.plist key 'DarAvevedAppDelegateForwarderEnabled' "
                   "enabled. It may use swizzling."}));
}

TEST_F(DelegateForwarderTest, DisablingDropsTheDelegates) {
  TLMAppDelegateForwarder forwarder(identityWithForwarder(true));
  auto delegate = std::make_shared<RecordingApplicationDelegate>("one", calls);
  forwarder.addDelegate(delegate);
  forwarder.setEnabled(false);
  forwarder.setEnabled(true);
  forwarder.applicationDidBecomeActive();
  EXPECT_TRUE(calls.empty());
}

// A delegate kind with a call whose answer the program gave first.
class CountingDelegate : public TLMCustomDelegate {
 public:
  virtual int countWindows(int returnedValue) { return returnedValue; }
};

class CountingForwarder final : public TLMDelegateForwarder {
 public:
  int countWindows(int returnedValue) {
    return forwardReturningValue<CountingDelegate, int>(
        returnedValue,
        [](CountingDelegate& delegate, int value) { return delegate.countWindows(value); });
  }
};

class AddingDelegate final : public CountingDelegate {
 public:
  explicit AddingDelegate(int add) : add_(add) {}
  int countWindows(int returnedValue) override {
    seen.push_back(returnedValue);
    return returnedValue + add_;
  }
  std::vector<int> seen;

 private:
  int add_;
};

TEST_F(DelegateForwarderTest, EachDelegateGetsThePreviousAnswerOfAReturnedValueCall) {
  CountingForwarder forwarder;
  EXPECT_EQ(forwarder.countWindows(3), 3);

  auto first = std::make_shared<AddingDelegate>(10);
  auto silent = std::make_shared<CountingDelegate>();
  auto second = std::make_shared<AddingDelegate>(100);
  forwarder.addDelegate(first);
  forwarder.addDelegate(silent);
  forwarder.addDelegate(second);
  EXPECT_EQ(forwarder.countWindows(3), 113);
  EXPECT_EQ(first->seen, (std::vector<int>{3}));
  EXPECT_EQ(second->seen, (std::vector<int>{13}));
}

}  // namespace
}  // namespace tlm

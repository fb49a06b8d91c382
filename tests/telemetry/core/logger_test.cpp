#include "telemetry/core/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/telemetry_log_capture.h"

namespace tlm {
namespace {

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { TLMLogger::resetForTesting(); }
  void TearDown() override { TLMLogger::resetForTesting(); }
};

std::string printedByDefaultHandler(TLMLogLevel level, const std::string& text) {
  ::testing::internal::CaptureStderr();
  TLMLogger::logMessage([&] { return text; }, level, "DarAveved", "file.cpp", "void f()", 42);
  return ::testing::internal::GetCapturedStderr();
}

TEST_F(LoggerTest, DefaultHandlerWritesFormattedLineAtOrAboveCurrentLevel) {
  TLMLogger::setCurrentLogLevel(TLMLogLevel::Warning);
  EXPECT_EQ(printedByDefaultHandler(TLMLogLevel::Warning, "careful"),
            "[DarAveved] WARNING: void f()/42 careful\n");
  EXPECT_EQ(printedByDefaultHandler(TLMLogLevel::Error, "bad"),
            "[DarAveved] ERROR: void f()/42 bad\n");
  EXPECT_EQ(printedByDefaultHandler(TLMLogLevel::Info, "chatty"), "");
}

TEST_F(LoggerTest, StartsAtAssertAndLevelNoneSilencesEverything) {
  EXPECT_EQ(TLMLogger::currentLogLevel(), TLMLogLevel::Assert);
  EXPECT_FALSE(TLMLogger::isUserDefinedLogLevel());
  EXPECT_EQ(printedByDefaultHandler(TLMLogLevel::Error, "x"), "");
  EXPECT_NE(printedByDefaultHandler(TLMLogLevel::Assert, "x"), "");

  TLMLogger::setCurrentLogLevel(TLMLogLevel::None);
  EXPECT_EQ(printedByDefaultHandler(TLMLogLevel::Assert, "x"), "");
  TLMLogger::setCurrentLogLevel(TLMLogLevel::Verbose);
  EXPECT_EQ(printedByDefaultHandler(TLMLogLevel::None, "x"), "");
}

TEST_F(LoggerTest, FilteredMessageIsNeverBuilt) {
  bool built = false;
  ::testing::internal::CaptureStderr();
  TLM_LOG_DEBUG(kTLMLogTag, (built = true, "text"));
  ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(built);
}

TEST_F(LoggerTest, ReplacedHandlerReceivesEveryLevelWithCallSite) {
  struct Call {
    TLMLogLevel level;
    std::string tag, file, function, message;
    std::uint32_t line;
  };
  std::vector<Call> calls;
  TLMLogger::setLogHandler([&](const TLMLogMessageProvider& message, TLMLogLevel level,
                               std::string_view tag, const char* file, const char* function,
                               std::uint32_t line) {
    calls.push_back({level, std::string(tag), file, function, message(), line});
  });
  EXPECT_TRUE(TLMLogger::isUserDefinedLogLevel());
  EXPECT_EQ(TLMLogger::currentLogLevel(), TLMLogLevel::Assert);

  const std::uint32_t line = __LINE__ + 1;
  TLM_LOG_VERBOSE("DarAvevedAnalytics", "count ", 3, " of ", std::string("x"));
  TLMWrapperLogger::TLMWrapperLog([] { return std::string("from wrapper"); }, "Wrapper",
                                  TLMLogLevel::Info);

  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].level, TLMLogLevel::Verbose);
  EXPECT_EQ(calls[0].tag, "DarAvevedAnalytics");
  EXPECT_EQ(calls[0].message, "count 3 of x");
  EXPECT_EQ(calls[0].line, line);
  EXPECT_NE(calls[0].file.find("logger_test.cpp"), std::string::npos);
  EXPECT_NE(calls[0].function.find("ReplacedHandlerReceivesEveryLevelWithCallSite"),
            std::string::npos);
  EXPECT_EQ(calls[1].tag, "Wrapper");
  EXPECT_EQ(calls[1].level, TLMLogLevel::Info);
  EXPECT_EQ(calls[1].message, "from wrapper");
}

TEST_F(LoggerTest, EmptyHandlerDropsMessages) {
  TLMLogger::setLogHandler(nullptr);
  EXPECT_FALSE(TLMLogger::logHandler());
  TLM_LOG_ASSERT(kTLMLogTag, "dropped");  // must not crash
}

TEST_F(LoggerTest, HandlerCanBeReplacedWhileOtherThreadsLog) {
  std::atomic<int> received{0};
  auto counting = [&](const TLMLogMessageProvider&, TLMLogLevel, std::string_view, const char*,
                      const char*, std::uint32_t) { received.fetch_add(1); };
  TLMLogger::setLogHandler(counting);
  std::atomic<bool> stop{false};
  std::thread replacer([&] {
    while (!stop.load())
      TLMLogger::setLogHandler(counting);
  });
  std::vector<std::thread> loggers;
  for (int t = 0; t < 4; ++t) {
    loggers.emplace_back([] {
      for (int i = 0; i < 500; ++i)
        TLM_LOG_ERROR(kTLMLogTag, "x");
    });
  }
  for (auto& t : loggers)
    t.join();
  stop = true;
  replacer.join();
  // Every message reached exactly one installed handler.
  EXPECT_EQ(received.load(), 4 * 500);
}

}  // namespace
}  // namespace tlm

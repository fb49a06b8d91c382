#include "telemetry/core/logger.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace tlm {
namespace {

struct LoggerState {
  std::mutex mutex;
  TLMLogLevel level = TLMLogLevel::Assert;
  std::shared_ptr<const TLMLogHandler> handler =
      std::make_shared<const TLMLogHandler>(TLMLogger::defaultHandler());
  bool userDefined = false;
};

LoggerState& state() {
  static LoggerState s;
  return s;
}

}  // namespace

TLMLogLevel TLMLogger::currentLogLevel() {
  std::lock_guard lock(state().mutex);
  return state().level;
}

void TLMLogger::setCurrentLogLevel(TLMLogLevel level) {
  std::lock_guard lock(state().mutex);
  state().level = level;
  state().userDefined = true;
}

TLMLogHandler TLMLogger::logHandler() {
  std::lock_guard lock(state().mutex);
  return state().handler ? *state().handler : TLMLogHandler();
}

void TLMLogger::setLogHandler(TLMLogHandler handler) {
  auto shared = handler ? std::make_shared<const TLMLogHandler>(std::move(handler)) : nullptr;
  std::lock_guard lock(state().mutex);
  state().handler = std::move(shared);
  state().userDefined = true;
}

bool TLMLogger::isUserDefinedLogLevel() {
  std::lock_guard lock(state().mutex);
  return state().userDefined;
}

void TLMLogger::setIsUserDefinedLogLevel(bool userDefined) {
  std::lock_guard lock(state().mutex);
  state().userDefined = userDefined;
}

void TLMLogger::logMessage(const TLMLogMessageProvider& message, TLMLogLevel level,
                           std::string_view tag, const char* file, const char* function,
                           std::uint32_t line) {
  std::shared_ptr<const TLMLogHandler> handler;
  {
    std::lock_guard lock(state().mutex);
    handler = state().handler;
  }
  if (handler) (*handler)(message, level, tag, file, function, line);
}

std::string_view TLMLogger::levelName(TLMLogLevel level) {
  switch (level) {
    case TLMLogLevel::Verbose:
      return "VERBOSE";
    case TLMLogLevel::Debug:
      return "DEBUG";
    case TLMLogLevel::Info:
      return "INFO";
    case TLMLogLevel::Warning:
      return "WARNING";
    case TLMLogLevel::Error:
      return "ERROR";
    case TLMLogLevel::Assert:
      return "ASSERT";
    case TLMLogLevel::None:
      break;
  }
  return {};
}

TLMLogHandler TLMLogger::defaultHandler() {
  return [](const TLMLogMessageProvider& message, TLMLogLevel level, std::string_view tag,
            const char* /*file*/, const char* function, std::uint32_t line) {
    if (!message || level == TLMLogLevel::None) return;
    if (static_cast<std::uint32_t>(level) < static_cast<std::uint32_t>(currentLogLevel())) {
      return;
    }
    std::string text = logText("[", tag, "] ", levelName(level), ": ", function ? function : "",
                               "/", line, " ", message(), "\n");
    // One write per line so lines of concurrent callers do not interleave.
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  };
}

void TLMLogger::resetForTesting() {
  auto handler = std::make_shared<const TLMLogHandler>(defaultHandler());
  std::lock_guard lock(state().mutex);
  state().level = TLMLogLevel::Assert;
  state().handler = std::move(handler);
  state().userDefined = false;
}

void TLMWrapperLogger::TLMWrapperLog(const TLMLogMessageProvider& message, std::string_view tag,
                                     TLMLogLevel level) {
  TLMLogger::logMessage(message, level, tag, __FILE__, __PRETTY_FUNCTION__,
                        static_cast<std::uint32_t>(__LINE__));
}

}  // namespace tlm

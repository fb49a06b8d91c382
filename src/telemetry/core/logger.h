#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace tlm {

// Log levels of the SDK; None silences the default handler entirely.
enum class TLMLogLevel : std::uint32_t {
  Verbose = 2,
  Debug = 3,
  Info = 4,
  Warning = 5,
  Error = 6,
  Assert = 7,
  None = 99,
};

// Builds the message text. Only called when the message is printed, so
// formatting costs nothing otherwise. Valid only for the duration of the
// handler call: a handler must not keep it.
using TLMLogMessageProvider = std::function<std::string()>;

using TLMLogHandler = std::function<void(const TLMLogMessageProvider& message, TLMLogLevel level,
                                         std::string_view tag, const char* file,
                                         const char* function, std::uint32_t line)>;

// The SDK's process-wide leveled logger with a replaceable handler. Level and
// handler are guarded by one lock; a message is handed to a copy of the
// handler taken under that lock and then called on the caller's thread.
class TLMLogger {
 public:
  static TLMLogLevel currentLogLevel();
  // Also marks the level as set by the application.
  static void setCurrentLogLevel(TLMLogLevel level);

  static TLMLogHandler logHandler();
  // Also marks the level as set by the application. An empty handler drops
  // every message.
  static void setLogHandler(TLMLogHandler handler);

  static bool isUserDefinedLogLevel();
  static void setIsUserDefinedLogLevel(bool userDefined);

  // Hands the message to the installed handler, whatever its level: the
  // level filter belongs to the handler.
  static void logMessage(const TLMLogMessageProvider& message, TLMLogLevel level,
                         std::string_view tag, const char* file, const char* function,
                         std::uint32_t line);

  // Writes "[tag] LEVEL: function/line message" to standard error when the
  // level is at or above the current level (never at None).
  static TLMLogHandler defaultHandler();

  // "VERBOSE", ..., "ASSERT"; empty for None or an unknown value.
  static std::string_view levelName(TLMLogLevel level);

  // Back to the first-use state: level Assert, default handler, not user
  // defined.
  static void resetForTesting();
};

// Lets a wrapping SDK log through the same logger.
class TLMWrapperLogger {
 public:
  static void TLMWrapperLog(const TLMLogMessageProvider& message, std::string_view tag,
                            TLMLogLevel level);
};

// Log tag of the SDK core.
inline constexpr std::string_view kTLMLogTag = "DarAveved";

// Concatenates its arguments as text (strings, numbers, ...).
template <class... Args>
std::string logText(const Args&... args) {
  std::ostringstream out;
  (out << ... << args);
  return out.str();
}

}  // namespace tlm

// One log line with the caller's file, function and line. The text arguments
// are only evaluated when the handler asks for the message.
#define TLM_LOG(level, tag, ...)                                                             \
  ::tlm::TLMLogger::logMessage([&]() -> std::string { return ::tlm::logText(__VA_ARGS__); }, \
                               (level), (tag), __FILE__, __PRETTY_FUNCTION__,                \
                               static_cast<std::uint32_t>(__LINE__))
#define TLM_LOG_VERBOSE(tag, ...) TLM_LOG(::tlm::TLMLogLevel::Verbose, tag, __VA_ARGS__)
#define TLM_LOG_DEBUG(tag, ...) TLM_LOG(::tlm::TLMLogLevel::Debug, tag, __VA_ARGS__)
#define TLM_LOG_INFO(tag, ...) TLM_LOG(::tlm::TLMLogLevel::Info, tag, __VA_ARGS__)
#define TLM_LOG_WARNING(tag, ...) TLM_LOG(::tlm::TLMLogLevel::Warning, tag, __VA_ARGS__)
#define TLM_LOG_ERROR(tag, ...) TLM_LOG(::tlm::TLMLogLevel::Error, tag, __VA_ARGS__)
#define TLM_LOG_ASSERT(tag, ...) TLM_LOG(::tlm::TLMLogLevel::Assert, tag, __VA_ARGS__)

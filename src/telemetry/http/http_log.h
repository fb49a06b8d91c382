#pragma once

#include <functional>
#include <string>

namespace tlm {

// Log levels of the telemetry SDK.
enum TLMLogLevel : unsigned {
  TLMLogLevelVerbose = 2,
  TLMLogLevelDebug = 3,
  TLMLogLevelInfo = 4,
  TLMLogLevelWarning = 5,
  TLMLogLevelError = 6,
  TLMLogLevelAssert = 7,
  TLMLogLevelNone = 99,
};

// The logging used by the HTTP client and the ingestions: a level filter and a
// replaceable handler, process-wide. It forwards to one place so that it can be
// switched to the SDK's logger in one edit.
namespace httplog {

inline constexpr const char* kTag = "DarAveved";

using Handler =
    std::function<void(unsigned level, const std::string& tag, const std::string& message)>;

unsigned currentLevel();
void setCurrentLevel(unsigned level);
// Replaces the handler; an empty handler restores the default (stderr, filtered by level).
void setHandler(Handler handler);
// Back to level ASSERT and the default handler (for tests).
void reset();

// Builds the message only when it is handed to a handler.
void log(unsigned level, const std::function<std::string()>& message);

}  // namespace httplog
}  // namespace tlm

#include "telemetry/http/http_log.h"

#include <cstdio>
#include <mutex>

namespace tlm::httplog {
namespace {

struct State {
  std::mutex mutex;
  unsigned level = TLMLogLevelAssert;
  Handler handler;
};

State& state() {
  static State s;
  return s;
}

const char* levelName(unsigned level) {
  switch (level) {
    case TLMLogLevelVerbose:
      return "VERBOSE";
    case TLMLogLevelDebug:
      return "DEBUG";
    case TLMLogLevelInfo:
      return "INFO";
    case TLMLogLevelWarning:
      return "WARNING";
    case TLMLogLevelError:
      return "ERROR";
    case TLMLogLevelAssert:
      return "ASSERT";
    default:
      return "";
  }
}

}  // namespace

unsigned currentLevel() {
  std::lock_guard lock(state().mutex);
  return state().level;
}

void setCurrentLevel(unsigned level) {
  std::lock_guard lock(state().mutex);
  state().level = level;
}

void setHandler(Handler handler) {
  std::lock_guard lock(state().mutex);
  state().handler = std::move(handler);
}

void reset() {
  std::lock_guard lock(state().mutex);
  state().level = TLMLogLevelAssert;
  state().handler = nullptr;
}

void log(unsigned level, const std::function<std::string()>& message) {
  Handler handler;
  unsigned current;
  {
    std::lock_guard lock(state().mutex);
    handler = state().handler;
    current = state().level;
  }
  if (handler) {
    handler(level, kTag, message());
    return;
  }
  if (level < current || level == TLMLogLevelNone) return;
  std::fprintf(stderr, "[%s] %s: %s\n", kTag, levelName(level), message().c_str());
}

}  // namespace tlm::httplog

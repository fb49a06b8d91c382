#include "telemetry/sdk/stderr_log.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace tlm {
namespace {

std::atomic<TLMLogLevel> threshold{TLMLogLevel::Assert};

std::string_view levelName(TLMLogLevel level) {
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
  return "NONE";
}

}  // namespace

void stderrLog(TLMLogLevel level, std::string_view tag, std::string_view message) {
  if (level == TLMLogLevel::None || static_cast<int>(level) < static_cast<int>(threshold.load()))
    return;
  // One write per line so that lines of concurrent callers do not interleave.
  std::string line;
  line.reserve(tag.size() + message.size() + 16);
  line.append("[").append(tag).append("] ").append(levelName(level)).append(": ");
  line.append(message).append("\n");
  std::fwrite(line.data(), 1, line.size(), stderr);
}

TLMLogLevel stderrLogLevel() {
  return threshold.load();
}

void setStderrLogLevel(TLMLogLevel level) {
  threshold.store(level);
}

}  // namespace tlm

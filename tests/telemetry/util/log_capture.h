#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "telemetry/core/logger.h"

namespace tlm::testing {

// Collects every SDK log line while alive, then puts the logger back.
class LogCapture {
 public:
  struct Line {
    TLMLogLevel level;
    std::string tag;
    std::string message;
  };

  LogCapture() {
    TLMLogger::setLogHandler([this](const TLMLogMessageProvider& message, TLMLogLevel level,
                                    std::string_view tag, const char*, const char*, std::uint32_t) {
      std::lock_guard lock(mutex_);
      lines_.push_back({level, std::string(tag), message()});
    });
  }
  ~LogCapture() { TLMLogger::resetForTesting(); }

  std::vector<Line> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Whether a line of that level and tag starts with `prefix`.
  bool has(TLMLogLevel level, std::string_view prefix, std::string_view tag = kTLMLogTag) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_)
      if (line.level == level && line.tag == tag && line.message.starts_with(prefix)) return true;
    return false;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace tlm::testing

#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "telemetry/core/logger.h"

namespace tlm::testing {

// Records every message handed to the logger while alive; restores the
// logger's first-use state afterwards.
class LogCapture {
 public:
  struct Line {
    TLMLogLevel level;
    std::string tag;
    std::string message;
  };

  LogCapture() {
    TLMLogger::resetForTesting();
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
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& line : lines())
      out.push_back(line.message);
    return out;
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

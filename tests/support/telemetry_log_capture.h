#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/core/logger.h"

namespace tlm::testing {

// Records every message handed to the SDK logger while alive, starting from
// the logger's first-use state (optionally at a given level), and restores
// that state afterwards.
class LogCapture {
 public:
  struct Line {
    TLMLogLevel level;
    std::string tag;
    std::string message;
  };

  LogCapture() : LogCapture(std::nullopt) {}
  explicit LogCapture(std::optional<TLMLogLevel> level) {
    TLMLogger::resetForTesting();
    if (level) TLMLogger::setCurrentLogLevel(*level);
    TLMLogger::setLogHandler([this](const TLMLogMessageProvider& message, TLMLogLevel lineLevel,
                                    std::string_view tag, const char*, const char*, std::uint32_t) {
      std::lock_guard lock(mutex_);
      lines_.push_back({lineLevel, std::string(tag), message()});
    });
  }
  ~LogCapture() { TLMLogger::resetForTesting(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

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
  // Messages of one level, in order.
  std::vector<std::string> at(TLMLogLevel level) const {
    std::vector<std::string> out;
    for (const auto& line : lines())
      if (line.level == level) out.push_back(line.message);
    return out;
  }
  // Whether a line of that level and tag starts with `prefix`.
  bool has(TLMLogLevel level, std::string_view prefix, std::string_view tag = kTLMLogTag) const {
    for (const auto& line : lines())
      if (line.level == level && line.tag == tag && line.message.starts_with(prefix)) return true;
    return false;
  }
  // Whether a line of that level contains `text`.
  bool contains(TLMLogLevel level, std::string_view text) const {
    for (const auto& line : lines())
      if (line.level == level && line.message.find(text) != std::string::npos) return true;
    return false;
  }
  // Whether a line of any level contains `text`.
  bool contains(std::string_view text) const {
    for (const auto& line : lines())
      if (line.message.find(text) != std::string::npos) return true;
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

#pragma once

// Test doubles for the HTTP client: a transport the test answers by hand, a
// reachability the test switches, and a capture of the client's log lines.

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "telemetry/core/logger.h"
#include "telemetry/http/http_transport.h"
#include "telemetry/http/reachability.h"

namespace tlmtest {

// Records requests; the test completes them in any order.
class FakeTransport final : public tlm::TLMHttpTransport {
 public:
  struct Pending {
    tlm::TLMHttpRequest request;
    Completion completion;
  };
  // Shared by every transport the client makes, so a test sees them all.
  struct Log {
    std::vector<tlm::TLMHttpRequest> started;
    std::deque<Pending> inFlight;
    int invalidations = 0;
    int transportsMade = 0;
  };

  explicit FakeTransport(std::shared_ptr<Log> log) : log_(std::move(log)) {
    ++log_->transportsMade;
  }

  static tlm::TLMHttpTransportFactory factory(const std::shared_ptr<Log>& log) {
    return [log] { return std::make_unique<FakeTransport>(log); };
  }

  void start(tlm::TLMHttpRequest request, Completion completion) override {
    log_->started.push_back(request);
    if (invalidated_) {
      completion(std::nullopt, {}, base::Error(tlm::kTLMURLErrorDomain, -999, "cancelled"));
      return;
    }
    log_->inFlight.push_back({std::move(request), std::move(completion)});
  }

  void invalidateAndCancel() override {
    invalidated_ = true;
    ++log_->invalidations;
  }

 private:
  std::shared_ptr<Log> log_;
  bool invalidated_ = false;
};

// Answers the oldest request in flight.
inline void respond(FakeTransport::Log& log, std::int64_t status, tlm::TLMHttpHeaders headers = {},
                    std::string body = {}) {
  auto pending = std::move(log.inFlight.front());
  log.inFlight.pop_front();
  pending.completion(tlm::TLMHttpResponse{status, std::move(headers)}, std::move(body),
                     std::nullopt);
}

inline void fail(FakeTransport::Log& log, std::int64_t code) {
  auto pending = std::move(log.inFlight.front());
  log.inFlight.pop_front();
  pending.completion(std::nullopt, {}, base::Error(tlm::kTLMURLErrorDomain, code, "failed"));
}

class FakeReachability final : public tlm::TLMReachability {
 public:
  tlm::TLMNetworkStatus currentReachabilityStatus() const override {
    return reachable_ ? tlm::TLMReachable : tlm::TLMNotReachable;
  }
  void startNotifier(std::function<void()> onChange) override {
    onChange_ = std::move(onChange);
    if (onChange_) onChange_();
  }
  void stopNotifier() override { onChange_ = nullptr; }

  void set(bool reachable) {
    reachable_ = reachable;
    if (onChange_) onChange_();
  }

 private:
  bool reachable_ = true;
  std::function<void()> onChange_;
};

// Collects every log line while alive, at the level it is given.
class LogCapture {
 public:
  explicit LogCapture(tlm::TLMLogLevel level = tlm::TLMLogLevel::Verbose) {
    tlm::TLMLogger::setCurrentLogLevel(level);
    tlm::TLMLogger::setLogHandler([this](const tlm::TLMLogMessageProvider& message,
                                         tlm::TLMLogLevel lvl, std::string_view, const char*,
                                         const char*, std::uint32_t) {
      std::lock_guard lock(mutex_);
      lines_.push_back({lvl, message()});
    });
  }
  ~LogCapture() { tlm::TLMLogger::resetForTesting(); }

  struct Line {
    tlm::TLMLogLevel level;
    std::string message;
  };
  std::vector<Line> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& text) const {
    for (const auto& line : lines()) {
      if (line.message.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace tlmtest

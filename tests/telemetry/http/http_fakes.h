#pragma once

// Test doubles for the HTTP client: a transport the test answers by hand, a
// reachability the test switches, and a capture of the client's log lines.

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/telemetry_log_capture.h"
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

// Captures at Verbose unless told otherwise, so verbose-only logs show.
class LogCapture : public tlm::testing::LogCapture {
 public:
  explicit LogCapture(tlm::TLMLogLevel level = tlm::TLMLogLevel::Verbose)
      : tlm::testing::LogCapture(level) {}
};

}  // namespace tlmtest

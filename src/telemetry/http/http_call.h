#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/http/http_types.h"

namespace tlm {

// A source of uniform random integers in [0, bound); bound is at least 1.
using TLMRandomSource = std::function<std::uint32_t(std::uint32_t bound)>;
TLMRandomSource TLMDefaultRandomSource();

// Bodies of this size and more are sent gzip-compressed.
inline constexpr std::size_t kTLMCompressionThreshold = 1400;

// One request and its retry state. Retry count, timer, progress and the
// completion handler are guarded by the call's own mutex.
class TLMHttpCall {
 public:
  using Compressor = std::function<std::optional<std::string>(const std::string&)>;

  // What a call needs from its client: where retry timers run, the random
  // source of the retry jitter and the compressor.
  struct Environment {
    dispatch::Queue* timerQueue = nullptr;
    TLMRandomSource random;
    Compressor compressor;
  };

  TLMHttpCall(std::string url, std::string method, const TLMHttpHeaders& headers,
              std::optional<std::string> data, std::vector<double> retryIntervals,
              bool compressionEnabled, TLMHttpCompletionHandler completionHandler,
              Environment environment);
  ~TLMHttpCall();
  TLMHttpCall(const TLMHttpCall&) = delete;
  TLMHttpCall& operator=(const TLMHttpCall&) = delete;

  const std::string& url() const { return url_; }
  const std::string& method() const { return method_; }
  // The headers and body as sent (after compression).
  const TLMHttpHeaders& headers() const { return headers_; }
  const std::optional<std::string>& data() const { return data_; }
  const std::vector<double>& retryIntervals() const { return retryIntervals_; }

  bool isInProgress() const;
  void setInProgress(bool inProgress);
  std::int32_t retryCount() const;

  bool hasReachedMaxRetries() const;
  // Cancels a pending retry timer and starts the retry series again.
  void resetRetry();
  // Runs `event` on the timer queue after `retryAfterMs` when given, else after
  // the jittered delay of the current retry count, and counts the retry.
  void startRetryTimer(std::int64_t statusCode, std::optional<std::uint32_t> retryAfterMs,
                       dispatch::Task event);
  // Half the interval of retry `retryCount` in milliseconds, plus a random
  // share of up to the other half (exclusive).
  std::uint32_t delayForRetryCount(std::int32_t retryCount) const;

  // A finished call is never sent again. Takes the handler out exactly once;
  // later calls answer an empty handler.
  TLMHttpCompletionHandler finish();
  bool isFinished() const;

 private:
  std::uint32_t delayLocked(std::int32_t retryCount) const;

  const std::string url_;
  const std::string method_;
  TLMHttpHeaders headers_;
  std::optional<std::string> data_;
  const std::vector<double> retryIntervals_;
  Environment environment_;

  mutable std::mutex mutex_;
  TLMHttpCompletionHandler completionHandler_;
  bool inProgress_ = false;
  bool finished_ = false;
  std::int32_t retryCount_ = 0;
  dispatch::TimerHandle timer_;
};

}  // namespace tlm

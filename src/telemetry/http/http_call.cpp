#include "telemetry/http/http_call.h"

#include <chrono>
#include <random>
#include <utility>

#include "telemetry/core/logger.h"
#include "telemetry/http/compression.h"

namespace tlm {

TLMRandomSource TLMDefaultRandomSource() {
  return [](std::uint32_t bound) -> std::uint32_t {
    thread_local std::mt19937 engine{std::random_device{}()};
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine);
  };
}

TLMHttpCall::TLMHttpCall(std::string url, std::string method, const TLMHttpHeaders& headers,
                         std::optional<std::string> data, std::vector<double> retryIntervals,
                         bool compressionEnabled, TLMHttpCompletionHandler completionHandler,
                         Environment environment)
    : url_(std::move(url)),
      method_(std::move(method)),
      headers_(headers),
      data_(std::move(data)),
      retryIntervals_(std::move(retryIntervals)),
      environment_(std::move(environment)),
      completionHandler_(std::move(completionHandler)) {
  if (!environment_.random) environment_.random = TLMDefaultRandomSource();
  if (!environment_.compressor) environment_.compressor = TLMCompression::compressData;
  if (compressionEnabled && data_ && data_->size() >= kTLMCompressionThreshold) {
    // A body that cannot be compressed goes out as it is, without the gzip header.
    if (auto compressed = environment_.compressor(*data_)) {
      data_ = std::move(compressed);
      headers_["Content-Encoding"] = "gzip";
    }
  }
  if (data_ && headers_.find("Content-Type") == headers_.end()) {
    headers_["Content-Type"] = "application/json";
  }
}

TLMHttpCall::~TLMHttpCall() {
  timer_.cancel();
}

bool TLMHttpCall::isInProgress() const {
  std::lock_guard lock(mutex_);
  return inProgress_;
}

void TLMHttpCall::setInProgress(bool inProgress) {
  std::lock_guard lock(mutex_);
  inProgress_ = inProgress;
}

std::int32_t TLMHttpCall::retryCount() const {
  std::lock_guard lock(mutex_);
  return retryCount_;
}

bool TLMHttpCall::hasReachedMaxRetries() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(retryCount_) >= retryIntervals_.size();
}

void TLMHttpCall::resetRetry() {
  std::lock_guard lock(mutex_);
  timer_.cancel();
  timer_ = {};
  retryCount_ = 0;
}

std::uint32_t TLMHttpCall::delayForRetryCount(std::int32_t retryCount) const {
  std::lock_guard lock(mutex_);
  return delayLocked(retryCount);
}

std::uint32_t TLMHttpCall::delayLocked(std::int32_t retryCount) const {
  if (retryCount < 0 || static_cast<std::size_t>(retryCount) >= retryIntervals_.size()) return 0;
  const double interval = retryIntervals_[static_cast<std::size_t>(retryCount)];
  const auto half = static_cast<std::uint32_t>(interval * 1e9 * 0.5 / 1e6);
  if (half == 0) return 0;
  return half + environment_.random(half);
}

void TLMHttpCall::startRetryTimer(std::int64_t statusCode,
                                  std::optional<std::uint32_t> retryAfterMs, dispatch::Task event) {
  std::lock_guard lock(mutex_);
  if (finished_) return;
  const std::uint32_t delay = retryAfterMs ? *retryAfterMs : delayLocked(retryCount_);
  TLM_LOG(TLMLogLevel::Warning, kTLMLogTag,
          "Call attempt #" + std::to_string(retryCount_) +
              " failed with status code: " + std::to_string(statusCode) +
              ", it will be retried in " + std::to_string(delay) + " ms.");
  ++retryCount_;
  timer_.cancel();
  timer_ = environment_.timerQueue->after(std::chrono::milliseconds(delay), std::move(event));
}

TLMHttpCompletionHandler TLMHttpCall::finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
  timer_.cancel();
  return std::exchange(completionHandler_, nullptr);
}

bool TLMHttpCall::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

}  // namespace tlm

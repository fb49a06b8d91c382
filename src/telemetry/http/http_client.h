#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/http/http_call.h"
#include "telemetry/http/http_transport.h"
#include "telemetry/http/http_types.h"
#include "telemetry/http/reachability.h"

namespace tlm {

// Told just before each attempt of a request goes out.
class TLMHttpClientDelegate {
 public:
  virtual ~TLMHttpClientDelegate() = default;
  virtual void willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) = 0;
};

// What the ingestions use of an HTTP client.
class TLMHttpClientProtocol {
 public:
  virtual ~TLMHttpClientProtocol() = default;

  // 10, 300 and 1200 seconds.
  static const std::vector<double>& defaultRetryIntervals();

  // Retries after the default intervals, compression enabled.
  void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                 std::optional<std::string> data, TLMHttpCompletionHandler handler) {
    sendAsync(url, method, headers, std::move(data), defaultRetryIntervals(), true,
              std::move(handler));
  }
  virtual void sendAsync(const std::string& url, const std::string& method,
                         const TLMHttpHeaders& headers, std::optional<std::string> data,
                         const std::vector<double>& retryIntervals, bool compressionEnabled,
                         TLMHttpCompletionHandler handler) = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
  virtual void setEnabled(bool enabled, bool deleteDataOnDisabled) = 0;
  virtual std::shared_ptr<TLMHttpClientDelegate> delegate() const = 0;
  // Held weakly.
  virtual void setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) = 0;
};

// Sends requests with retries after growing, jittered delays, keeps unfinished
// calls while the network is down or the client is paused, and cancels all of
// them when disabled with deletion. Thread-safe; completion handlers and the
// delegate are never called with the client's lock held.
class TLMHttpClient final : public TLMHttpClientProtocol {
 public:
  struct Dependencies {
    // Where retry timers run; must outlive the client.
    dispatch::Queue* retryQueue = nullptr;
    // Always reachable when empty.
    std::shared_ptr<TLMReachability> reachability;
    // Makes the transport, again after each re-enable. None: there is no
    // transport, and calls wait unsent.
    TLMHttpTransportFactory transportFactory;
    TLMRandomSource random;
    TLMHttpCall::Compressor compressor;
  };

  // Transports from `transportFactory`; always reachable when `reachability`
  // is none.
  TLMHttpClient(dispatch::Queue& retryQueue, TLMHttpTransportFactory transportFactory,
                std::shared_ptr<TLMReachability> reachability = nullptr);
  explicit TLMHttpClient(Dependencies dependencies);
  ~TLMHttpClient() override;
  TLMHttpClient(const TLMHttpClient&) = delete;
  TLMHttpClient& operator=(const TLMHttpClient&) = delete;

  using TLMHttpClientProtocol::sendAsync;
  void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                 std::optional<std::string> data, const std::vector<double>& retryIntervals,
                 bool compressionEnabled, TLMHttpCompletionHandler handler) override;
  void pause() override;
  void resume() override;
  void setEnabled(bool enabled, bool deleteDataOnDisabled) override;
  std::shared_ptr<TLMHttpClientDelegate> delegate() const override;
  void setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) override;

  bool isPaused() const;
  bool isEnabled() const;
  std::size_t pendingCallCount() const;

  // The process's queue for retry timers: a serial queue made on first use
  // and never destroyed, so that a client kept alive by anything (a service,
  // a unit, a pending call) still has it until the process ends.
  static dispatch::Queue& defaultRetryQueue();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// What the program injects into the SDK: the process-wide HTTP client of the
// SDK's channel group, if any, and the transport of the HTTP clients the SDK
// makes itself (none: they send nothing).
class TLMDependencyConfiguration {
 public:
  static std::shared_ptr<TLMHttpClientProtocol> httpClient();
  // Pass nullptr to reset.
  static void setHttpClient(std::shared_ptr<TLMHttpClientProtocol> client);
  static TLMHttpTransportFactory httpTransportFactory();
  // Pass nullptr to reset.
  static void setHttpTransportFactory(TLMHttpTransportFactory factory);
};

}  // namespace tlm

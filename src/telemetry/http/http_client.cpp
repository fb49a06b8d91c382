#include "telemetry/http/http_client.h"

#include <charconv>
#include <cmath>
#include <mutex>
#include <set>

#include "base/shared_slot.h"
#include "dispatch/serial_queue.h"
#include "telemetry/core/logger.h"
#include "telemetry/http/http_util.h"

namespace tlm {

namespace {

constexpr const char* kRetryAfterHeader = "x-ms-retry-after-ms";

// Work that calls out of the client (handlers, the delegate, transports) is
// collected while the lock is held and run once it is released, so nothing the
// client calls can deadlock against a lock of its caller.
class Outbox {
 public:
  Outbox() = default;
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;
  ~Outbox() {
    for (auto& task : tasks_)
      task();
    tasks_.clear();
  }
  void post(std::function<void()> task) { tasks_.push_back(std::move(task)); }

 private:
  std::vector<std::function<void()>> tasks_;
};

// A number in the retry-after header, in milliseconds; nothing for text that is
// not a non-negative number.
std::optional<std::uint32_t> parseRetryAfter(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value) || value < 0 ||
      value > 4294967295.0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

const std::vector<double>& TLMHttpClientProtocol::defaultRetryIntervals() {
  static const std::vector<double> intervals{10, 300, 1200};
  return intervals;
}

struct TLMHttpClient::Impl : std::enable_shared_from_this<TLMHttpClient::Impl> {
  using CallPtr = std::shared_ptr<TLMHttpCall>;

  dispatch::Queue* retryQueue = nullptr;
  std::shared_ptr<TLMReachability> reachability;
  TLMHttpTransportFactory transportFactory;
  TLMRandomSource random;
  TLMHttpCall::Compressor compressor;

  mutable std::recursive_mutex mutex;
  bool paused = false;
  bool enabled = true;
  std::weak_ptr<TLMHttpClientDelegate> delegate;
  std::shared_ptr<TLMHttpTransport> transport;
  std::set<CallPtr> pendingCalls;

  void startNotifier() {
    std::weak_ptr<Impl> weak = weak_from_this();
    reachability->startNotifier([weak] {
      if (auto self = weak.lock()) self->networkStateChanged();
    });
  }

  void finish(const CallPtr& call, std::optional<std::string> body,
              std::optional<TLMHttpResponse> response, std::optional<base::Error> error,
              Outbox& outbox) {
    pendingCalls.erase(call);
    if (auto handler = call->finish()) {
      outbox.post([handler = std::move(handler), body = std::move(body),
                   response = std::move(response),
                   error = std::move(error)] { handler(body, response, error); });
    }
  }

  void sendCall(const CallPtr& call, Outbox& outbox) {
    // A call that was finished or cancelled (its retry timer may fire late) is never sent again.
    if (call->isFinished()) return;
    pendingCalls.insert(call);
    if (paused || !transport) return;
    call->setInProgress(true);
    std::weak_ptr<Impl> weak = weak_from_this();
    outbox.post([weak, call, delegate = delegate.lock(), transport = transport] {
      if (delegate) delegate->willSendHTTPRequestToURL(call->url(), call->headers());
      TLMHttpRequest request{call->url(), call->method(), call->headers(), call->data()};
      transport->start(
          std::move(request), [weak, call](std::optional<TLMHttpResponse> response,
                                           std::string body, std::optional<base::Error> error) {
            if (auto self = weak.lock()) {
              self->requestCompleted(call, std::move(body), std::move(response), std::move(error));
            }
          });
    });
  }

  void sendCallEntry(const CallPtr& call) {
    Outbox outbox;
    std::lock_guard lock(mutex);
    sendCall(call, outbox);
  }

  void requestCompleted(const CallPtr& call, std::string body,
                        std::optional<TLMHttpResponse> response, std::optional<base::Error> error) {
    Outbox outbox;
    std::lock_guard lock(mutex);
    call->setInProgress(false);
    if (!pendingCalls.contains(call)) {
      TLM_LOG(TLMLogLevel::Debug, kTLMLogTag, "HTTP call was canceled; do not process further.");
      return;
    }
    if (error) {
      const bool offline = TLMHttpUtil::isNoInternetConnectionError(*error);
      if (offline || TLMHttpUtil::isSSLConnectionError(*error)) {
        call->resetRetry();
        TLM_LOG(TLMLogLevel::Info, kTLMLogTag,
                std::string("HTTP call failed with error: ") +
                    (offline ? "Internet connection is down."
                             : "Could not establish secure connection."));
        return;
      }
      TLM_LOG(TLMLogLevel::Error, kTLMLogTag,
              "HTTP request error with code: " + std::to_string(error->code) +
                  ", domain: " + error->domain + ", description: " + error->description);
      finish(call, std::move(body), std::nullopt, std::move(error), outbox);
      return;
    }
    const std::int64_t status = response ? response->statusCode : 0;
    if (TLMHttpUtil::isRecoverableError(status)) {
      if (call->hasReachedMaxRetries()) {
        pause();
        finish(call, std::move(body), std::move(response), std::nullopt, outbox);
        return;
      }
      std::optional<std::uint32_t> retryAfter;
      if (response) {
        if (auto it = response->headers.find(kRetryAfterHeader); it != response->headers.end()) {
          retryAfter = parseRetryAfter(it->second);
        }
      }
      std::weak_ptr<Impl> weak = weak_from_this();
      call->startRetryTimer(status, retryAfter, [weak, call] {
        if (auto self = weak.lock()) self->sendCallEntry(call);
      });
      return;
    }
    if (TLMHttpUtil::isSuccessStatusCode(status)) {
      finish(call, std::move(body), std::move(response), std::nullopt, outbox);
      return;
    }
    finish(call, std::move(body), std::move(response), std::nullopt, outbox);
    setEnabled(false, true, outbox);
  }

  void pause() {
    if (paused) return;
    TLM_LOG(TLMLogLevel::Info, kTLMLogTag, "Pause HTTP client.");
    paused = true;
    for (const auto& call : pendingCalls)
      call->resetRetry();
  }

  void resume(Outbox& outbox) {
    if (!paused || !enabled) return;
    TLM_LOG(TLMLogLevel::Info, kTLMLogTag, "Resume HTTP client.");
    paused = false;
    const std::vector<CallPtr> calls(pendingCalls.begin(), pendingCalls.end());
    for (const auto& call : calls) {
      if (!call->isInProgress()) sendCall(call, outbox);
    }
  }

  void networkStateChanged() {
    Outbox outbox;
    std::lock_guard lock(mutex);
    if (reachability->currentReachabilityStatus() == TLMReachable) {
      TLM_LOG(TLMLogLevel::Info, kTLMLogTag, "Internet connection is up.");
      resume(outbox);
    } else {
      TLM_LOG(TLMLogLevel::Info, kTLMLogTag, "Internet connection is down.");
      pause();
    }
  }

  void setEnabled(bool value, bool deleteData, Outbox& outbox) {
    if (enabled == value) return;
    enabled = value;
    if (enabled) {
      if (!transport && transportFactory) transport = transportFactory();
      resume(outbox);
      // Started once the lock is released: a notifier may report at once.
      outbox.post([self = shared_from_this()] { self->startNotifier(); });
      return;
    }
    reachability->stopNotifier();
    pause();
    if (!deleteData) return;
    if (transport) {
      transport->invalidateAndCancel();
      // Dropped outside the lock: the transport may wait for its worker, which
      // may be waiting for this lock.
      outbox.post([old = std::move(transport)] {});
      transport = nullptr;
    }
    const std::vector<CallPtr> calls(pendingCalls.begin(), pendingCalls.end());
    pendingCalls.clear();
    for (const auto& call : calls) {
      if (auto handler = call->finish()) {
        outbox.post([handler = std::move(handler)] {
          handler(std::nullopt, std::nullopt, TLMCanceledError());
        });
      }
    }
  }
};

TLMHttpClient::TLMHttpClient(dispatch::Queue& retryQueue, TLMHttpTransportFactory transportFactory,
                             std::shared_ptr<TLMReachability> reachability)
    : TLMHttpClient(Dependencies{
          &retryQueue, std::move(reachability), std::move(transportFactory), {}, {}}) {}

TLMHttpClient::TLMHttpClient(Dependencies dependencies) : impl_(std::make_shared<Impl>()) {
  impl_->retryQueue = dependencies.retryQueue;
  impl_->reachability = dependencies.reachability ? std::move(dependencies.reachability)
                                                  : std::make_shared<TLMAlwaysReachable>();
  impl_->transportFactory = std::move(dependencies.transportFactory);
  impl_->random = dependencies.random ? std::move(dependencies.random) : TLMDefaultRandomSource();
  impl_->compressor = std::move(dependencies.compressor);
  if (impl_->transportFactory) impl_->transport = impl_->transportFactory();
  impl_->startNotifier();
}

TLMHttpClient::~TLMHttpClient() {
  std::shared_ptr<TLMHttpTransport> transport;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->reachability->stopNotifier();
    transport = std::move(impl_->transport);
    impl_->transport = nullptr;
  }
  // Requests still in flight end with the transport; their completions find no client.
}

void TLMHttpClient::sendAsync(const std::string& url, const std::string& method,
                              const TLMHttpHeaders& headers, std::optional<std::string> data,
                              const std::vector<double>& retryIntervals, bool compressionEnabled,
                              TLMHttpCompletionHandler handler) {
  Outbox outbox;
  std::lock_guard lock(impl_->mutex);
  if (!impl_->enabled) {
    if (handler) {
      outbox.post([handler = std::move(handler)] {
        handler(std::nullopt, std::nullopt, TLMDisabledError());
      });
    }
    return;
  }
  auto call = std::make_shared<TLMHttpCall>(
      url, method, headers, std::move(data), retryIntervals, compressionEnabled, std::move(handler),
      TLMHttpCall::Environment{impl_->retryQueue, impl_->random, impl_->compressor});
  impl_->sendCall(call, outbox);
}

void TLMHttpClient::pause() {
  std::lock_guard lock(impl_->mutex);
  impl_->pause();
}

void TLMHttpClient::resume() {
  Outbox outbox;
  std::lock_guard lock(impl_->mutex);
  impl_->resume(outbox);
}

void TLMHttpClient::setEnabled(bool enabled, bool deleteDataOnDisabled) {
  Outbox outbox;
  std::lock_guard lock(impl_->mutex);
  impl_->setEnabled(enabled, deleteDataOnDisabled, outbox);
}

std::shared_ptr<TLMHttpClientDelegate> TLMHttpClient::delegate() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->delegate.lock();
}

void TLMHttpClient::setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) {
  std::lock_guard lock(impl_->mutex);
  impl_->delegate = std::move(delegate);
}

bool TLMHttpClient::isPaused() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->paused;
}

bool TLMHttpClient::isEnabled() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->enabled;
}

std::size_t TLMHttpClient::pendingCallCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->pendingCalls.size();
}

dispatch::Queue& TLMHttpClient::defaultRetryQueue() {
  // Never destroyed: its thread ends with the process.
  static auto* queue = new dispatch::SerialQueue("com.zodoradud.daraveved.HttpRetryQueue");
  return *queue;
}

namespace {
base::SharedSlot<TLMHttpClientProtocol>& httpClientSlot() {
  static base::SharedSlot<TLMHttpClientProtocol> slot;
  return slot;
}
}  // namespace

std::shared_ptr<TLMHttpClientProtocol> TLMDependencyConfiguration::httpClient() {
  return httpClientSlot().get();
}

void TLMDependencyConfiguration::setHttpClient(std::shared_ptr<TLMHttpClientProtocol> client) {
  httpClientSlot().exchange(std::move(client));
}

namespace {
struct TransportSlot {
  std::mutex mutex;
  TLMHttpTransportFactory factory;
};
TransportSlot& transportSlot() {
  static TransportSlot slot;
  return slot;
}
}  // namespace

TLMHttpTransportFactory TLMDependencyConfiguration::httpTransportFactory() {
  TransportSlot& slot = transportSlot();
  std::lock_guard lock(slot.mutex);
  return slot.factory;
}

void TLMDependencyConfiguration::setHttpTransportFactory(TLMHttpTransportFactory factory) {
  TransportSlot& slot = transportSlot();
  std::lock_guard lock(slot.mutex);
  slot.factory = std::move(factory);
}

}  // namespace tlm

#include "telemetry/http/linux/curl_transport.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tlm {

namespace {

void initCurlOnce() {
  static const bool done = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)done;
}

base::Error urlError(std::int64_t code, std::string description) {
  return {kTLMURLErrorDomain, code, std::move(description)};
}

// Maps a curl failure to the URL-loading code the client classifies by. A
// connection that closed without a reply stays an ordinary error: "connection
// lost" would park the call until a network change that may never come.
// `requestSent`: the request went out, so a protocol curl does not take is
// the server's reply (HTTP/0.9, a garbled status line), not the URL's scheme.
std::int64_t mapCurlError(CURLcode code, long osErrno, bool requestSent) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return TLMURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
      return TLMURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? TLMURLErrorNotConnectedToInternet
                                                             : TLMURLErrorCannotConnectToHost;
    case CURLE_SSL_CONNECT_ERROR:
      return TLMURLErrorSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
      return TLMURLErrorServerCertificateUntrusted;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return TLMURLErrorBadServerResponse;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return requestSent ? TLMURLErrorBadServerResponse : TLMURLErrorBadURL;
    case CURLE_URL_MALFORMAT:
      return TLMURLErrorBadURL;
    default:
      return TLMURLErrorUnknown;
  }
}

// Most bytes of response heads (all status and header lines) kept per request.
constexpr std::size_t kMaxResponseHeadBytes = 256 * 1024;

// Why a callback ended a transfer early.
enum class Stop { none, bodyFull, headTooLong, failed };

struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  TLMHttpTransport::Completion completion;
  TLMHttpResponse response;
  bool sawStatus = false;
  std::string body;
  std::size_t headBytes = 0;
  Stop stop = Stop::none;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
  }
};

// The callbacks below run inside libcurl: nothing may be thrown through it,
// so each catches everything and ends the transfer instead.

// Keeps the body's first kTLMMaxResponseBodyBytes; past that the transfer ends
// and finish() answers with what was kept.
size_t onBody(char* data, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t length = size * count;
  try {
    const size_t room = kTLMMaxResponseBodyBytes - transfer->body.size();
    transfer->body.append(data, std::min(length, room));
    if (length <= room) return length;
    transfer->stop = Stop::bodyFull;
  } catch (...) {
    transfer->stop = Stop::failed;
  }
  return CURL_WRITEFUNC_ERROR;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t length = size * count;
  transfer->headBytes += length;
  if (transfer->headBytes > kMaxResponseHeadBytes) {
    transfer->stop = Stop::headTooLong;
    return CURL_WRITEFUNC_ERROR;
  }
  try {
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
      line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      // A new status line (after "100 Continue" or a redirect) starts a new head.
      transfer->response.headers.clear();
      transfer->sawStatus = true;
    } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
      transfer->response.headers[std::string(line.substr(0, colon))] = std::string(value);
    }
  } catch (...) {
    transfer->stop = Stop::failed;
    return CURL_WRITEFUNC_ERROR;
  }
  return length;
}

// Shared between the transport object and its worker thread, so a worker that
// outlives the object (destroyed from one of its own completions) stays sound.
struct Shared {
  TLMHttpTransportConfiguration configuration;
  CURLM* multi = nullptr;
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> incoming;
  bool stopping = false;
  bool invalidated = false;
  bool cancelActive = false;
  // How long the worker sleeps when nothing wakes it. curl shortens the wait
  // by itself while a transfer has a timer, and start(), cancelling and
  // stopping wake it, so an idle worker sleeps until there is work. Only
  // without a working wake-up does it look for work every second.
  int idlePollMs = std::numeric_limits<int>::max();

  // The multi handle lives as long as both the transport and its worker.
  ~Shared() { curl_multi_cleanup(multi); }
};

void fail(std::unique_ptr<Transfer> transfer, base::Error error) {
  auto completion = std::move(transfer->completion);
  transfer.reset();
  completion(std::nullopt, std::string(), std::move(error));
}

std::unique_ptr<Transfer> prepare(const TLMHttpTransportConfiguration& configuration,
                                  TLMHttpRequest request, TLMHttpTransport::Completion completion) {
  auto transfer = std::make_unique<Transfer>();
  transfer->completion = std::move(completion);
  CURL* easy = curl_easy_init();
  transfer->easy = easy;
  if (!easy) return transfer;
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // Loopback hosts are never reached through a proxy.
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(configuration.timeout.count()));
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
  curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
  if (request.body) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body->size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body->data());
  } else if (request.method == "POST") {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0});
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, "");
  }
  if (request.method != "GET" && request.method != "POST") {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  } else if (request.method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  bool hasContentType = false;
  for (const auto& [name, value] : request.headers) {
    if (TLMHeaderNameEquals(name, "Expect")) continue;
    hasContentType |= TLMHeaderNameEquals(name, "Content-Type");
    transfer->headerList = curl_slist_append(transfer->headerList, (name + ": " + value).c_str());
  }
  // No "100-continue" round trip before the body.
  transfer->headerList = curl_slist_append(transfer->headerList, "Expect:");
  // curl would otherwise add a form content type of its own.
  if (!hasContentType) {
    transfer->headerList = curl_slist_append(transfer->headerList, "Content-Type:");
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headerList);
  return transfer;
}

void finish(std::unique_ptr<Transfer> transfer, CURLcode code) {
  // A body cut at its bound still answers with the response it belongs to.
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && transfer->stop == Stop::bodyFull)) {
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    transfer->response.statusCode = status;
    auto completion = std::move(transfer->completion);
    auto response = std::move(transfer->response);
    auto body = std::move(transfer->body);
    transfer.reset();
    completion(std::move(response), std::move(body), std::nullopt);
    return;
  }
  if (transfer->stop == Stop::headTooLong) {
    fail(std::move(transfer), urlError(TLMURLErrorBadServerResponse,
                                       "The response head is longer than " +
                                           std::to_string(kMaxResponseHeadBytes) + " bytes."));
    return;
  }
  if (transfer->stop == Stop::failed) {
    fail(std::move(transfer), urlError(TLMURLErrorUnknown, "The response could not be kept."));
    return;
  }
  long osErrno = 0;
  curl_easy_getinfo(transfer->easy, CURLINFO_OS_ERRNO, &osErrno);
  long requestSize = 0;
  curl_easy_getinfo(transfer->easy, CURLINFO_REQUEST_SIZE, &requestSize);
  std::string description =
      transfer->errorBuffer[0] ? transfer->errorBuffer : curl_easy_strerror(code);
  fail(std::move(transfer),
       urlError(mapCurlError(code, osErrno, requestSize > 0), std::move(description)));
}

void run(std::shared_ptr<Shared> shared) {
  // Named so that it can be told apart among the process's threads.
  pthread_setname_np(pthread_self(), kTLMHttpWorkerThreadName);
  std::map<CURL*, std::unique_ptr<Transfer>> active;
  for (;;) {
    std::deque<std::unique_ptr<Transfer>> incoming;
    bool stopping, cancelActive;
    {
      std::lock_guard lock(shared->mutex);
      incoming.swap(shared->incoming);
      stopping = shared->stopping;
      cancelActive = shared->cancelActive;
      shared->cancelActive = false;
    }
    if (cancelActive || stopping) {
      for (auto& [easy, transfer] : active) {
        curl_multi_remove_handle(shared->multi, easy);
        fail(std::move(transfer), urlError(TLMURLErrorCancelled, "cancelled"));
      }
      active.clear();
      for (auto& transfer : incoming)
        fail(std::move(transfer), urlError(TLMURLErrorCancelled, "cancelled"));
      incoming.clear();
    }
    if (stopping) break;
    for (auto& transfer : incoming) {
      if (!transfer->easy || curl_multi_add_handle(shared->multi, transfer->easy) != CURLM_OK) {
        fail(std::move(transfer), urlError(TLMURLErrorUnknown, "could not start the request"));
        continue;
      }
      CURL* easy = transfer->easy;
      active.emplace(easy, std::move(transfer));
    }
    int running = 0;
    curl_multi_perform(shared->multi, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(shared->multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      CURLcode code = message->data.result;
      curl_multi_remove_handle(shared->multi, easy);
      auto it = active.find(easy);
      if (it == active.end()) continue;
      auto transfer = std::move(it->second);
      active.erase(it);
      finish(std::move(transfer), code);
    }
    curl_multi_poll(shared->multi, nullptr, 0, shared->idlePollMs, nullptr);
  }
}

class CurlTransport final : public TLMHttpTransport {
 public:
  // curl and the worker start with the first request: a transport that
  // sends nothing (a build that keeps its logs locally) costs no thread and
  // leaves the TLS library unloaded.
  explicit CurlTransport(TLMHttpTransportConfiguration configuration)
      : shared_(std::make_shared<Shared>()) {
    shared_->configuration = configuration;
  }

  ~CurlTransport() override {
    if (!worker_.joinable()) return;  // never started
    {
      std::lock_guard lock(shared_->mutex);
      shared_->stopping = true;
    }
    curl_multi_wakeup(shared_->multi);
    // Destroyed from one of its own completions: the worker ends by itself.
    if (worker_.get_id() == std::this_thread::get_id()) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  void start(TLMHttpRequest request, Completion completion) override {
    std::call_once(started_, [this] { startWorker(); });
    auto transfer = prepare(shared_->configuration, std::move(request), std::move(completion));
    {
      std::lock_guard lock(shared_->mutex);
      if (!shared_->invalidated) {
        shared_->incoming.push_back(std::move(transfer));
      }
    }
    if (transfer) {
      fail(std::move(transfer), urlError(TLMURLErrorCancelled, "cancelled"));
      return;
    }
    curl_multi_wakeup(shared_->multi);
  }

  void invalidateAndCancel() override {
    CURLM* multi = nullptr;
    {
      std::lock_guard lock(shared_->mutex);
      shared_->invalidated = true;
      shared_->cancelActive = true;
      multi = shared_->multi;
    }
    if (multi) curl_multi_wakeup(multi);
  }

 private:
  void startWorker() {
    initCurlOnce();
    CURLM* multi = curl_multi_init();
    if (shared_->configuration.maxConnectionsPerHost) {
      curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                        *shared_->configuration.maxConnectionsPerHost);
    }
    {
      std::lock_guard lock(shared_->mutex);
      shared_->multi = multi;
      // Tries the wake-up once: the worker's first wait then ends at once.
      if (curl_multi_wakeup(multi) != CURLM_OK) shared_->idlePollMs = 1000;
    }
    worker_ = std::thread(run, shared_);
  }

  std::shared_ptr<Shared> shared_;
  std::once_flag started_;
  std::thread worker_;
};

}  // namespace

std::unique_ptr<TLMHttpTransport> TLMMakeCurlTransport(
    TLMHttpTransportConfiguration configuration) {
  return std::make_unique<CurlTransport>(configuration);
}

TLMHttpTransportFactory TLMCurlTransportFactory(TLMHttpTransportConfiguration configuration) {
  return [configuration] { return TLMMakeCurlTransport(configuration); };
}

}  // namespace tlm

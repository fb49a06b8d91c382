#pragma once

// A real HTTP server on 127.0.0.1 for tests: records every request (gzip
// bodies inflated), answers with scripted statuses, headers and bodies (or a
// long body streamed in chunks), and can hold an answer until released. Also a
// raw TCP server that answers every connection with fixed bytes (none by
// default) and closes it, and a port where nothing listens.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tlmtest {

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::multimap<std::string, std::string, httplib::detail::ci> headers;
  std::string body;  // inflated when it was gzip
  bool bodyWasGzip = false;

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
};

struct ScriptedResponse {
  int status = 200;
  std::map<std::string, std::string> headers;
  std::string body;
  std::string contentType = "text/plain";
  // Hold the answer until release() (for time-outs).
  bool hold = false;
  // When set, the body is this many bytes of 'x' instead, made in chunks as
  // the client reads them; a client that stops reading ends it early.
  std::size_t streamedBytes = 0;

  static ScriptedResponse held() {
    ScriptedResponse response;
    response.hold = true;
    return response;
  }
  static ScriptedResponse streaming(std::size_t bytes) {
    ScriptedResponse response;
    response.streamedBytes = bytes;
    return response;
  }
};

inline std::string gunzip(const std::string& data) {
  z_stream stream{};
  if (inflateInit2(&stream, 31) != Z_OK) return {};
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char buffer[4096];
  int status;
  do {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  } while (status == Z_OK);
  inflateEnd(&stream);
  return status == Z_STREAM_END ? out : std::string();
}

inline bool isGzip(const std::string& data) {
  return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1f &&
         static_cast<unsigned char>(data[1]) == 0x8b;
}

class LoopbackServer {
 public:
  LoopbackServer() {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
      handle(req, res);
    };
    server_.Post(".*", handler);
    server_.Get(".*", handler);
    server_.Put(".*", handler);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }

  ~LoopbackServer() {
    release();
    server_.stop();
    thread_.join();
  }

  int port() const { return port_; }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Answers in order; once the script is used up every request gets 200.
  void script(std::vector<ScriptedResponse> responses) {
    std::lock_guard lock(mutex_);
    for (auto& r : responses)
      script_.push_back(std::move(r));
  }

  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  // Waits (bounded) until `count` requests arrived.
  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
  }

  // Waits (bounded) until `done(requests)` holds for the requests so far.
  template <class Done>
  bool waitUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(requests_); });
  }

  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void handle(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest record;
    record.method = req.method;
    record.target = req.target;
    for (const auto& [name, value] : req.headers)
      record.headers.emplace(name, value);
    record.bodyWasGzip = isGzip(req.body);
    record.body = record.bodyWasGzip ? gunzip(req.body) : req.body;
    ScriptedResponse response;
    {
      std::unique_lock lock(mutex_);
      requests_.push_back(std::move(record));
      if (!script_.empty()) {
        response = std::move(script_.front());
        script_.pop_front();
      }
      changed_.notify_all();
      if (response.hold) {
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return released_; });
      }
    }
    res.status = response.status;
    for (const auto& [name, value] : response.headers)
      res.set_header(name, value);
    if (response.streamedBytes > 0) {
      res.set_chunked_content_provider(
          response.contentType,
          [left = response.streamedBytes](std::size_t, httplib::DataSink& sink) mutable {
            static const std::string chunk(64 * 1024, 'x');
            const std::size_t length = std::min(left, chunk.size());
            if (!sink.write(chunk.data(), length)) return false;
            left -= length;
            if (left == 0) sink.done();
            return true;
          });
      return;
    }
    res.set_content(response.body, response.contentType);
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ScriptedResponse> script_;
  std::vector<RecordedRequest> requests_;
  bool released_ = false;
};

// Accepts connections, reads what comes, writes `reply` (by default nothing)
// and closes.
class ClosingServer {
 public:
  explicit ClosingServer(std::string reply = {}) : reply_(std::move(reply)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 8);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0) return;
        if (stopping_) {
          ::close(client);
          return;
        }
        char buffer[4096];
        (void)::recv(client, buffer, sizeof buffer, 0);
        if (!reply_.empty()) {
          (void)::send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL);
          // Closing with unread bytes would reset the connection before the
          // client reads the reply: end the writing side and drain (bounded).
          ::shutdown(client, SHUT_WR);
          timeval limit{2, 0};
          ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
          while (::recv(client, buffer, sizeof buffer, 0) > 0) {
          }
        }
        accepted_++;
        ::close(client);
      }
    });
  }
  ~ClosingServer() {
    stopping_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int accepted() const { return accepted_; }

 private:
  std::string reply_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// A loopback port with nothing listening on it: bound but not listening, so
// connections are refused, and held so no other server can take the port.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~ClosedPort() { ::close(fd_); }
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;

  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace tlmtest

#pragma once

// Handing "wendrix:" URLs to the one running agent of the user's session.
// The first instance listens on a Unix socket in $XDG_RUNTIME_DIR/app.Wendrix/
// (folder 0700, socket 0600); `wendrix URL...` started while it runs sends
// the URLs there and exits.
//
// A message is the URLs, each followed by "\n", ended by the client shutting
// down its side (no URLs: a probe for the instance). The agent answers once
// it has carried the URLs out: "OK\n" when every one succeeded, else
// "ERR <reason>\n"; then it closes. A client beyond the limit is answered
// "ERR busy: ...".
// Messages that are too long, hold anything but URL lines, or do not end in
// time are refused with a log line; every client is served without blocking,
// so one that is silent or slow never holds up another.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dispatch/main_loop.h"
#include "dispatch/queue.h"

namespace wendrix {

inline constexpr std::string_view kURLDeliveryErrorDomain = "Wendrix.URLDelivery";

struct URLMessageLimits {
  // Bytes of one message, line ends included.
  std::size_t maxBytes = 64 * 1024;
  std::size_t maxURLs = 64;
  // How long a client may take from connecting to the end of its message.
  dispatch::Duration deadline = std::chrono::seconds(5);
  // Clients served at once; more are turned away.
  std::size_t maxClients = 16;
};

// The URLs of a message; fails on a message over the limits, one that is not
// UTF-8, holds control characters or empty lines, or does not end in "\n".
base::Result<std::vector<std::string>> parseURLMessage(std::string_view message,
                                                       const URLMessageLimits& limits = {});
// The message for `urls` (checked as the agent will check it).
base::Result<std::string> makeURLMessage(const std::vector<std::string>& urls,
                                         const URLMessageLimits& limits = {});

// The folder, socket and lock of the user's instance.
struct InstancePaths {
  std::filesystem::path folder;
  std::filesystem::path socket;
  std::filesystem::path lock;

  // Below $XDG_RUNTIME_DIR/<bundleId>/; without XDG_RUNTIME_DIR, below
  // /tmp/<bundleId>-<uid>/.
  static InstancePaths fromEnvironment(std::string_view bundleId);
  static InstancePaths in(const std::filesystem::path& folder);

  // Makes the folder (0700) when missing; fails when it is not a folder of
  // this user that only this user may enter.
  base::Status preparePrivateFolder() const;
};

// Held by the instance that serves the session: an exclusive lock on the
// instance's lock file, released when destroyed (or when the process ends).
class InstanceLock {
 public:
  // The lock, or none when another process holds it.
  static base::Result<std::optional<InstanceLock>> tryAcquire(const std::filesystem::path& path);
  InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// How long each step of a client may take.
struct URLClientDeadlines {
  // Until the instance takes the connection (its backlog may be full).
  std::chrono::milliseconds connect = std::chrono::seconds(5);
  // Until the whole message is sent.
  std::chrono::milliseconds send = std::chrono::seconds(5);
  // Until the answer, which comes once the URLs are carried out: long enough
  // for a restore that runs into its own time limit.
  std::chrono::milliseconds answer = std::chrono::seconds(45);
};

// Sends `urls` to the instance listening at `socket`. True once it carried
// every one out, false when none listens there; an error with the reason when
// it refused them, one failed, or a step ran past its deadline (after the
// message went out, the error says that the URLs may still be carried out).
base::Result<bool> sendURLsToInstance(const std::filesystem::path& socket,
                                      const std::vector<std::string>& urls,
                                      URLClientDeadlines deadlines = {},
                                      const URLMessageLimits& limits = {});

// Serves the socket on the main loop. Removes the socket file when destroyed.
class URLServer {
 public:
  // Tells the client how its URLs went; may be called later, from the main
  // loop, also after the server is gone (then it does nothing).
  using Reply = std::function<void(const base::Status& outcome)>;
  using Handler = std::function<void(std::vector<std::string> urls, Reply reply)>;

  // Listens at `socket`, replacing a file left there (the caller holds the
  // instance lock). `timers` runs the clients' deadlines; `log` gets a line
  // per refused client. All of them must outlive the server.
  static base::Result<std::unique_ptr<URLServer>> listen(dispatch::MainLoop& loop,
                                                         dispatch::Queue& timers,
                                                         const std::filesystem::path& socket,
                                                         Handler handler, std::ostream& log,
                                                         URLMessageLimits limits = {});
  ~URLServer();
  URLServer(const URLServer&) = delete;
  URLServer& operator=(const URLServer&) = delete;

  std::size_t clientCount() const { return clients_.size(); }

 private:
  struct Client;

  URLServer(dispatch::MainLoop& loop, dispatch::Queue& timers, std::filesystem::path socket, int fd,
            Handler handler, std::ostream& log, URLMessageLimits limits);
  void acceptClients();
  void readFrom(int fd);
  // Keeps the client until the handler replies.
  void carryOut(int fd, std::vector<std::string> urls);
  // Answers (best effort) and closes the client.
  void finish(int fd, std::string_view reply);
  void refuse(int fd, const std::string& reason);

  dispatch::MainLoop& loop_;
  dispatch::Queue& timers_;
  std::filesystem::path socket_;
  int fd_;
  Handler handler_;
  std::ostream& log_;
  URLMessageLimits limits_;
  dispatch::WatchHandle watch_;
  std::map<int, std::unique_ptr<Client>> clients_;
  std::uint64_t clientSerial_ = 0;
  // Tells pending deadline timers that the server is gone.
  std::shared_ptr<URLServer*> self_;
};

}  // namespace wendrix

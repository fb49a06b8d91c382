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

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/handoff/url_handoff.h"
#include "base/result.h"
#include "dispatch/main_loop.h"
#include "dispatch/queue.h"

namespace wendrix {

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

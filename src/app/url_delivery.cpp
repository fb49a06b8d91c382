#include "app/url_delivery.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

namespace wendrix {

using handoff_detail::deliveryError;
using handoff_detail::socketAddress;
using handoff_detail::systemError;

// --- the server -----------------------------------------------------------------

struct URLServer::Client {
  std::string received;
  // Tells this client from a later one given the same descriptor.
  std::uint64_t serial = 0;
  dispatch::WatchHandle watch;
  dispatch::TimerHandle deadline;
};

base::Result<std::unique_ptr<URLServer>> URLServer::listen(dispatch::MainLoop& loop,
                                                           dispatch::Queue& timers,
                                                           const std::filesystem::path& socket,
                                                           Handler handler, std::ostream& log,
                                                           URLMessageLimits limits) {
  const auto address = socketAddress(socket);
  if (!address) return deliveryError(8, "socket path too long: " + socket.string());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return systemError("cannot make a socket");
  // The caller holds the instance lock: a file left here is a dead instance's.
  ::unlink(socket.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0 ||
      ::chmod(socket.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
    auto error = systemError("cannot listen at " + socket.string());
    ::close(fd);
    return error;
  }
  return std::unique_ptr<URLServer>(
      new URLServer(loop, timers, socket, fd, std::move(handler), log, limits));
}

URLServer::URLServer(dispatch::MainLoop& loop, dispatch::Queue& timers,
                     std::filesystem::path socket, int fd, Handler handler, std::ostream& log,
                     URLMessageLimits limits)
    : loop_(loop),
      timers_(timers),
      socket_(std::move(socket)),
      fd_(fd),
      handler_(std::move(handler)),
      log_(log),
      limits_(limits),
      self_(std::make_shared<URLServer*>(this)) {
  watch_ = loop_.watch(fd_, dispatch::MainLoop::kReadable, [this](unsigned) { acceptClients(); });
}

URLServer::~URLServer() {
  *self_ = nullptr;
  watch_.cancel();
  for (auto& [fd, client] : clients_) {
    client->watch.cancel();
    client->deadline.cancel();
    ::close(fd);
  }
  ::close(fd_);
  ::unlink(socket_.c_str());
}

void URLServer::acceptClients() {
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        log_ << "wendrix: cannot accept a URL client: " << std::strerror(errno) << std::endl;
      }
      return;
    }
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
      log_ << "wendrix: refused a URL client of another user" << std::endl;
      ::close(fd);
      continue;
    }
    if (clients_.size() >= limits_.maxClients) {
      log_ << "wendrix: refused a URL client: " << clients_.size() << " clients already"
           << std::endl;
      const std::string busy = "ERR busy: the agent is serving " + std::to_string(clients_.size()) +
                               " clients already; try again\n";
      (void)::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->serial = ++clientSerial_;
    client->watch =
        loop_.watch(fd, dispatch::MainLoop::kReadable, [this, fd](unsigned) { readFrom(fd); });
    std::weak_ptr<URLServer*> weak = self_;
    client->deadline = timers_.after(limits_.deadline, [weak, fd] {
      auto self = weak.lock();
      if (self && *self) (*self)->refuse(fd, "message did not end in time");
    });
    clients_[fd] = std::move(client);
  }
}

void URLServer::readFrom(int fd) {
  auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  Client& client = *it->second;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      log_ << "wendrix: lost a URL client: " << std::strerror(errno) << std::endl;
      finish(fd, {});
      return;
    }
    if (got == 0) break;
    client.received.append(buffer, static_cast<std::size_t>(got));
    if (client.received.size() > limits_.maxBytes) {
      refuse(fd, "message longer than " + std::to_string(limits_.maxBytes) + " bytes");
      return;
    }
  }
  auto urls = parseURLMessage(client.received, limits_);
  if (!urls.ok()) {
    refuse(fd, urls.error().description);
    return;
  }
  // An empty message only asks whether the instance is there.
  if (urls->empty()) {
    finish(fd, "OK\n");
    return;
  }
  carryOut(fd, std::move(urls.value()));
}

void URLServer::carryOut(int fd, std::vector<std::string> urls) {
  Client& client = *clients_.at(fd);
  client.watch.cancel();
  client.deadline.cancel();
  client.received.clear();
  std::weak_ptr<URLServer*> weak = self_;
  handler_(std::move(urls), [weak, fd, serial = client.serial](const base::Status& outcome) {
    auto self = weak.lock();
    if (!self || !*self) return;
    auto it = (*self)->clients_.find(fd);
    if (it == (*self)->clients_.end() || it->second->serial != serial) return;
    if (outcome.ok()) {
      (*self)->finish(fd, "OK\n");
    } else {
      std::string reason = outcome.error().description;
      std::replace(reason.begin(), reason.end(), '\n', ' ');
      (*self)->finish(fd, "ERR " + reason + "\n");
    }
  });
}

void URLServer::refuse(int fd, const std::string& reason) {
  log_ << "wendrix: refused a URL message: " << reason << std::endl;
  finish(fd, "ERR " + reason + "\n");
}

void URLServer::finish(int fd, std::string_view reply) {
  auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  // One short answer fits the socket's buffer; a client that does not read
  // it loses it.
  if (!reply.empty()) (void)::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  it->second->watch.cancel();
  it->second->deadline.cancel();
  clients_.erase(it);
  ::close(fd);
}

}  // namespace wendrix

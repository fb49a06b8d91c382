#include "app/handoff/url_handoff.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <thread>

#include "base/private_files.h"
#include "base/utf8.h"
#include "platform/paths/paths.h"

namespace wendrix {
namespace {

using Clock = std::chrono::steady_clock;

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

namespace handoff_detail {

base::Error deliveryError(std::int64_t code, std::string text) {
  return base::Error(std::string(kURLDeliveryErrorDomain), code, std::move(text));
}

base::Error systemError(const std::string& what) {
  return deliveryError(errno, what + ": " + std::strerror(errno));
}

std::optional<sockaddr_un> socketAddress(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.empty() || text.size() >= sizeof(address.sun_path)) return std::nullopt;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return address;
}

}  // namespace handoff_detail

using handoff_detail::deliveryError;
using handoff_detail::socketAddress;
using handoff_detail::systemError;

// --- messages -----------------------------------------------------------------

base::Result<std::vector<std::string>> parseURLMessage(std::string_view message,
                                                       const URLMessageLimits& limits) {
  if (message.size() > limits.maxBytes) {
    return deliveryError(1, "message longer than " + std::to_string(limits.maxBytes) + " bytes");
  }
  if (message.empty()) return std::vector<std::string>();
  if (message.back() != '\n') {
    return deliveryError(2, "message does not end with a line end");
  }
  if (!base::isValidUtf8(message)) return deliveryError(3, "message is not UTF-8");
  std::vector<std::string> urls;
  std::size_t start = 0;
  while (start < message.size()) {
    const std::size_t end = message.find('\n', start);
    const std::string_view line = message.substr(start, end - start);
    if (line.empty()) return deliveryError(4, "message holds an empty line");
    for (char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) return deliveryError(5, "message holds control characters");
    }
    if (urls.size() == limits.maxURLs) {
      return deliveryError(6,
                           "message holds more than " + std::to_string(limits.maxURLs) + " URLs");
    }
    urls.emplace_back(line);
    start = end + 1;
  }
  return urls;
}

base::Result<std::string> makeURLMessage(const std::vector<std::string>& urls,
                                         const URLMessageLimits& limits) {
  std::string message;
  for (const std::string& url : urls) {
    if (url.empty() || url.find('\n') != std::string::npos) {
      return deliveryError(12, "a URL is empty or holds a line end");
    }
    message += url + "\n";
  }
  auto checked = parseURLMessage(message, limits);
  if (!checked.ok()) return checked.error();
  return message;
}

// --- paths and the instance lock ----------------------------------------------

InstancePaths InstancePaths::in(const std::filesystem::path& folder) {
  return InstancePaths{folder, folder / "agent.socket", folder / "agent.lock"};
}

InstancePaths InstancePaths::fromEnvironment(std::string_view bundleId) {
  if (const auto runtime = platform::paths::runtimeDirectory()) return in(*runtime / bundleId);
  return in(std::filesystem::path("/tmp") /
            (std::string(bundleId) + "-" + std::to_string(::geteuid())));
}

base::Status InstancePaths::preparePrivateFolder() const {
  if (auto made = base::createPrivateDirectories(folder); !made.ok()) return made.error();
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return systemError("cannot read " + folder.string());
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
    return deliveryError(7, folder.string() + " is not a folder of this user");
  }
  if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    return systemError("cannot make " + folder.string() + " private");
  }
  return {};
}

base::Result<std::optional<InstanceLock>> InstanceLock::tryAcquire(
    const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return systemError("cannot open " + path.string());
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return std::optional<InstanceLock>();
    errno = error;
    return systemError("cannot lock " + path.string());
  }
  return std::optional<InstanceLock>(InstanceLock(fd));
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    closeQuietly(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

InstanceLock::~InstanceLock() {
  closeQuietly(fd_);
}

// --- the client -----------------------------------------------------------------

namespace {

// Connects without blocking: a full backlog answers EAGAIN at once, so the
// connect is tried again until the deadline.
base::Result<bool> connectWithin(int fd, const sockaddr_un& address,
                                 const std::filesystem::path& socket, Clock::time_point deadline) {
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      return true;
    }
    if (errno == ENOENT || errno == ECONNREFUSED) return false;
    if (errno != EAGAIN && errno != EINTR) {
      return systemError("cannot connect to " + socket.string());
    }
    if (Clock::now() >= deadline) {
      return deliveryError(13,
                           "the running instance does not take connections (busy or "
                           "stuck); the URLs were not delivered");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// An answer the agent left before it closed (it turns a client away before
// reading its message).
std::string pendingAnswer(int fd) {
  std::string reply;
  char buffer[256];
  ssize_t got = 0;
  while ((got = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0 && reply.size() < 4096)
    reply.append(buffer, static_cast<std::size_t>(got));
  return reply;
}

base::Result<bool> readAnswer(const std::string& reply) {
  if (reply == "OK\n") return true;
  if (reply.starts_with("ERR ")) {
    return deliveryError(10, "the running instance did not carry the URLs out: " +
                                 reply.substr(4, reply.find('\n') - 4));
  }
  return deliveryError(11, "the running instance gave no answer; it may still carry the URLs out");
}

}  // namespace

base::Result<bool> sendURLsToInstance(const std::filesystem::path& socket,
                                      const std::vector<std::string>& urls,
                                      URLClientDeadlines deadlines,
                                      const URLMessageLimits& limits) {
  auto message = makeURLMessage(urls, limits);
  if (!message.ok()) return message.error();
  const auto address = socketAddress(socket);
  if (!address) return deliveryError(8, "socket path too long: " + socket.string());

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return systemError("cannot make a socket");
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  auto connected = connectWithin(fd, *address, socket, Clock::now() + deadlines.connect);
  if (!connected.ok() || !connected.value()) return connected;

  auto waitFor = [&](short events, Clock::time_point deadline) -> bool {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd, events, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
    }
  };

  const auto sendDeadline = Clock::now() + deadlines.send;
  std::string_view pending = *message;
  while (!pending.empty()) {
    if (!waitFor(POLLOUT, sendDeadline)) {
      return deliveryError(9,
                           "the running instance did not take the URLs in time; it may still "
                           "carry them out");
    }
    const ssize_t sent = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      if (errno == EPIPE || errno == ECONNRESET) {
        // Turned away before the message was read: its answer says why.
        if (const std::string reply = pendingAnswer(fd); reply.starts_with("ERR ")) {
          return readAnswer(reply);
        }
      }
      return systemError("cannot send the URLs");
    }
    pending.remove_prefix(static_cast<std::size_t>(sent));
  }
  ::shutdown(fd, SHUT_WR);

  const auto answerDeadline = Clock::now() + deadlines.answer;
  std::string reply;
  char buffer[256];
  for (;;) {
    if (!waitFor(POLLIN, answerDeadline)) {
      return deliveryError(9,
                           "the running instance did not answer in time; it may still carry "
                           "the URLs out");
    }
    const ssize_t got = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      if (errno == ECONNRESET && reply.empty()) {
        return deliveryError(14,
                             "the running instance closed the connection unanswered (it is "
                             "busy or ending); it may still carry the URLs out");
      }
      if (errno == ECONNRESET) break;
      return systemError("cannot read the answer");
    }
    if (got == 0) break;
    reply.append(buffer, static_cast<std::size_t>(got));
    if (reply.size() > 4096) break;
  }
  return readAnswer(reply);
}

}  // namespace wendrix

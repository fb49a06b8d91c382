#pragma once

// The client side of handing "wendrix:" URLs to the one running agent of the
// user's session, with the paths and the lock that make one instance: all a
// program needs that only forwards URLs (no main loop, no interface).
// app/url_delivery.h has the agent's side and the message format.

#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/result.h"

namespace wendrix {

inline constexpr std::string_view kURLDeliveryErrorDomain = "Wendrix.URLDelivery";

struct URLMessageLimits {
  // Bytes of one message, line ends included.
  std::size_t maxBytes = 64 * 1024;
  std::size_t maxURLs = 64;
  // How long a client may take from connecting to the end of its message.
  std::chrono::nanoseconds deadline = std::chrono::seconds(5);
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

// Shared with the agent's side of the socket.
namespace handoff_detail {
base::Error deliveryError(std::int64_t code, std::string text);
// `what` and the reason errno gives.
base::Error systemError(const std::string& what);
std::optional<sockaddr_un> socketAddress(const std::filesystem::path& path);
}  // namespace handoff_detail

}  // namespace wendrix

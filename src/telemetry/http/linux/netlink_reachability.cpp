#include "telemetry/http/linux/netlink_reachability.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "base/file_io.h"

namespace tlm {

namespace {

// True when a route reply holds a default unicast route of the main table.
// NLMSG_OK without its comparison of a signed length with the unsigned message
// length, which clang warns about.
bool messageFits(const nlmsghdr* header, int length) {
  return length >= static_cast<int>(sizeof(nlmsghdr)) && header->nlmsg_len >= sizeof(nlmsghdr) &&
         header->nlmsg_len <= static_cast<unsigned>(length);
}

bool isDefaultRoute(const nlmsghdr* header) {
  if (header->nlmsg_type != RTM_NEWROUTE) return false;
  const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(header));
  if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST) return false;
  unsigned table = route->rtm_table;
  int length = static_cast<int>(RTM_PAYLOAD(header));
  for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, length);
       attribute = RTA_NEXT(attribute, length)) {
    if (attribute->rta_type == RTA_TABLE) {
      std::memcpy(&table, RTA_DATA(attribute), sizeof table);
    }
  }
  return table == RT_TABLE_MAIN;
}

// Reads the routing table; nothing when it cannot be read.
std::optional<bool> hasDefaultRoute() {
  base::UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (fd.get() < 0) return std::nullopt;
  struct {
    nlmsghdr header;
    rtmsg route;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.route.rtm_family = AF_UNSPEC;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), &request, request.header.nlmsg_len, 0,
               reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    return std::nullopt;
  }
  alignas(nlmsghdr) char buffer[16384];
  bool found = false;
  for (;;) {
    const ssize_t received = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (received <= 0) return std::nullopt;
    int length = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); messageFits(header, length);
         header = NLMSG_NEXT(header, length)) {
      if (header->nlmsg_type == NLMSG_DONE) return found;
      if (header->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      found = found || isDefaultRoute(header);
    }
  }
}

}  // namespace

// Shared with the notifier thread, so that a thread that outlives the object
// (destroyed from one of its own reports) stays sound.
struct TLMNetlinkReachability::Shared {
  std::mutex mutex;
  std::function<void()> onChange;
  bool reportAgain = false;
  bool stopping = false;
  std::thread thread;
  base::UniqueFd wake{::eventfd(0, EFD_CLOEXEC)};

  void signal() {
    const std::uint64_t one = 1;
    (void)!::write(wake.get(), &one, sizeof one);
  }

  void run() {
    base::UniqueFd events(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    sockaddr_nl groups{};
    groups.nl_family = AF_NETLINK;
    groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    const bool subscribed =
        events.get() >= 0 &&
        ::bind(events.get(), reinterpret_cast<sockaddr*>(&groups), sizeof groups) == 0;
    std::optional<bool> last;
    for (;;) {
      const bool reachable = hasDefaultRoute().value_or(false);
      std::function<void()> report;
      {
        std::lock_guard lock(mutex);
        if (stopping) return;
        if (reportAgain || !last || *last != reachable) report = onChange;
        reportAgain = false;
      }
      last = reachable;
      if (report) report();
      pollfd fds[2] = {{wake.get(), POLLIN, 0}, {events.get(), POLLIN, 0}};
      if (::poll(fds, subscribed ? 2 : 1, -1) < 0) continue;
      if (fds[0].revents) {
        std::uint64_t count;
        (void)!::read(wake.get(), &count, sizeof count);
      }
      char buffer[8192];
      while (subscribed && ::recv(events.get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
    }
  }
};

TLMNetlinkReachability::TLMNetlinkReachability() : shared_(std::make_shared<Shared>()) {}

TLMNetlinkReachability::~TLMNetlinkReachability() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->onChange = nullptr;
    shared_->stopping = true;
  }
  shared_->signal();
  if (!shared_->thread.joinable()) return;
  // Destroyed from one of its own reports: the thread ends by itself.
  if (shared_->thread.get_id() == std::this_thread::get_id()) {
    shared_->thread.detach();
  } else {
    shared_->thread.join();
  }
}

TLMNetworkStatus TLMNetlinkReachability::currentReachabilityStatus() const {
  return hasDefaultRoute().value_or(false) ? TLMReachable : TLMNotReachable;
}

void TLMNetlinkReachability::startNotifier(std::function<void()> onChange) {
  std::lock_guard lock(shared_->mutex);
  shared_->onChange = std::move(onChange);
  if (shared_->thread.joinable()) {
    // Running already: the new observer gets the current status too.
    shared_->reportAgain = true;
    shared_->signal();
    return;
  }
  shared_->thread = std::thread([shared = shared_] { shared->run(); });
}

void TLMNetlinkReachability::stopNotifier() {
  std::lock_guard lock(shared_->mutex);
  shared_->onChange = nullptr;
}

}  // namespace tlm

#include "telemetry/http/linux/netlink_reachability.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

namespace tlm {
namespace {

// In a fresh network namespace (only a loopback link, no route), adding and
// removing a default route is seen as the network coming and going.
int followDefaultRouteInOwnNamespace() {
  if (::unshare(CLONE_NEWNET) != 0) return 10;
  TLMNetlinkReachability reachability;
  if (reachability.currentReachabilityStatus() != TLMNotReachable) return 11;

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<TLMNetworkStatus> reports;
  reachability.startNotifier([&] {
    std::lock_guard lock(mutex);
    reports.push_back(reachability.currentReachabilityStatus());
    changed.notify_all();
  });
  // The report at `index` once it came, read under the lock the notifier
  // thread writes under.
  auto reportAt = [&](std::size_t index) -> std::optional<TLMNetworkStatus> {
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, std::chrono::seconds(5), [&] { return reports.size() > index; })) {
      return std::nullopt;
    }
    return reports[index];
  };
  if (reportAt(0) != TLMNotReachable) return 12;
  if (std::system("ip link set lo up && ip route add default dev lo") != 0) return 13;
  if (reportAt(1) != TLMReachable) return 14;
  if (std::system("ip route del default dev lo") != 0) return 15;
  if (reportAt(2) != TLMNotReachable) return 16;
  reachability.stopNotifier();
  return 0;
}

TEST(TLMNetlinkReachabilityTest, FollowsTheDefaultRoute) {
  if (::geteuid() != 0 || std::system("ip -V > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs root and iproute2 for a private network namespace";
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(followDefaultRouteInOwnNamespace()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tlm

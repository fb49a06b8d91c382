#include "telemetry/http/netlink_reachability.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
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
  auto waitFor = [&](std::size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return reports.size() >= count; });
  };
  if (!waitFor(1) || reports[0] != TLMNotReachable) return 12;
  if (std::system("ip link set lo up && ip route add default dev lo") != 0) return 13;
  if (!waitFor(2) || reports[1] != TLMReachable) return 14;
  if (std::system("ip route del default dev lo") != 0) return 15;
  if (!waitFor(3) || reports[2] != TLMNotReachable) return 16;
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

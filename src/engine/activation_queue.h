#pragma once

#include <cstdint>
#include <string>

#include "rx/event.h"
#include "rx/single.h"

namespace wendrix {

// One request of the activation queue: bring the application with process
// `pid` (bundle identifier `bundleId`) to the front. `done` succeeds when the
// activation is over (the application became frontmost plus a short grace
// time, its activation was cancelled, or the wait ran out). It is cold: each
// subscription waits on its own, its time limit counted from that
// subscription.
struct ActivationQueueItem {
  std::int32_t pid = 0;
  std::string bundleId;
  rx::Single<rx::Unit> done;
};

}  // namespace wendrix

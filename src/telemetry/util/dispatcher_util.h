#pragma once

#include <functional>

#include "dispatch/queue.h"

namespace tlm {

class TLMDispatcherUtil {
 public:
  // Queues `block` on `queue` and waits at most `timeoutSeconds` for it to
  // finish. Answers whether it finished in time; on a time-out the caller
  // goes on and the block still runs later (it owns everything it needs).
  static bool dispatchSyncWithTimeout(double timeoutSeconds, dispatch::Queue& queue,
                                      std::function<void()> block);
};

}  // namespace tlm

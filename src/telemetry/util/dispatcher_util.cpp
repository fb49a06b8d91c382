#include "telemetry/util/dispatcher_util.h"

#include <chrono>
#include <memory>
#include <semaphore>

namespace tlm {

bool TLMDispatcherUtil::dispatchSyncWithTimeout(double timeoutSeconds, dispatch::Queue& queue,
                                                std::function<void()> block) {
  auto done = std::make_shared<std::binary_semaphore>(0);
  queue.async([done, block = std::move(block)] {
    if (block) block();
    done->release();
  });
  const auto timeout = std::chrono::duration<double>(timeoutSeconds > 0 ? timeoutSeconds : 0);
  return done->try_acquire_for(timeout);
}

}  // namespace tlm

#include "telemetry/crashes/shared_service.h"

#include <mutex>
#include <utility>

#include "base/shared_slot.h"
#include "dispatch/serial_queue.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/report_processing.h"

namespace tlm {
namespace {

base::SharedSlot<TLMCrashes>& sharedSlot() {
  static base::SharedSlot<TLMCrashes> slot;
  return slot;
}

// What the shared service is made with; guarded by its mutex.
struct SharedEnvironment {
  std::mutex mutex;
  TLMCrashesEnvironment environment;
};
SharedEnvironment& sharedEnvironment() {
  static SharedEnvironment shared;
  return shared;
}

// A process-wide serial queue of the service. Never
// destroyed: its thread ends with the process.
std::shared_ptr<dispatch::Queue> globalQueue(const char* label) {
  return std::shared_ptr<dispatch::Queue>(new dispatch::SerialQueue(label),
                                          [](dispatch::Queue*) {});
}

void stopQueue(const std::shared_ptr<dispatch::Queue>& queue) {
  static_cast<dispatch::SerialQueue*>(queue.get())->stop();
}

}  // namespace

std::shared_ptr<TLMCrashes> TLMCrashesShared::instance() {
  return sharedSlot().getOrMake([] {
    SharedEnvironment& shared = sharedEnvironment();
    TLMCrashesEnvironment environment;
    {
      std::lock_guard lock(shared.mutex);
      environment = shared.environment;
    }
    return TLMCrashes::make(std::move(environment));
  });
}

void TLMCrashesShared::configure(TLMCrashesEnvironment environment) {
  {
    SharedEnvironment& shared = sharedEnvironment();
    std::lock_guard lock(shared.mutex);
    shared.environment = std::move(environment);
  }
  sharedSlot().exchange(nullptr);
}

void TLMCrashesShared::reset() {
  sharedSlot().exchange(nullptr);
  TLMCrashReportProcessing::allowProcessingAgain();
}

void TLMCrashesShared::setForTesting(std::shared_ptr<TLMCrashes> service) {
  if (!service) {
    SharedEnvironment& shared = sharedEnvironment();
    std::lock_guard lock(shared.mutex);
    shared.environment = {};
  }
  sharedSlot().exchange(std::move(service));
}

std::shared_ptr<dispatch::Queue> TLMCrashesShared::processBufferQueue() {
  static const auto queue = globalQueue("com.zodoradud.daraveved.CrashesBufferQueue");
  return queue;
}

std::shared_ptr<dispatch::Queue> TLMCrashesShared::processProcessingQueue() {
  static const auto queue = globalQueue("com.zodoradud.daraveved.CrashesProcessingQueue");
  return queue;
}

std::shared_ptr<dispatch::Queue> TLMCrashesShared::processMainQueue() {
  static const auto queue = globalQueue("com.zodoradud.daraveved.CrashesMainQueue");
  return queue;
}

void TLMCrashesShared::stopProcessQueues() {
  // The buffer queue last: the others may still hand it work, which it then
  // runs before it ends.
  for (const auto& queue : {processProcessingQueue(), processMainQueue(), processBufferQueue()})
    stopQueue(queue);
}

}  // namespace tlm

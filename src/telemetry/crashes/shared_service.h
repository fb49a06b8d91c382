#pragma once

#include <memory>

#include "dispatch/queue.h"
#include "telemetry/crashes/dependencies.h"

namespace tlm {

class TLMCrashes;

// The crash service's process-wide state: the shared service, the
// environment it is made with, and the process's serial queues that a
// service uses where its environment names none. Thread-safe.
class TLMCrashesShared {
 public:
  // The process's service, made on first use from the environment given to
  // `configure` (an empty one when none was).
  static std::shared_ptr<TLMCrashes> instance();
  // The environment the shared service is made with; forgets a service made
  // before. Before the SDK starts.
  static void configure(TLMCrashesEnvironment environment);
  // Forgets the service and lets stored reports be processed again.
  static void reset();
  // Makes `service` the shared one; none: forgets it and the configured
  // environment, so the next use makes a new one.
  static void setForTesting(std::shared_ptr<TLMCrashes> service = nullptr);

  // The process-wide queues: crash-time buffer files, stored-report
  // processing, and the main queue of delegate callbacks.
  static std::shared_ptr<dispatch::Queue> processBufferQueue();
  static std::shared_ptr<dispatch::Queue> processProcessingQueue();
  static std::shared_ptr<dispatch::Queue> processMainQueue();
  // At the program's end, after TLMDarAveved::shutDown: runs the work queued
  // on the process-wide queues (crash-time buffer writes among it) and ends
  // their threads, so that none runs while static objects are destroyed.
  // Work handed to them later is dropped.
  static void stopProcessQueues();
};

}  // namespace tlm

#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "dispatch/clock.h"
#include "dispatch/queue.h"
#include "telemetry/context/device_tracker.h"
#include "telemetry/context/session_context.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/crashes/crash_reporter_interface.h"
#include "telemetry/crashes/error_log_formatter.h"
#include "telemetry/crashes/memory_pressure.h"
#include "telemetry/security/encrypter.h"

namespace tlm {

// What the crash service works with; each member left empty takes the
// process's own.
struct TLMCrashesEnvironment {
  // The SDK's shared settings.
  std::shared_ptr<TLMDarAvevedUserDefaults> settings;
  // Makes the crash reporter at the first enabling. None: there is no
  // reporter, and crashes are not detected.
  TLMCrashReporterFactory makeCrashReporter;
  // TLMEncrypter::makeDefault: encrypts the target tokens of buffered logs.
  std::shared_ptr<TLMEncrypter> targetTokenEncrypter;
  // The high-priority global queue that makes the buffer files.
  std::shared_ptr<dispatch::Queue> bufferFileQueue;
  // The default-priority global queue that processes stored reports.
  std::shared_ptr<dispatch::Queue> processingQueue;
  // The main queue: delegate callbacks and the confirmation handler. None: a
  // serial queue of the SDK.
  std::shared_ptr<dispatch::Queue> mainQueue;
  // Whether the caller is on the main queue's thread (the process's first
  // thread when none).
  std::function<bool()> isMainThread;
  // TLMDarAveved::isDebuggerAttached.
  std::function<bool()> isDebuggerAttached;
  // The system clock. Must outlive the service.
  const dispatch::Clock* clock = nullptr;
  // The shared contexts, looked up at each use.
  std::shared_ptr<TLMSessionContext> sessionContext;
  std::shared_ptr<TLMUserIdContext> userIdContext;
  std::shared_ptr<TLMDeviceTracker> deviceTracker;
  // What the formatter reads (the shared device tracker, the SDK's install
  // id and the stored wrapper exceptions).
  std::optional<TLMErrorLogSources> formatterSources;
  // TLMManualMemoryPressureSource::shared.
  std::shared_ptr<TLMMemoryPressureSource> memoryPressure;
};

// The crash service's environment with the process's own defaults filled in,
// read by the service and its parts. Immutable after construction, except
// for what the shared contexts themselves keep.
class TLMCrashesDependencies {
 public:
  explicit TLMCrashesDependencies(TLMCrashesEnvironment environment);

  const TLMCrashesEnvironment& environment() const { return environment_; }
  const dispatch::Clock& clock() const { return clock_; }
  // When the service was made.
  Date appStartTime() const { return appStartTime_; }
  const std::shared_ptr<dispatch::Queue>& bufferFileQueue() const { return bufferFileQueue_; }
  const std::shared_ptr<dispatch::Queue>& processingQueue() const { return processingQueue_; }
  const std::shared_ptr<dispatch::Queue>& mainQueue() const { return mainQueue_; }
  std::shared_ptr<TLMEncrypter> targetTokenEncrypter() const;
  std::shared_ptr<TLMMemoryPressureSource> memoryPressure() const;
  std::shared_ptr<TLMSessionContext> sessionContext() const;
  std::shared_ptr<TLMUserIdContext> userIdContext() const;
  std::shared_ptr<TLMDeviceTracker> deviceTracker() const;
  const TLMErrorLogSources& formatterSources() const { return formatterSources_; }
  bool isDebuggerAttached() const;

  // Forgets the devices, sessions and user ids of earlier runs; the current
  // session stays.
  void clearContextHistoryAndKeepCurrentSession() const;

 private:
  const TLMCrashesEnvironment environment_;
  const dispatch::Clock& clock_;
  const Date appStartTime_;
  const std::shared_ptr<dispatch::Queue> bufferFileQueue_;
  const std::shared_ptr<dispatch::Queue> processingQueue_;
  const std::shared_ptr<dispatch::Queue> mainQueue_;
  TLMErrorLogSources formatterSources_;
};

}  // namespace tlm

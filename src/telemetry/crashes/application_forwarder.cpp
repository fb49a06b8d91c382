#include "telemetry/crashes/application_forwarder.h"

#include <mutex>
#include <utility>

#include "platform/bundle/app_identity.h"
#include "telemetry/core/logger.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/error_log_formatter.h"

namespace tlm {
namespace {

void defaultReportException(const std::exception& exception) {
  TLM_LOG_ERROR(kTLMCrashesLogTag, "Uncaught exception in an event handler: ", exception.what());
}

void defaultSendEvent(const std::function<void()>& handleEvent) {
  if (handleEvent) handleEvent();
}

struct Entries {
  std::mutex mutex;
  TLMApplicationExceptionEntries::ReportException reportException = &defaultReportException;
  TLMApplicationExceptionEntries::SendEvent sendEvent = &defaultSendEvent;
  bool reportExceptionReplaced = false;
  bool sendEventReplaced = false;
};

Entries& entries() {
  static Entries state;
  return state;
}

}  // namespace

void TLMApplicationExceptionEntries::reportException(const std::exception& exception) {
  ReportException implementation;
  {
    std::lock_guard lock(entries().mutex);
    implementation = entries().reportException;
  }
  if (implementation) implementation(exception);
}

void TLMApplicationExceptionEntries::sendEvent(const std::function<void()>& handleEvent) {
  SendEvent implementation;
  {
    std::lock_guard lock(entries().mutex);
    implementation = entries().sendEvent;
  }
  if (implementation) implementation(handleEvent);
}

TLMApplicationExceptionEntries::ReportException
TLMApplicationExceptionEntries::replaceReportException(ReportException implementation) {
  std::lock_guard lock(entries().mutex);
  return std::exchange(entries().reportException, std::move(implementation));
}

TLMApplicationExceptionEntries::SendEvent TLMApplicationExceptionEntries::replaceSendEvent(
    SendEvent implementation) {
  std::lock_guard lock(entries().mutex);
  return std::exchange(entries().sendEvent, std::move(implementation));
}

void TLMApplicationExceptionEntries::resetForTesting() {
  std::lock_guard lock(entries().mutex);
  entries().reportException = &defaultReportException;
  entries().sendEvent = &defaultSendEvent;
}

void TLMApplicationForwarder::registerForwarding() {
  if (!platform::AppIdentity::current().switchOn(kEnabledKey, true)) {
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "Application forwarder for info.plist key '", kEnabledKey,
                  "' disabled. It won't use swizzling.");
    return;
  }
  TLM_LOG_DEBUG(kTLMCrashesLogTag, "Application forwarder for info.plist key '", kEnabledKey,
                "' enabled. It may use swizzling.");
  const auto crashOnExceptions =
      TLMDarAvevedUserDefaults::shared()->standardDefaults().getBool(kCrashOnExceptionsKey);
  if (!crashOnExceptions.value_or(false)) {
    TLM_LOG_INFO(kTLMCrashesLogTag,
                 "Catching uncaught exceptions thrown on the main thread disabled. Set `",
                 kCrashOnExceptionsKey,
                 "` flag before SDK initialization, to allow crash on uncaught exceptions and the "
                 "SDK can report them.");
    return;
  }
  auto& state = entries();
  std::unique_lock lock(state.mutex);
  if (!state.reportExceptionReplaced) {
    state.reportExceptionReplaced = true;
    auto previous = std::move(state.reportException);
    state.reportException = [previous](const std::exception& exception) {
      TLMCrashes::applicationDidReportException(exception);
      if (previous) previous(exception);
    };
    TLM_LOG_DEBUG(kTLMCrashesLogTag,
                  "Selector 'reportException:' of class 'NSApplication' is swizzled.");
  }
  if (!state.sendEventReplaced) {
    state.sendEventReplaced = true;
    auto previous = std::move(state.sendEvent);
    state.sendEvent = [previous](const std::function<void()>& handleEvent) {
      try {
        if (previous) previous(handleEvent);
      } catch (const std::exception& exception) {
        TLMApplicationExceptionEntries::reportException(exception);
      }
    };
    TLM_LOG_DEBUG(kTLMCrashesLogTag, "Selector 'sendEvent:' of class 'NSApplication' is swizzled.");
  }
}

void TLMApplicationForwarder::resetForTesting() {
  std::lock_guard lock(entries().mutex);
  entries().reportExceptionReplaced = false;
  entries().sendEventReplaced = false;
}

}  // namespace tlm

#include "telemetry/crashes/callbacks.h"

#include <utility>

#include "telemetry/crashes/crashes.h"
#include "telemetry/crashes/error_log_formatter.h"

namespace tlm {

TLMCrashesCallbacks::TLMCrashesCallbacks(TLMCrashes& service, TLMCrashesBufferSlots& bufferSlots,
                                         const TLMCrashesDependencies& dependencies)
    : service_(service), bufferSlots_(bufferSlots), dependencies_(dependencies) {}

void TLMCrashesCallbacks::setDelegate(std::optional<TLMCrashesDelegate> delegate) {
  std::lock_guard lock(service_.monitor());
  delegate_ = std::move(delegate);
}

std::optional<TLMCrashesDelegate> TLMCrashesCallbacks::delegate() const {
  std::lock_guard lock(service_.monitor());
  return delegate_;
}

void TLMCrashesCallbacks::didPrepareLog(TLMChannelProtocol&, const TLMLogPtr& log,
                                        const std::string& internalId, std::uint64_t) {
  bufferSlots_.store(log, internalId);
}

void TLMCrashesCallbacks::didCompleteEnqueueingLog(TLMChannelProtocol&, const TLMLogPtr& log,
                                                   const std::string& internalId) {
  bufferSlots_.remove(log, internalId);
}

template <class Member, class Call>
void TLMCrashesCallbacks::notifyDelegate(const TLMLogPtr& log, Member member, Call call) {
  const auto crashLog = std::dynamic_pointer_cast<TLMAppleErrorLog>(log);
  if (!crashLog) return;
  auto delegate = this->delegate();
  if (!delegate || !((*delegate).*member)) return;
  auto report =
      TLMErrorLogFormatter::errorReportFromLog(*crashLog, dependencies_.formatterSources());
  dependencies_.mainQueue()->async([self = service_.shared_from_this(),
                                    delegate = std::move(delegate), report = std::move(report),
                                    call] { call(*self, *delegate, report); });
}

void TLMCrashesCallbacks::willSendLog(TLMChannelProtocol&, const TLMLogPtr& log) {
  notifyDelegate(log, &TLMCrashesDelegate::willSendErrorReport,
                 [](TLMCrashes& self, const TLMCrashesDelegate& delegate,
                    const std::shared_ptr<TLMErrorReport>& report) {
                   delegate.willSendErrorReport(self, report);
                 });
}

void TLMCrashesCallbacks::didSucceedSendingLog(TLMChannelProtocol&, const TLMLogPtr& log) {
  notifyDelegate(log, &TLMCrashesDelegate::didSucceedSendingErrorReport,
                 [](TLMCrashes& self, const TLMCrashesDelegate& delegate,
                    const std::shared_ptr<TLMErrorReport>& report) {
                   delegate.didSucceedSendingErrorReport(self, report);
                 });
}

void TLMCrashesCallbacks::didFailSendingLog(TLMChannelProtocol&, const TLMLogPtr& log,
                                            const std::optional<base::Error>& error) {
  notifyDelegate(log, &TLMCrashesDelegate::didFailSendingErrorReport,
                 [error](TLMCrashes& self, const TLMCrashesDelegate& delegate,
                         const std::shared_ptr<TLMErrorReport>& report) {
                   delegate.didFailSendingErrorReport(self, report, error);
                 });
}

}  // namespace tlm

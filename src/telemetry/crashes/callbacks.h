#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/error.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/crashes/buffer_slots.h"
#include "telemetry/crashes/dependencies.h"
#include "telemetry/crashes/error_logs.h"
#include "telemetry/crashes/error_report.h"

namespace tlm {

class TLMCrashes;

// What the application may decide and hear about crash reports. Each member
// is optional; an empty one counts as not implemented.
struct TLMCrashesDelegate {
  // Per stored report; false drops it. Not implemented: processed.
  std::function<bool(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)> shouldProcessErrorReport;
  // Per report being sent.
  std::function<TLMErrorAttachments(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)>
      attachmentsWithCrashes;
  std::function<void(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)> willSendErrorReport;
  std::function<void(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&)>
      didSucceedSendingErrorReport;
  std::function<void(TLMCrashes&, const std::shared_ptr<TLMErrorReport>&,
                     const std::optional<base::Error>&)>
      didFailSendingErrorReport;
};

// The crash service's callbacks both ways: the channel's (it is the delegate
// the service adds to the channel group), which keep copies of logs in
// flight in the crash-time buffer and tell the application's delegate how
// sending a crash log went, on the main queue; and that delegate itself. Its
// delegate is guarded by the owning service's monitor.
class TLMCrashesCallbacks final : public TLMChannelDelegate {
 public:
  // `service`, `bufferSlots` and `dependencies` are the owning service's and
  // outlive this part.
  TLMCrashesCallbacks(TLMCrashes& service, TLMCrashesBufferSlots& bufferSlots,
                      const TLMCrashesDependencies& dependencies);

  void setDelegate(std::optional<TLMCrashesDelegate> delegate);
  std::optional<TLMCrashesDelegate> delegate() const;

  // TLMChannelDelegate.
  void didPrepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                     const std::string& internalId, std::uint64_t flags) override;
  void didCompleteEnqueueingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                                const std::string& internalId) override;
  void willSendLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didSucceedSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;
  void didFailSendingLog(TLMChannelProtocol& channel, const TLMLogPtr& log,
                         const std::optional<base::Error>& error) override;

 private:
  // Runs `call` with the error report of a crash log on the main queue, when
  // `member` of the delegate is implemented.
  template <class Member, class Call>
  void notifyDelegate(const TLMLogPtr& log, Member member, Call call);

  TLMCrashes& service_;
  TLMCrashesBufferSlots& bufferSlots_;
  const TLMCrashesDependencies& dependencies_;
  // Guarded by the service's monitor.
  std::optional<TLMCrashesDelegate> delegate_;
};

}  // namespace tlm

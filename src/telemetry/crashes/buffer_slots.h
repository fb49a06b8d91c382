#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "dispatch/clock.h"
#include "dispatch/queue.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/sdk/service_abstract.h"
#include "telemetry/security/encrypter.h"

namespace tlm {

// The crash service's side of the crash-time log buffer: makes the slot
// files, keeps a copy of each log in flight until it is persisted, and
// replays what the previous run's crash wrote on the unit "CrashesBuffer".
// Its state is guarded by the owning service's monitor.
class TLMCrashesBufferSlots {
 public:
  static constexpr std::string_view kGroupId = "CrashesBuffer";

  // `service` owns this part and outlives it.
  TLMCrashesBufferSlots(const TLMServiceAbstract& service, std::shared_ptr<TLMEncrypter> encrypter,
                        std::shared_ptr<dispatch::Queue> fileQueue, const dispatch::Clock& clock);

  // Points the crash-time writer at the slot files and makes the missing ones
  // on the file queue.
  void setUp();
  // Keeps a copy of a log of any other service while it is in flight.
  void store(const TLMLogPtr& log, const std::string& internalId);
  // Forgets the copy of a persisted log (and its file, once a crash wrote it).
  void remove(const TLMLogPtr& log, const std::string& internalId);
  // Adds the buffer's unit to the channel group and re-enqueues what the
  // previous run's crash wrote, emptying each file.
  void replayAfterCrash();
  // Empties every non-empty slot file.
  void emptyFiles();
  std::shared_ptr<TLMChannelUnitProtocol> channelUnit() const;

 private:
  const TLMServiceAbstract& service_;
  const std::shared_ptr<TLMEncrypter> encrypter_;
  const std::shared_ptr<dispatch::Queue> fileQueue_;
  const dispatch::Clock& clock_;
  // Guarded by the service's monitor.
  std::shared_ptr<TLMChannelUnitProtocol> channelUnit_;
};

}  // namespace tlm

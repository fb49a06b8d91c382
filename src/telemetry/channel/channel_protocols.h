#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "dispatch/queue.h"
#include "telemetry/channel/channel_unit_configuration.h"
#include "telemetry/ingestion/ingestion_protocol.h"
#include "telemetry/model/abstract_log.h"

namespace tlm {

class TLMChannelProtocol;
class TLMChannelUnitProtocol;
class TLMChannelGroupProtocol;

using TLMLogPtr = std::shared_ptr<TLMAbstractLog>;
// Anything that holds a channel paused; the channel keeps it weakly and
// compares by identity.
using TLMIdentifyingObject = std::shared_ptr<const void>;

// Logs refused by a unit disabled with data deletion, and logs deleted with
// it, are reported with this code in the SDK's error domain.
inline constexpr std::int64_t kTLMConnectionPausedErrorCode = 100;
inline constexpr const char* kTLMConnectionPausedErrorDesc =
    "Canceled, connection paused with log deletion.";
base::Error TLMConnectionPausedError();

// What services, the collector delegate and the group see of every log that
// goes through a channel. Every callback is optional (the defaults do
// nothing; `shouldFilterLog` keeps the log). The first argument is the channel
// that reports: a unit, or the group for group-level events.
//
// `prepareLog` and `didPrepareLog` run on the thread that enqueues the log and
// may change it; the others run on the channel group's queue, except
// `didAddChannelUnit` and the group's `didSetEnabled`, which run on the
// thread that added the unit or switched the group.
class TLMChannelDelegate {
 public:
  virtual ~TLMChannelDelegate() = default;

  virtual void didAddChannelUnit(TLMChannelGroupProtocol& /*group*/,
                                 const std::shared_ptr<TLMChannelUnitProtocol>& /*unit*/) {}
  virtual void prepareLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& /*log*/) {}
  virtual void didPrepareLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& /*log*/,
                             const std::string& /*internalId*/, std::uint64_t /*flags*/) {}
  virtual void didCompleteEnqueueingLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& /*log*/,
                                        const std::string& /*internalId*/) {}
  virtual void willSendLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& /*log*/) {}
  virtual void didSucceedSendingLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& /*log*/) {}
  // `error` is the ingestion's (none when the server answered a status).
  virtual void didFailSendingLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& /*log*/,
                                 const std::optional<base::Error>& /*error*/) {}
  virtual void didSetEnabled(TLMChannelProtocol& /*channel*/, bool /*enabled*/,
                             bool /*deleteDataOnDisabled*/) {}
  virtual void didPauseWithIdentifyingObject(TLMChannelProtocol& /*channel*/,
                                             const TLMIdentifyingObject& /*object*/) {}
  virtual void didResumeWithIdentifyingObject(TLMChannelProtocol& /*channel*/,
                                              const TLMIdentifyingObject& /*object*/) {}
  // True keeps the log from being stored; the first delegate that answers
  // true ends the asking.
  virtual bool shouldFilterLog(TLMChannelUnitProtocol& /*unit*/, const TLMLogPtr& /*log*/) {
    return false;
  }
};

// Delegates held weakly, guarded by the set's own lock. Callbacks are made on
// a snapshot, outside the lock, so a delegate may add or remove delegates.
class TLMChannelDelegateSet {
 public:
  void add(const std::shared_ptr<TLMChannelDelegate>& delegate);
  void remove(const std::shared_ptr<TLMChannelDelegate>& delegate);
  // The live delegates in the order they were added.
  std::vector<std::shared_ptr<TLMChannelDelegate>> snapshot() const;
  void forEach(const std::function<void(TLMChannelDelegate&)>& block) const;

 private:
  mutable std::mutex mutex_;
  mutable std::vector<std::weak_ptr<TLMChannelDelegate>> delegates_;
};

class TLMEnable {
 public:
  virtual ~TLMEnable() = default;
  // Disabling with deletion also deletes the stored logs and refuses new ones
  // until enabled again.
  virtual void setEnabled(bool enabled, bool deleteDataOnDisabled) = 0;
};

class TLMChannelProtocol : public TLMEnable {
 public:
  // Delegates are held weakly.
  virtual void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) = 0;
  virtual void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) = 0;
  // The channel stays paused while any object that paused it and has not
  // resumed it is alive.
  virtual void pauseWithIdentifyingObject(const TLMIdentifyingObject& object) = 0;
  virtual void resumeWithIdentifyingObject(const TLMIdentifyingObject& object) = 0;
};

class TLMChannelUnitProtocol : public TLMChannelProtocol {
 public:
  // Takes the log from any thread; the low 8 bits of `flags` are its
  // persistence priority (1 normal, 2 critical).
  virtual void enqueueItem(const TLMLogPtr& log, std::uint64_t flags) = 0;
  // Keeps stored logs of the token's target from being sent, until resumed.
  virtual void pauseSendingLogsWithToken(const std::string& token) = 0;
  virtual void resumeSendingLogsWithToken(const std::string& token) = 0;
  // Starts a flush or the flush timer when logs wait. On the queue only.
  virtual void checkPendingLogs() = 0;
  virtual const TLMChannelUnitConfiguration& configuration() const = 0;
  virtual const std::shared_ptr<dispatch::Queue>& logsDispatchQueue() const = 0;
};

class TLMChannelGroupProtocol : public TLMChannelProtocol {
 public:
  // A unit sending through the group's ingestion.
  virtual std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
      const TLMChannelUnitConfiguration& configuration) = 0;
  // A unit sending through `ingestion`, or the group's when it is null.
  virtual std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
      const TLMChannelUnitConfiguration& configuration,
      std::shared_ptr<TLMIngestionProtocol> ingestion) = 0;
  // Bounds the log store, on the group's queue; the handler gets the outcome.
  virtual void setMaxStorageSize(std::int64_t sizeInBytes,
                                 std::function<void(bool)> completionHandler) = 0;
  // The first unit of that group id; null when there is none.
  virtual std::shared_ptr<TLMChannelUnitProtocol> channelUnitForGroupId(
      const std::string& groupId) const = 0;
  virtual std::string logUrl() const = 0;
  virtual void setLogUrl(const std::string& logUrl) = 0;
  virtual std::string appSecret() const = 0;
  virtual void setAppSecret(const std::string& appSecret) = 0;
  // While set, the group's ingestion stays disabled whatever the group's
  // switches: every send is dropped and the units keep their logs stored.
  virtual void setIngestionDisabled(bool disabled) = 0;
};

}  // namespace tlm

#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/clock.h"
#include "telemetry/context/history_info.h"
#include "telemetry/core/sdk_user_defaults.h"

namespace tlm {

// Which analytics session id was current when, across runs. Each run owns
// one history entry (the last), carrying the latest id and the time it was
// set; the history is stored under "SessionIdHistory" whenever the id is set
// or the history cleared. Thread-safe.
class TLMSessionContext {
 public:
  static constexpr std::string_view kSessionIdHistoryKey = "SessionIdHistory";

  // Loads the stored history and appends this run's entry (now, no id)
  // without storing it.
  TLMSessionContext(std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                    const dispatch::Clock& clock);

  // The process's context over the shared settings store and the system
  // clock, made on first use.
  static std::shared_ptr<TLMSessionContext> sharedInstance();
  // Makes `context` the shared one; none: made again on next use.
  static void setSharedForTesting(std::shared_ptr<TLMSessionContext> context = nullptr);

  std::optional<std::string> sessionId() const;
  // Restamps this run's entry now with `sessionId` and stores the history.
  void setSessionId(std::optional<std::string> sessionId);
  // The id of the newest entry stamped strictly before `date`; none when
  // there is none.
  std::optional<std::string> sessionIdAt(Date date) const;
  // Empties the history, keeping this run's entry when asked, and stores it.
  void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);

  TLMSessionHistoryInfo currentSessionInfo() const;
  // A copy of the history, oldest first.
  std::vector<TLMSessionHistoryInfo> sessionHistory() const;

 private:
  void storeHistoryLocked();

  std::shared_ptr<TLMDarAvevedUserDefaults> settings_;
  const dispatch::Clock& clock_;

  mutable std::mutex mutex_;
  std::shared_ptr<TLMSessionHistoryInfo> currentSessionInfo_;
  std::vector<std::shared_ptr<TLMSessionHistoryInfo>> sessionHistory_;
};

}  // namespace tlm

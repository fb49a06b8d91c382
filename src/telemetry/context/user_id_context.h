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

class TLMUserIdContext;

// Told of every change of the user id, on the thread that set it, outside
// the context's lock.
class TLMUserIdContextDelegate {
 public:
  virtual ~TLMUserIdContextDelegate() = default;
  virtual void userIdContext(TLMUserIdContext& /*context*/,
                             const std::optional<std::string>& /*userId*/) {}
};

// Which user id was current when, across runs, and the rules user ids must
// follow. Each run owns one history entry (the last); the history is stored
// under "UserIdHistory" at start and on every change. Thread-safe.
class TLMUserIdContext {
 public:
  static constexpr std::string_view kUserIdHistoryKey = "UserIdHistory";
  static constexpr std::size_t kUserIdMaxLength = 256;
  static constexpr std::string_view kUserIdPrefix = "c";

  // Loads the stored history, appends this run's entry (now, no id) and
  // stores the history.
  TLMUserIdContext(std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                   const dispatch::Clock& clock);

  // The process's context over the shared settings store and the system
  // clock, made on first use.
  static std::shared_ptr<TLMUserIdContext> sharedInstance();
  // Makes `context` the shared one; none: made again on next use.
  static void setSharedForTesting(std::shared_ptr<TLMUserIdContext> context = nullptr);

  std::optional<std::string> userId() const;
  // Restamps this run's entry now with `userId`, stores the history and
  // tells the delegates. Setting the id it already has does nothing.
  void setUserId(std::optional<std::string> userId);
  // The id of the newest entry stamped strictly before `date`; none when
  // there is none.
  std::optional<std::string> userIdAt(Date date) const;
  // Keeps only this run's entry, and stores the history.
  void clearUserIdHistory();

  // Delegates are held weakly; adding one twice keeps it once.
  void addDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate);

  TLMUserIdHistoryInfo currentUserIdInfo() const;
  // A copy of the history, oldest first.
  std::vector<TLMUserIdHistoryInfo> userIdHistory() const;

  // For the SDK's own ingestion: none, or at most 256 characters.
  static bool isUserIdValidForDarAveved(const std::optional<std::string>& userId);
  // For the common-schema ingestion: none, or a non-empty id that has no
  // ":" or has the prefix "c:" followed by text.
  static bool isUserIdValidForCollector(const std::optional<std::string>& userId);
  // "c:" + id for an id without ":"; anything else unchanged.
  static std::optional<std::string> prefixedUserIdFromUserId(
      const std::optional<std::string>& userId);

 private:
  void storeHistoryLocked();

  std::shared_ptr<TLMDarAvevedUserDefaults> settings_;
  const dispatch::Clock& clock_;

  mutable std::mutex mutex_;
  std::shared_ptr<TLMUserIdHistoryInfo> currentUserIdInfo_;
  std::vector<std::shared_ptr<TLMUserIdHistoryInfo>> userIdHistory_;
  std::vector<std::weak_ptr<TLMUserIdContextDelegate>> delegates_;
};

}  // namespace tlm

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "dispatch/queue.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/crashes/error_report.h"

namespace tlm {

// The user's answer to "send the crash reports?".
enum class TLMUserConfirmation : std::uint32_t {
  DontSend = 0,
  Send = 1,
  Always = 2,
};

// Asked (on the main thread) with the reports waiting to be sent; true means
// the application asks the user and answers later with
// `notifyWithUserConfirmation`.
using TLMUserConfirmationHandler =
    std::function<bool(const std::vector<std::shared_ptr<TLMErrorReport>>&)>;

// The crash service's question to the user: the application's handler, and
// the stored "always send" answer. Its handler is guarded by the owning
// service's monitor.
class TLMCrashesUserConfirmation {
 public:
  static constexpr std::string_view kSettingKey = "CrashesUserConfirmation";

  // `monitor` is the owning service's and outlives this part. `isMainThread`
  // empty: the process's first thread is the main one.
  TLMCrashesUserConfirmation(std::recursive_mutex& monitor,
                             std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                             std::shared_ptr<dispatch::Queue> mainQueue,
                             std::function<bool()> isMainThread);

  TLMUserConfirmationHandler handler() const;
  void setHandler(TLMUserConfirmationHandler handler);
  // Whether "always send" is stored.
  bool alwaysSend() const;
  void storeAlwaysSend();
  // Asks the handler on the main thread, waiting for its answer when called
  // elsewhere; false without a handler.
  bool askUser(const std::vector<std::shared_ptr<TLMErrorReport>>& reports) const;

 private:
  std::recursive_mutex& monitor_;
  const std::shared_ptr<TLMDarAvevedUserDefaults> settings_;
  const std::shared_ptr<dispatch::Queue> mainQueue_;
  const std::function<bool()> isMainThread_;
  TLMUserConfirmationHandler handler_;
};

}  // namespace tlm

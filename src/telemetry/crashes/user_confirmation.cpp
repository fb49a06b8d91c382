#include "telemetry/crashes/user_confirmation.h"

#include <unistd.h>

#include <semaphore>
#include <utility>

namespace tlm {

TLMCrashesUserConfirmation::TLMCrashesUserConfirmation(
    std::recursive_mutex& monitor, std::shared_ptr<TLMDarAvevedUserDefaults> settings,
    std::shared_ptr<dispatch::Queue> mainQueue, std::function<bool()> isMainThread)
    : monitor_(monitor),
      settings_(std::move(settings)),
      mainQueue_(std::move(mainQueue)),
      isMainThread_(std::move(isMainThread)) {}

TLMUserConfirmationHandler TLMCrashesUserConfirmation::handler() const {
  std::lock_guard lock(monitor_);
  return handler_;
}

void TLMCrashesUserConfirmation::setHandler(TLMUserConfirmationHandler handler) {
  std::lock_guard lock(monitor_);
  handler_ = std::move(handler);
}

bool TLMCrashesUserConfirmation::alwaysSend() const {
  const auto stored = settings_->objectForKey(kSettingKey);
  const bool* flag = stored ? stored->getIf<bool>() : nullptr;
  return flag && *flag;
}

void TLMCrashesUserConfirmation::storeAlwaysSend() {
  settings_->setObject(true, kSettingKey);
}

bool TLMCrashesUserConfirmation::askUser(
    const std::vector<std::shared_ptr<TLMErrorReport>>& reports) const {
  const TLMUserConfirmationHandler handler = this->handler();
  if (!handler) return false;
  const bool onMain = isMainThread_ ? isMainThread_() : ::gettid() == ::getpid();
  if (onMain) return handler(reports);
  // The handler runs on the main queue while this thread waits for it.
  auto done = std::make_shared<std::binary_semaphore>(0);
  auto answer = std::make_shared<bool>(false);
  mainQueue_->async([handler, reports, done, answer] {
    *answer = handler(reports);
    done->release();
  });
  done->acquire();
  return *answer;
}

}  // namespace tlm

#include "telemetry/analytics/analytics_category.h"

#include <mutex>
#include <utility>

#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_service.h"

namespace tlm {
namespace {

constexpr std::string_view kNamespaceSeparator = "::";
constexpr std::string_view kViewControllerSuffix = "ViewController";

struct CategoryState {
  std::mutex mutex;
  bool activated = false;
  std::optional<std::string> missedPageViewName;
  dispatch::Queue* mainQueue = nullptr;
};

CategoryState& state() {
  static CategoryState categoryState;
  return categoryState;
}

}  // namespace

void TLMAnalyticsCategory::activateCategory() {
  std::lock_guard lock(state().mutex);
  state().activated = true;
}

bool TLMAnalyticsCategory::isActivated() {
  std::lock_guard lock(state().mutex);
  return state().activated;
}

std::optional<std::string> TLMAnalyticsCategory::missedPageViewName() {
  std::lock_guard lock(state().mutex);
  return state().missedPageViewName;
}

std::optional<std::string> TLMAnalyticsCategory::pageNameFromClassName(std::string_view className) {
  if (className == kSplitViewControllerClassName || className == kTabViewControllerClassName)
    return std::nullopt;
  std::string_view name = className;
  if (const auto separator = name.rfind(kNamespaceSeparator); separator != std::string_view::npos)
    name.remove_prefix(separator + kNamespaceSeparator.size());
  if (name.size() > kViewControllerSuffix.size() && name.ends_with(kViewControllerSuffix))
    name.remove_suffix(kViewControllerSuffix.size());
  return std::string(name);
}

void TLMAnalyticsCategory::viewControllerWillAppear(std::string_view className) {
  if (!isActivated() || !TLMAnalytics::isAutoPageTrackingEnabled()) return;
  const auto pageName = pageNameFromClassName(className);
  if (!pageName) return;
  if (TLMAnalyticsService::sharedInstance()->isAvailable()) {
    {
      std::lock_guard lock(state().mutex);
      state().missedPageViewName.reset();
    }
    TLMAnalytics::trackPage(*pageName);
  } else {
    std::lock_guard lock(state().mutex);
    state().missedPageViewName = *pageName;
  }
}

void TLMAnalyticsCategory::setMainQueue(dispatch::Queue* queue) {
  std::lock_guard lock(state().mutex);
  state().mainQueue = queue;
}

void TLMAnalyticsCategory::dispatchOnMainQueue(dispatch::Task task) {
  {
    std::lock_guard lock(state().mutex);
    if (state().mainQueue) {
      state().mainQueue->async(std::move(task));
      return;
    }
  }
  task();
}

void TLMAnalyticsCategory::resetForTesting() {
  std::lock_guard lock(state().mutex);
  state().activated = false;
  state().missedPageViewName.reset();
  state().mainQueue = nullptr;
}

}  // namespace tlm

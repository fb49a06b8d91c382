#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dispatch/queue.h"

namespace tlm {

// Automatic page views. The program reports every view controller that
// appears, by its C++ class name, to `viewControllerWillAppear` (its UI
// layer's appearance signal is wired to it); once `activateCategory` has been
// called, and while automatic page tracking of the analytics service is on,
// each appearance is tracked as a page named after the class. A page view
// that comes while the analytics service cannot take it is kept as the
// missed page view, which the service tracks when it is enabled.
//
// Thread-safe; appearances come on the main queue.
class TLMAnalyticsCategory {
 public:
  // Container controllers of the UI toolkit: they report no page of their own.
  static constexpr std::string_view kSplitViewControllerClassName = "toolkit::SplitViewController";
  static constexpr std::string_view kTabViewControllerClassName = "toolkit::TabViewController";

  TLMAnalyticsCategory() = delete;

  // Turns the page-view hook on, once per process; later calls change nothing.
  static void activateCategory();
  static bool isActivated();
  // The last page name seen while the analytics service was not available.
  static std::optional<std::string> missedPageViewName();

  // The hook: a view controller of class `className` appears. Nothing before
  // `activateCategory` or while automatic page tracking is off; containers
  // are skipped; otherwise the page is tracked when the service is
  // available, and kept as the missed page view when it is not.
  static void viewControllerWillAppear(std::string_view className);
  // The class name after its namespaces, without a trailing "ViewController"
  // unless that is the whole name; none for the containers.
  static std::optional<std::string> pageNameFromClassName(std::string_view className);

  // The queue view controllers appear on (the program's main queue); the
  // analytics service reads the missed page view there. It must outlive its
  // installation; none: the reading runs on the caller's thread.
  static void setMainQueue(dispatch::Queue* queue);
  // Runs `task` on the main queue (at once when there is none).
  static void dispatchOnMainQueue(dispatch::Task task);

  // Not activated, no missed page view, no main queue.
  static void resetForTesting();
};

}  // namespace tlm

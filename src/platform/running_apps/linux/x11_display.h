#pragma once

// A private, synchronous X connection for the platform services that act on
// other processes' windows (activation, keystrokes). It selects no events;
// each call talks to the server and returns, with X errors (a window gone
// meanwhile) caught instead of ending the process. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

struct _XDisplay;

namespace platform {

class X11Display {
 public:
  using WindowId = unsigned long;

  // Opens `displayName` ("" for $DISPLAY).
  static base::Result<std::shared_ptr<X11Display>> open(const std::string& displayName = "");
  ~X11Display();
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  _XDisplay* display() const { return display_; }
  WindowId root() const { return root_; }
  bool broken() const { return broken_; }

  // The managed windows (_NET_CLIENT_LIST_STACKING, bottom to top) whose
  // _NET_WM_PID is one of `pids`.
  std::vector<WindowId> windowsOf(const std::vector<std::int32_t>& pids);
  // _NET_ACTIVE_WINDOW, or 0.
  WindowId activeWindow();
  std::optional<std::int32_t> processOf(WindowId window);
  bool isIconic(WindowId window);

  // Sends an EWMH client message about `window` to the root window.
  void sendRootMessage(WindowId window, const char* type, std::vector<long> data);
  // Makes the requests `requests` makes and waits until the server has
  // handled them; false when one failed (such as a window gone meanwhile).
  bool run(const std::function<void(_XDisplay*)>& requests);
  unsigned long atom(const char* name);

 private:
  explicit X11Display(_XDisplay* display);
  std::optional<std::vector<unsigned long>> cardinals(WindowId window, const char* property,
                                                      unsigned long type);

  _XDisplay* display_;
  WindowId root_;
  bool broken_ = false;
};

}  // namespace platform

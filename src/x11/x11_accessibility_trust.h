#pragma once

// Accessibility access on X11: granted while the display is open and an EWMH
// window manager runs (without one, windows cannot be minimized, activated or
// closed through it). Observers hear of every change of the window manager
// check and of a lost connection. Asking ("prompt") only logs.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>

#include "platform/xconn/connection.h"
#include "winsys/accessibility.h"

namespace wendrix::x11 {

namespace xconn = ::platform::xconn;

class X11AccessibilityTrust final : public winsys::AccessibilityTrust, xconn::ConnectionListener {
 public:
  // `connection` may be null (no display could be opened): never trusted.
  // `log` receives the prompt's message and must outlive this object.
  X11AccessibilityTrust(std::shared_ptr<xconn::Connection> connection, std::ostream& log);
  ~X11AccessibilityTrust() override;

  bool checkIsProcessTrusted(bool prompt) override;
  std::uint64_t addChangeObserver(std::function<void()> observer) override;
  void removeChangeObserver(std::uint64_t token) override;

 private:
  void onEvent(const XEvent& event) override;
  void onBroken() override;
  void watchCheckWindow();
  void changed();

  std::shared_ptr<xconn::Connection> connection_;
  std::ostream& log_;
  ::Window checkWindow_ = None;
  std::uint64_t nextToken_ = 1;
  std::map<std::uint64_t, std::function<void()>> observers_;
};

}  // namespace wendrix::x11

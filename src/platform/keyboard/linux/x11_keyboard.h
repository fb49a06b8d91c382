#pragma once

// Posts keystrokes to one process on X11. A key down activates the process's
// window (its active window, else its topmost shown one) through the window
// manager, waits a short while for it to become active, and then makes the
// key with XTest, as from the real keyboard (toolkits ignore sent key
// events); the key up follows the same way. Each call finishes its work
// before it returns, so keystrokes to several processes never mix; a
// keystroke to another process than the last first lets the focus settle
// (a window the last one opened takes it when it shows). A window
// that does not become active in time gets the key as a sent event instead
// (XSendEvent), never another window's keys. Delivery::sendEvent always
// sends events, without activating.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/keyboard/keyboard.h"

namespace platform {

namespace xconn {
class Connection;
}

class X11Keyboard final : public Keyboard {
 public:
  enum class Delivery { sendEvent, xtest };
  // The processes of one application (see X11RunningApplications).
  using ProcessGroup = std::function<std::vector<std::int32_t>(std::int32_t pid)>;

  explicit X11Keyboard(std::shared_ptr<xconn::Connection> connection, ProcessGroup group = {},
                       Delivery delivery = Delivery::xtest,
                       std::chrono::milliseconds activationWait = std::chrono::milliseconds(500));

  base::Status post(const Keystroke& keystroke) override;

 private:
  std::shared_ptr<xconn::Connection> connection_;
  ProcessGroup group_;
  Delivery delivery_;
  std::chrono::milliseconds activationWait_;
  // The key whose down went through XTest, so its up does too.
  std::optional<std::pair<std::int32_t, std::uint16_t>> xtestDown_;
  // The process of the last keystroke made with XTest, and when.
  std::optional<std::int32_t> lastProcess_;
  std::chrono::steady_clock::time_point lastPosted_;
};

}  // namespace platform

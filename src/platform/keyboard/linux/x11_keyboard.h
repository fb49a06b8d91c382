#pragma once

// Posts keystrokes to one process on X11: a key event sent (XSendEvent) to the
// process's active or topmost window, so it reaches that process whatever has
// the focus. With Delivery::xtestWhenActive a process that owns the active
// window gets the keystroke through XTest instead, as from the real keyboard
// (for clients that ignore sent events).

#include <functional>
#include <memory>
#include <vector>

#include "platform/keyboard/keyboard.h"

namespace platform {

namespace xconn {
class Connection;
}

class X11Keyboard final : public Keyboard {
 public:
  enum class Delivery { sendEvent, xtestWhenActive };
  // The processes of one application (see X11RunningApplications).
  using ProcessGroup = std::function<std::vector<std::int32_t>(std::int32_t pid)>;

  explicit X11Keyboard(std::shared_ptr<xconn::Connection> connection, ProcessGroup group = {},
                       Delivery delivery = Delivery::sendEvent);

  base::Status post(const Keystroke& keystroke) override;

 private:
  std::shared_ptr<xconn::Connection> connection_;
  ProcessGroup group_;
  Delivery delivery_;
};

}  // namespace platform

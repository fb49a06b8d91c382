#pragma once

#include <cstdint>

#include "base/result.h"

namespace platform {

// One key transition. `keyCode` is a macOS virtual key code and `flags` a
// CGEventFlags modifier mask, the form shortcuts are stored in.
struct Keystroke {
  std::int32_t processIdentifier = 0;
  std::uint16_t keyCode = 0;
  std::uint64_t flags = 0;
  bool keyDown = true;

  friend bool operator==(const Keystroke&, const Keystroke&) = default;
};

// Posts keyboard events straight to one process, not through the focus.
class Keyboard {
 public:
  virtual ~Keyboard() = default;

  // Fails when the event cannot be made (for instance an unmapped key code);
  // posting to a process that does not exist is not an error.
  virtual base::Status post(const Keystroke& keystroke) = 0;
};

}  // namespace platform

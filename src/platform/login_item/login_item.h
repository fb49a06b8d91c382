#pragma once

#include "base/result.h"

namespace platform {

// Whether the program starts when the user logs in.
class LoginItem {
 public:
  virtual ~LoginItem() = default;

  // Read from where the desktop looks, each time: a change made outside the
  // program shows.
  virtual bool isEnabled() const = 0;
  // Registers or unregisters the program; a failure leaves the registration
  // as it was.
  virtual base::Status setEnabled(bool enabled) = 0;
};

}  // namespace platform

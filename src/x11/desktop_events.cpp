#include "x11/desktop_events.h"

namespace wendrix::x11::detail {

void DesktopEvents::emitDeferred() {
  auto pending = std::move(deferred_);
  deferred_.clear();
  for (auto& emitOne : pending)
    emitOne();
}

}  // namespace wendrix::x11::detail

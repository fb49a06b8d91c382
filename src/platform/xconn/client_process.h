#pragma once

// The process behind a window whose client does not name it (_NET_WM_PID):
// the X server knows the peer of each local connection, and the X Resource
// extension tells it.

#include <cstdint>
#include <optional>

#include "platform/xconn/connection.h"

namespace platform::xconn {

// The process of the client that created `window`, from the X Resource
// extension; nothing when the server lacks the extension, the client is not
// local or the window is gone. One round trip.
std::optional<std::int32_t> clientProcessOf(Connection& connection, ::Window window);

}  // namespace platform::xconn

#pragma once

// The window manager's view of the desktop (EWMH and ICCCM), read and asked
// through a connection. Every read gives nothing (or None) when the property
// is missing, the window is gone or the connection is broken.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/xconn/connection.h"

namespace platform::xconn {

// The managed windows in mapping order (_NET_CLIENT_LIST).
std::optional<std::vector<::Window>> clientList(Connection& connection);
// The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING, else
// _NET_CLIENT_LIST).
std::vector<::Window> clientListStacking(Connection& connection);
// _NET_ACTIVE_WINDOW.
::Window activeWindow(Connection& connection);
// _NET_WM_PID, when it is a process number.
std::optional<std::int32_t> processOf(Connection& connection, ::Window window);
// Whether WM_STATE says iconic; nothing when the window has no WM_STATE.
std::optional<bool> iconic(Connection& connection, ::Window window);
// The managed windows (bottom to top) whose process is one of `pids`: their
// _NET_WM_PID, else the X server's record of their client (client_process.h).
std::vector<::Window> windowsOf(Connection& connection, const std::vector<std::int32_t>& pids);

// The window manager's check window (the root's _NET_SUPPORTING_WM_CHECK,
// naming itself), or None.
::Window supportingWmCheckWindow(Connection& connection);
// True when an EWMH window manager runs.
bool windowManagerPresent(Connection& connection);

// What a read _NET_WM_PID or WM_STATE says, for reads sent in a batch
// (see PropertyRead): the process number, or whether the window is iconic.
std::optional<std::int32_t> processFromWmPid(const std::optional<std::vector<unsigned long>>& pid);
std::optional<bool> iconicFromWmState(const std::optional<std::vector<unsigned long>>& state);

// Sends an EWMH client message about `window` to the root window.
void sendRootMessage(Connection& connection, ::Window window, Atom type,
                     const std::vector<long>& data);

}  // namespace platform::xconn

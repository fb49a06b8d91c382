#include "platform/xconn/ewmh.h"

#include <algorithm>
#include <cstring>

#include "platform/xconn/client_process.h"
#include "platform/xconn/property.h"

namespace platform::xconn {

namespace {

::Window firstWindow(const std::optional<std::vector<::Window>>& windows) {
  return windows && !windows->empty() ? windows->front() : None;
}

}  // namespace

std::optional<std::int32_t> processFromWmPid(const std::optional<std::vector<unsigned long>>& pid) {
  if (!pid || pid->empty() || pid->front() == 0 || pid->front() > 0x7FFFFFFF) return std::nullopt;
  return static_cast<std::int32_t>(pid->front());
}

std::optional<bool> iconicFromWmState(const std::optional<std::vector<unsigned long>>& state) {
  if (!state) return std::nullopt;
  return !state->empty() && state->front() == IconicState;
}

std::optional<std::vector<::Window>> clientList(Connection& connection) {
  return readWindows(connection, connection.root(), connection.atoms().netClientList);
}

std::vector<::Window> clientListStacking(Connection& connection) {
  auto list = readWindows(connection, connection.root(), connection.atoms().netClientListStacking);
  if (!list) list = clientList(connection);
  return list.value_or(std::vector<::Window>{});
}

::Window activeWindow(Connection& connection) {
  return firstWindow(
      readWindows(connection, connection.root(), connection.atoms().netActiveWindow));
}

std::optional<std::int32_t> processOf(Connection& connection, ::Window window) {
  return processFromWmPid(readValues(connection, window, connection.atoms().netWmPid, XA_CARDINAL));
}

std::optional<bool> iconic(Connection& connection, ::Window window) {
  const Atom wmState = connection.atoms().wmState;
  return iconicFromWmState(readValues(connection, window, wmState, wmState));
}

std::vector<::Window> windowsOf(Connection& connection, const std::vector<std::int32_t>& pids) {
  const auto list = clientListStacking(connection);
  // All the reads go out before the first reply is awaited.
  std::vector<PropertyRead> reads;
  reads.reserve(list.size());
  for (::Window window : list)
    reads.emplace_back(connection, window, connection.atoms().netWmPid, XA_CARDINAL);
  std::vector<::Window> windows;
  for (std::size_t i = 0; i < list.size(); ++i) {
    auto pid = processFromWmPid(reads[i].takeValues());
    // A client that does not name its process (xcalc) is asked of the server.
    if (!pid) pid = clientProcessOf(connection, list[i]);
    if (pid && std::find(pids.begin(), pids.end(), *pid) != pids.end()) windows.push_back(list[i]);
  }
  return windows;
}

::Window supportingWmCheckWindow(Connection& connection) {
  const Atom check = connection.atoms().netSupportingWmCheck;
  const ::Window window = firstWindow(readWindows(connection, connection.root(), check));
  if (window == None) return None;
  return firstWindow(readWindows(connection, window, check)) == window ? window : None;
}

bool windowManagerPresent(Connection& connection) {
  return supportingWmCheckWindow(connection) != None;
}

void sendRootMessage(Connection& connection, ::Window window, Atom type,
                     const std::vector<long>& data) {
  if (connection.broken()) return;
  XEvent event;
  std::memset(&event, 0, sizeof(event));
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  for (std::size_t i = 0; i < data.size() && i < 5; ++i)
    event.xclient.data.l[i] = data[i];
  XSendEvent(connection.display(), connection.root(), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace platform::xconn

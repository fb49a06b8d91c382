#pragma once

// The window-system layer over X11 with an EWMH window manager.
//
// Windows are the managed top-level windows of _NET_CLIENT_LIST (normal,
// dialog and utility types), in that list's order. They are grouped into one
// application per bundle identifier (from the BundleIdResolver; the program's
// own windows get its own identifier), or per process when there is none. Frames are
// client-area rectangles in root coordinates. Minimizing is iconifying; hiding
// an application iconifies its windows and sets a flag that activating or
// de-iconifying one of them clears; closing is _NET_CLOSE_WINDOW and fails for
// windows without WM_DELETE_WINDOW; quitting sends SIGTERM to the
// application's processes.
//
// Everything runs on the main loop. Writes never block: each request goes out
// at once and its promise settles when the server reports the change, or after
// `writeTimeout` with the state read then. The pieces: desktop.h (the model
// and its upkeep), window_properties.h (reading windows), pending_writes.h
// (writes waiting for their change), process_watch.h (application exits).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "platform/bundle/bundle.h"
#include "platform/bundle/bundle_id_resolver.h"
#include "platform/xconn/connection.h"
#include "winsys/window_system.h"

namespace wendrix::x11 {

namespace xconn = ::platform::xconn;

struct X11WindowSystemOptions {
  // The bundle identifier of the program's own windows: its AppIdentity's.
  std::string selfBundleIdentifier;
  // How long a frame, minimize or hide write waits for the window manager.
  dispatch::Duration writeTimeout = std::chrono::seconds(2);
};

namespace detail {
class Desktop;
}

class X11WindowSystem final : public winsys::WindowSystem {
 public:
  // `connection` must be driven by a main loop. `resolver` and `bundles`
  // (optional; it gives bundle URLs) must outlive the window system.
  X11WindowSystem(std::shared_ptr<xconn::Connection> connection,
                  const platform::BundleIdResolver& resolver,
                  const platform::BundleProvider* bundles, X11WindowSystemOptions options = {});
  ~X11WindowSystem() override;

  winsys::Promise<winsys::StatePtr> initialize(winsys::EventNotifier& notifier) override;

  // The processes of the application `pid` belongs to (just `pid` when it is
  // not known), for posting and activation by process.
  std::vector<std::int32_t> processesOf(std::int32_t pid) const;

 private:
  std::shared_ptr<detail::Desktop> desktop_;
};

}  // namespace wendrix::x11

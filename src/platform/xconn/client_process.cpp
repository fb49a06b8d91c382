// XRes.h needs Xlib's Status and Bool macros, which platform/xconn/xlib.h
// removes, so it comes first.
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#undef Status
#undef Bool

#include "platform/xconn/client_process.h"

namespace platform::xconn {

std::optional<std::int32_t> clientProcessOf(Connection& connection, ::Window window) {
  if (connection.broken() || window == None) return std::nullopt;
  std::optional<std::int32_t> pid;
  connection.run([&](Display* display) {
    int event = 0;
    int error = 0;
    if (!XResQueryExtension(display, &event, &error)) return;
    int major = 0;
    int minor = 0;
    // Client ids came with version 1.2.
    if (!XResQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 2)) {
      return;
    }
    XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display, 1, &spec, &count, &values) != 0) return;
    for (long i = 0; i < count; ++i) {
      if (XResGetClientIdType(&values[i]) != XRES_CLIENT_ID_PID) continue;
      const pid_t found = XResGetClientPid(&values[i]);
      if (found > 0) pid = static_cast<std::int32_t>(found);
    }
    XResClientIdsDestroy(count, values);
  });
  return pid;
}

}  // namespace platform::xconn

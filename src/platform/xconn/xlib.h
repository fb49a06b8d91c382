#pragma once

// Xlib (with its XCB connection) without its `Status` and `Bool` macros: they
// would rename base::Status and coding's Type::Bool in any header read after
// it. Include this instead of the X headers themselves; a file that needs
// another X header includes that one first.

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#undef Status
#undef Bool

#pragma once

// Xlib with its `Status` macro removed: it would rename base::Status in any
// header read after it. Include this instead of the X headers themselves.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#undef Status

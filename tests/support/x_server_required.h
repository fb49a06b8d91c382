#pragma once

// Tests that need an X server they start themselves (Xvfb) skip where none can
// be started, except under CI (the environment variable CI set and not "0" or
// "false"), where the setup installs the servers: there a missing server
// fails the test, so a green run means the X11 tests really ran.

#include <stdlib.h>

#include <string_view>

#include <gtest/gtest.h>

namespace support {

inline bool xServerRequired() {
  const char* ci = ::getenv("CI");
  if (ci == nullptr) return false;
  const std::string_view value(ci);
  return !value.empty() && value != "0" && value != "false";
}

}  // namespace support

// Ends the current test for want of an X server, `why` streamed into the
// message: a failure under CI, a skip elsewhere.
#define WENDRIX_NO_X_SERVER(why)       \
  switch (0)                           \
  case 0:                              \
  default:                             \
    if (!::support::xServerRequired()) \
      GTEST_SKIP() << why;             \
    else                               \
      FAIL() << "CI is set, so the X server is required: " << why

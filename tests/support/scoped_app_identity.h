#pragma once

#include <utility>

#include "platform/bundle/app_identity.h"

namespace support {

// The identity tests install: not the real program's, so a path or name that
// came from a literal rather than from the identity shows.
inline platform::AppIdentity testAppIdentity() {
  return {.bundleName = "Wendrix Test",
          .bundleIdentifier = "test.Wendrix",
          .bundleVersion = "42",
          .shortVersion = "1.2.3",
          .switches = {}};
}

// Installs an identity for one scope and forgets it afterwards.
class ScopedAppIdentity {
 public:
  explicit ScopedAppIdentity(platform::AppIdentity identity = testAppIdentity()) {
    platform::AppIdentity::setSharedForTesting(std::move(identity));
  }
  ~ScopedAppIdentity() { platform::AppIdentity::setSharedForTesting(); }
  ScopedAppIdentity(const ScopedAppIdentity&) = delete;
  ScopedAppIdentity& operator=(const ScopedAppIdentity&) = delete;
};

}  // namespace support

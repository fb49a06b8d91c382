#include <cstdio>

#include "app/build_info.h"
#include "platform/bundle/app_identity.h"

int main() {
  // Before anything below the program runs: they read the identity.
  platform::AppIdentity::install(app::buildIdentity());
  const platform::AppIdentity identity = platform::AppIdentity::current();
  std::printf("%s %s (%s)\n", identity.bundleName.c_str(), identity.shortVersion.c_str(),
              identity.bundleVersion.c_str());
  return 0;
}

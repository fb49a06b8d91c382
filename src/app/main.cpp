#include <cstdio>

#include "app/build_info.h"

int main() {
  std::printf("%s %s (%d)\n", app::kBundleName, app::kShortVersion, app::kBuildNumber);
  return 0;
}

#include "platform/bundle/app_identity.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/shared_slot.h"

namespace platform {
namespace {

base::SharedSlot<const AppIdentity>& installedSlot() {
  static base::SharedSlot<const AppIdentity> slot;
  return slot;
}

}  // namespace

bool AppIdentity::switchOn(std::string_view key, bool absent) const {
  const auto found = switches.find(key);
  return found == switches.end() ? absent : found->second;
}

AppIdentity AppIdentity::current() {
  auto installed = installedSlot().get();
  if (!installed) {
    std::fputs("AppIdentity::current() used before AppIdentity::install()\n", stderr);
    std::abort();
  }
  return *installed;
}

bool AppIdentity::install(AppIdentity identity) {
  bool installed = false;
  installedSlot().getOrMake([&] {
    installed = true;
    return std::make_shared<const AppIdentity>(std::move(identity));
  });
  return installed;
}

void AppIdentity::setSharedForTesting(std::optional<AppIdentity> identity) {
  installedSlot().exchange(identity ? std::make_shared<const AppIdentity>(std::move(*identity))
                                    : nullptr);
}

}  // namespace platform

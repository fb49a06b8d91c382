// Saving the current windows as a layout.

#include <utility>

#include "analytics/track.h"
#include "engine/actions.h"
#include "engine/capture.h"
#include "engine/windows_provider.h"
#include "rx/single.h"
#include "storage/defaults_storage.h"

namespace wendrix {

rx::Single<rx::Unit> Actions::saveLayout(std::optional<std::string> name) {
  const dispatch::WallTime start = clock_.now();
  std::string layoutName = name ? std::move(*name) : defaultLayoutName_(start);
  std::weak_ptr<Actions> weak = weak_from_this();
  return windowsProvider_->appsWithWindowsStream().first().map(
      [weak, layoutName = std::move(layoutName), start, clock = &clock_,
       addons = addons_](const std::optional<ApplicationList>& apps) {
        const Layout layout = Layout::initWithApps(
            layoutName, iapp::fromApplications(apps.value_or(ApplicationList{}), addons.get()));
        if (auto self = weak.lock()) self->storage_->saveLayout(layout);
        Track::layoutSaved(start, *clock);
        return rx::Unit{};
      });
}

}  // namespace wendrix

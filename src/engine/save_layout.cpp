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
  // Ends once the layout is on disk, or with the reason it is not.
  return windowsProvider_->appsWithWindowsStream().first().flatMap(
      [weak, layoutName = std::move(layoutName), start, clock = &clock_,
       addons = addons_](const std::optional<ApplicationList>& apps) -> rx::Single<rx::Unit> {
        const Layout layout = Layout::initWithApps(
            layoutName, iapp::fromApplications(apps.value_or(ApplicationList{}), addons.get()));
        if (auto self = weak.lock()) {
          if (auto stored = self->storage_->storeLayout(layout); !stored) {
            return rx::Single<rx::Unit>::error(stored.error());
          }
        }
        Track::layoutSaved(start, *clock);
        return rx::Single<rx::Unit>::just({});
      });
}

}  // namespace wendrix

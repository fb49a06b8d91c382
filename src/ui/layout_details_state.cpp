#include "ui/layout_details_state.h"

#include "engine/capture.h"

namespace wendrix {

std::array<bool, 4> segmentStates(std::size_t selectedRows, bool someSelectedRunning,
                                  std::size_t openApps, std::size_t otherApps) {
  const bool close = selectedRows > 0 ? someSelectedRunning : openApps > 0;
  return {close, selectedRows > 0, selectedRows > 0, openApps + otherApps > 0};
}

std::string appRowTitle(const std::string& name, std::size_t windowCount) {
  if (windowCount < 2) return name;
  return name + " (" + std::to_string(windowCount) + ")";
}

std::vector<winsys::ApplicationPtr> closeTargets(
    const std::vector<IApp>& selected, const std::vector<winsys::ApplicationPtr>& openApps) {
  if (selected.empty()) return openApps;
  std::vector<winsys::ApplicationPtr> targets;
  for (const auto& application : openApps) {
    for (const auto& app : selected) {
      if (!iapp::matchesApplication(app, *application)) continue;
      targets.push_back(application);
      break;
    }
  }
  return targets;
}

bool LayoutDetailsState::isRunning(const IApp& app) const {
  for (const auto& application : openApps)
    if (iapp::matchesApplication(app, *application)) return true;
  return false;
}

}  // namespace wendrix

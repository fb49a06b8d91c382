#pragma once

// What the layout details pane shows, shared by the pane's parts, and the
// pure rules the parts apply to it.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/layout.h"
#include "winsys/window_system.h"

namespace wendrix {

// The commands of the segmented control, in segment order.
enum class AppSegment : std::size_t { close = 0, restore = 1, remove = 2, add = 3 };

// The enabled state of the four segments: close needs a running selected app,
// or, with no selection, a running app of the layout; restore and remove a
// selection; add an application to add.
std::array<bool, 4> segmentStates(std::size_t selectedRows, bool someSelectedRunning,
                                  std::size_t openApps, std::size_t otherApps);

// "Mail" for fewer than two saved windows, else "Mail (3)".
std::string appRowTitle(const std::string& name, std::size_t windowCount);

// The running applications a close command puts away: with no selection all
// of `openApps`, else those matching a selected app, in `openApps` order.
std::vector<winsys::ApplicationPtr> closeTargets(
    const std::vector<IApp>& selected, const std::vector<winsys::ApplicationPtr>& openApps);

// Who sent a command: the context menu or a control of the pane.
enum class CommandSender { control, menuItem };

// The layout shown and the running applications, split into those of the
// layout and the others.
struct LayoutDetailsState {
  std::optional<Layout> layout;
  std::vector<IApp> layoutApps;
  std::vector<winsys::ApplicationPtr> openApps;
  std::vector<winsys::ApplicationPtr> otherApps;

  bool isRunning(const IApp& app) const;
};

}  // namespace wendrix

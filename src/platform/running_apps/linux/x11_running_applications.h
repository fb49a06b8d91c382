#pragma once

// Running applications on X11: a process is running while it exists; it is
// frontmost when it owns _NET_ACTIVE_WINDOW; activating it asks the window
// manager (_NET_ACTIVE_WINDOW, as a pager) to activate its topmost window,
// after raising its other shown windows when all windows are asked for.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/running_apps/running_applications.h"

namespace platform {

namespace xconn {
class Connection;
}

class X11RunningApplications final : public RunningApplications {
 public:
  // The processes that make up one application with `pid` (the window
  // backend groups them); by default just `pid`.
  using ProcessGroup = std::function<std::vector<std::int32_t>(std::int32_t pid)>;

  X11RunningApplications(std::shared_ptr<xconn::Connection> connection,
                         std::string selfBundleIdentifier, ProcessGroup group = {});

  std::optional<bool> isActive(std::int32_t processIdentifier) override;
  bool activate(std::int32_t processIdentifier, std::uint32_t options) override;
  std::optional<std::int32_t> frontmost() override;
  CurrentApplication current() override;

 private:
  std::vector<std::int32_t> groupOf(std::int32_t pid) const;

  std::shared_ptr<xconn::Connection> connection_;
  std::string selfBundleIdentifier_;
  ProcessGroup group_;
};

}  // namespace platform

#include "x11/x11_window_system.h"

#include "x11/desktop.h"

namespace wendrix::x11 {

X11WindowSystem::X11WindowSystem(std::shared_ptr<xconn::Connection> connection,
                                 const platform::BundleIdResolver& resolver,
                                 const platform::BundleProvider* bundles,
                                 X11WindowSystemOptions options)
    : desktop_(std::make_shared<detail::Desktop>(std::move(connection), resolver, bundles,
                                                 std::move(options))) {}

X11WindowSystem::~X11WindowSystem() = default;

winsys::Promise<winsys::StatePtr> X11WindowSystem::initialize(winsys::EventNotifier& notifier) {
  return desktop_->initialize(notifier);
}

std::vector<std::int32_t> X11WindowSystem::processesOf(std::int32_t pid) const {
  return desktop_->processesOf(pid);
}

}  // namespace wendrix::x11

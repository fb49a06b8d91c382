#pragma once

// The engine's actions over the fake desktop, as the benchmarks drive them.

#include <memory>

#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix::bench {

inline std::shared_ptr<Actions> fakeDesktopActions(std::shared_ptr<WindowsProvider> provider,
                                                   std::shared_ptr<DefaultsStorage> storage,
                                                   winsys::fake::FakeDesktop& desktop,
                                                   rx::QueueScheduler& scheduler,
                                                   dispatch::ManualQueue& queue) {
  ActionsContext c;
  c.windowsProvider = std::move(provider);
  c.storage = std::move(storage);
  c.runningApplications = &desktop.runningApplications();
  c.bundles = &desktop.bundles();
  c.scheduler = &scheduler;
  c.clock = &queue.clock();
  c.workspace = &desktop.workspace();
  c.keyboard = &desktop.keyboard();
  return Actions::make(c);
}

}  // namespace wendrix::bench

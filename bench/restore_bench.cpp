// Restores a layout of 20 applications with 10 windows each on the fake
// desktop (virtual time, so only CPU counts): half of them run with their
// windows shuffled and some minimized, half are launched with one window and
// get the others by "New Window" keystrokes. Reports the restore's CPU time
// against a baseline measured in the same run: the window-system work any
// restore of these windows needs (the same frame and un-minimize writes made
// directly on an equal desktop).

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "fake_actions.h"
#include "platform/defaults/memory_user_defaults.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "winsys/fake/fake_desktop.h"

namespace {

using namespace std::chrono_literals;
using namespace wendrix;
using winsys::fake::AppSetup;
using winsys::fake::LaunchScript;
using winsys::fake::NewWindowScript;
using winsys::fake::WindowSetup;

constexpr int kApps = 20;
constexpr int kWindows = 10;

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string appId(int a) {
  return "org.example.App" + std::to_string(a);
}

Rect savedRect(int a, int w) {
  return Rect{a * 10.0, w * 10.0, 400, 300};
}

// One desktop with the layout's applications, half of them running.
struct World {
  dispatch::ManualQueue queue;
  rx::QueueScheduler scheduler{queue};
  winsys::fake::FakeDesktop desktop{queue};
  std::shared_ptr<DefaultsStorage> storage =
      std::make_shared<DefaultsStorage>(std::make_shared<platform::MemoryUserDefaults>(), "1");
  std::shared_ptr<WindowsProvider> provider = std::make_shared<WindowsProvider>(
      desktop.windowSystem(), desktop.trust(), desktop.bundles(), scheduler);
  std::shared_ptr<Actions> actions;
  Layout layout{"Big", {}, std::nullopt};

  World() {
    AppSettingsMap settings;
    for (int a = 0; a < kApps; ++a) {
      IApp record;
      record.bundleId = appId(a);
      for (int w = 0; w < kWindows; ++w) {
        IWindow window;
        window.title = "w" + std::to_string(w);
        window.rect = savedRect(a, w);
        window.index = w;
        record.windows.push_back(window);
      }
      layout.apps.push_back(record);
      if (a % 2 == 0) {
        std::vector<WindowSetup> windows;
        for (int w = 0; w < kWindows; ++w) {
          windows.push_back(WindowSetup::titled("w" + std::to_string(w)));
          if (w % 3 == 0) windows.back().asMinimized();
        }
        desktop.launch(AppSetup::withId(appId(a)), std::move(windows));
      } else {
        const base::Url url = base::Url::fromFilePath("/apps/" + appId(a) + ".desktop");
        desktop.workspace().install(appId(a), url);
        desktop.scriptLaunch(url,
                             LaunchScript::launching(AppSetup::withId(appId(a)).withPid(2000 + a),
                                                     {WindowSetup::titled("first")}, 500ms));
        desktop.scriptNewWindow(2000 + a, NewWindowScript::opening(1, 10ms));
        settings[appId(a)] = IAppSettings{IShortcut{45, kMaskCommand}};
      }
    }
    storage->saveAppSettings(settings);
    provider->warmUp();
    queue.runUntilIdle();
    actions = bench::fakeDesktopActions(provider, storage, desktop, scheduler, queue);
  }

  // Runs virtual time until `done` or nothing is left to run.
  void runUntil(const bool& done) {
    queue.runUntilIdle();
    while (!done && queue.runNextTimer())
      queue.runUntilIdle();
  }

  bool placed() const {
    for (int a = 0; a < kApps; ++a) {
      for (const auto& app : desktop.applications()) {
        if (app->bundleIdentifier() != appId(a)) continue;
        const auto& windows = app->windows();
        if (windows.size() != kWindows) return false;
        for (int w = 0; w < kWindows; ++w) {
          const Rect r = savedRect(a, w);
          if (windows[w]->frame() != winsys::Rect{r.x, r.y, r.width, r.height} ||
              windows[w]->isMinimized()) {
            return false;
          }
        }
      }
    }
    return desktop.applications().size() == kApps;
  }
};

// The baseline: the running half's windows and the launched half's (opened
// here directly) get their frames and leave the minimized state, with the
// same promises the restore uses.
bool placeDirectly(World& world) {
  for (int a = 1; a < kApps; a += 2) {
    auto app = world.desktop.launch(AppSetup::withId(appId(a)));
    for (int w = 0; w < kWindows; ++w)
      world.desktop.addWindow(app, WindowSetup::titled("w" + std::to_string(w)));
  }
  int pending = 0;
  for (const auto& app : world.desktop.applications()) {
    const int a = std::stoi(app->bundleIdentifier()->substr(std::string("org.example.App").size()));
    int w = 0;
    for (const auto& window : app->windows()) {
      const Rect r = savedRect(a, w++);
      ++pending;
      window->setFrame({r.x, r.y, r.width, r.height})
          .then([window](const winsys::Rect&) { return window->setMinimized(false); })
          .done([&pending](const base::Result<bool>&) { --pending; });
    }
  }
  world.queue.runUntilIdle();
  return pending == 0 && world.placed();
}

void BM_RestoreTwentyAppsOfTenWindows(benchmark::State& state) {
  double restoreCpu = 0;
  double baselineCpu = 0;
  for (auto _ : state) {
    World restoring;
    World direct;
    // Launched applications are not running before the baseline opens them.
    for (int a = 1; a < kApps; a += 2)
      direct.desktop.workspace().uninstall(appId(a));

    double start = cpuSeconds();
    bool done = false;
    bool failed = false;
    auto subscription = restoring.actions->restoreLayout(restoring.layout)
                            .subscribe([&](const rx::Unit&) { done = true; },
                                       [&](const base::Error&) { failed = done = true; });
    restoring.runUntil(done);
    restoreCpu += cpuSeconds() - start;
    if (failed || !done || !restoring.placed()) {
      state.SkipWithError("the restore did not place every window");
      return;
    }

    start = cpuSeconds();
    const bool ok = placeDirectly(direct);
    baselineCpu += cpuSeconds() - start;
    if (!ok) {
      state.SkipWithError("direct placement failed");
      return;
    }
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["restore_cpu_ms"] = restoreCpu / n * 1e3;
  state.counters["baseline_cpu_ms"] = baselineCpu / n * 1e3;
  state.counters["restore_vs_baseline"] = baselineCpu > 0 ? restoreCpu / baselineCpu : 0;
}
BENCHMARK(BM_RestoreTwentyAppsOfTenWindows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

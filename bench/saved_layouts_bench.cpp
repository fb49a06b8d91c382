// The agent's cost of its saved layouts: start-up and one save with 1,000
// saved layouts against the same with one, and the memory a save leaves
// behind. Start-up is measured in-process: from a user-defaults file on disk,
// the store, the storage, the windows provider on a fake desktop, the actions
// and the status menu with its layout menus, as the agent builds them (the
// toolkit is the headless one: no display, no tray). A save is the "save
// layout" command, from capturing the fake desktop's windows to the rebuilt
// status menu, with the write synced to disk. Times are the process's CPU
// time; the save's wall time, which includes the sync, is reported beside it.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/menus/main_menu_provider.h"
#include "app/menus/menu_context.h"
#include "desk_layout.h"
#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "fake_actions.h"
#include "platform/defaults/file_user_defaults.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "storage/saved_layouts.h"
#include "toolkit/application.h"
#include "winsys/fake/fake_desktop.h"

namespace {

using namespace wendrix;
namespace fs = std::filesystem;
using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

constexpr std::size_t kMany = 1000;

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double wallSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Resident memory of the process in MB.
double residentMb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

using bench::deskLayout;

// A private folder with a defaults file holding `count` saved layouts.
struct DefaultsFile {
  explicit DefaultsFile(std::size_t count) {
    char pattern[] = "/tmp/wendrix-bench-XXXXXX";
    dir = ::mkdtemp(pattern);
    path = dir / "defaults.plist";
    auto store = platform::FileUserDefaults::open(path);
    DefaultsStorage storage(*store, "1");
    std::vector<Layout> layouts;
    for (std::size_t i = 0; i < count; ++i)
      layouts.push_back(deskLayout("Layout " + std::to_string(i)));
    storage.layouts().setValue(layouts);
    storage.applyFirstRunDefaults();
  }
  ~DefaultsFile() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  DefaultsFile(const DefaultsFile&) = delete;
  DefaultsFile& operator=(const DefaultsFile&) = delete;

  fs::path dir;
  fs::path path;
};

// The agent's storage, providers and status menu over a defaults file, on a
// fake desktop with three applications.
struct Agent {
  explicit Agent(const fs::path& file) {
    for (int a = 0; a < 3; ++a) {
      desktop.launch(AppSetup::withId("org.example.Running" + std::to_string(a)),
                     {WindowSetup::titled("Main"), WindowSetup::titled("Other")});
    }
    storage = std::make_shared<DefaultsStorage>(*platform::FileUserDefaults::open(file), "1");
    storage->applyFirstRunDefaults();
    provider = std::make_shared<WindowsProvider>(desktop.windowSystem(), desktop.trust(),
                                                 desktop.bundles(), scheduler);
    provider->warmUp();
    actions = bench::fakeDesktopActions(provider, storage, desktop, scheduler, queue);
    MenuContext m;
    m.windowsProvider = provider;
    m.actions = actions;
    m.storage = storage;
    m.application = &application;
    m.trust = &desktop.trust();
    m.bundles = &desktop.bundles();
    m.clock = &queue.clock();
    m.defaultLayoutName = [](dispatch::WallTime) { return std::string("Saved"); };
    menus = MainMenuProvider::make(m);
    menu = menus->mainMenuStream().subscribe([this](const auto& made) { shown = made; });
    queue.runUntilIdle();
  }
  ~Agent() { menu.dispose(); }

  std::size_t layoutItems() const { return menus->layoutMenus().size(); }

  // Saves the desktop's windows under `name`; true once written.
  bool save(const std::string& name) {
    bool saved = false;
    auto running = actions->saveLayout(name).subscribe([&](const rx::Unit&) { saved = true; },
                                                       [](const base::Error&) {});
    queue.runUntilIdle();
    running.dispose();
    return saved;
  }

  dispatch::ManualQueue queue;
  rx::QueueScheduler scheduler{queue};
  winsys::fake::FakeDesktop desktop{queue};
  toolkit::Application application{queue, {}};
  std::shared_ptr<DefaultsStorage> storage;
  std::shared_ptr<WindowsProvider> provider;
  std::shared_ptr<Actions> actions;
  std::shared_ptr<MainMenuProvider> menus;
  std::shared_ptr<toolkit::Menu> shown;
  rx::Disposable menu;
};

void BM_StartUpWithThousandLayouts(benchmark::State& state) {
  const DefaultsFile one(1);
  const DefaultsFile many(kMany);
  double oneCpu = 0;
  double manyCpu = 0;
  for (auto _ : state) {
    double start = cpuSeconds();
    auto small = std::make_unique<Agent>(one.path);
    oneCpu += cpuSeconds() - start;
    start = cpuSeconds();
    auto large = std::make_unique<Agent>(many.path);
    manyCpu += cpuSeconds() - start;
    if (small->layoutItems() != 1 || large->layoutItems() != kMany) {
      state.SkipWithError("the status menu does not list every layout");
      return;
    }
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["one_cpu_ms"] = oneCpu / n * 1e3;
  state.counters["thousand_cpu_ms"] = manyCpu / n * 1e3;
  state.counters["thousand_vs_one"] = oneCpu > 0 ? manyCpu / oneCpu : 0;
}
BENCHMARK(BM_StartUpWithThousandLayouts)->Unit(benchmark::kMillisecond);

void BM_SaveWithThousandLayouts(benchmark::State& state) {
  const DefaultsFile one(1);
  const DefaultsFile many(kMany);
  Agent small(one.path);
  Agent large(many.path);
  double oneCpu = 0;
  double manyCpu = 0;
  double oneWall = 0;
  double manyWall = 0;
  for (auto _ : state) {
    double cpu = cpuSeconds();
    double wall = wallSeconds();
    const bool smallSaved = small.save("Saved");
    oneCpu += cpuSeconds() - cpu;
    oneWall += wallSeconds() - wall;
    cpu = cpuSeconds();
    wall = wallSeconds();
    const bool largeSaved = large.save("Saved");
    manyCpu += cpuSeconds() - cpu;
    manyWall += wallSeconds() - wall;
    if (!smallSaved || !largeSaved || large.layoutItems() != kMany + 1) {
      state.SkipWithError("the save did not reach the status menu");
      return;
    }
    // Back to 1 and 1,000 layouts for the next round (not measured).
    small.storage->deleteLayout("Saved");
    large.storage->deleteLayout("Saved");
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["one_cpu_ms"] = oneCpu / n * 1e3;
  state.counters["thousand_cpu_ms"] = manyCpu / n * 1e3;
  state.counters["one_wall_ms"] = oneWall / n * 1e3;
  state.counters["thousand_wall_ms"] = manyWall / n * 1e3;
  state.counters["thousand_vs_one"] = oneCpu > 0 ? manyCpu / oneCpu : 0;
  state.counters["wall_thousand_vs_one"] = oneWall > 0 ? manyWall / oneWall : 0;
}
BENCHMARK(BM_SaveWithThousandLayouts)->Unit(benchmark::kMillisecond);

// The status menu's rebuild alone with 1,000 saved layouts, as each save
// makes it: new layout menus subscribed to the stored streams, the previous
// ones and their items released.
void BM_MenuRebuildWithThousandLayouts(benchmark::State& state) {
  const DefaultsFile many(kMany);
  Agent large(many.path);
  std::shared_ptr<const SavedLayouts> saved;
  large.storage->savedLayoutsStream().take(1).subscribeNext(
      [&](const std::shared_ptr<const SavedLayouts>& s) { saved = s; });
  if (!saved || saved->layouts().size() != kMany) {
    state.SkipWithError("no saved layouts");
    return;
  }
  double cpu = 0;
  for (auto _ : state) {
    const double start = cpuSeconds();
    large.menus->rebuildMenu(saved, true);
    cpu += cpuSeconds() - start;
  }
  if (large.layoutItems() != kMany) state.SkipWithError("the status menu lost layouts");
  state.counters["rebuild_cpu_ms"] = cpu / static_cast<double>(state.iterations()) * 1e3;
}
BENCHMARK(BM_MenuRebuildWithThousandLayouts)->Unit(benchmark::kMillisecond);

// In a child process, so that the heap starts fresh: the resident memory of
// the agent with 1,000 layouts once started, then after one save.
void BM_MemoryAfterSaveWithThousandLayouts(benchmark::State& state) {
  const DefaultsFile many(kMany);
  double before = 0;
  double after = 0;
  for (auto _ : state) {
    int fds[2];
    if (::pipe(fds) != 0) {
      state.SkipWithError("no pipe");
      return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(fds[0]);
      double figures[2] = {0, 0};
      {
        Agent agent(many.path);
        figures[0] = residentMb();
        if (agent.save("Saved")) figures[1] = residentMb();
      }
      const bool sent = ::write(fds[1], figures, sizeof figures) == sizeof figures;
      ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    double figures[2] = {0, 0};
    const bool read = ::read(fds[0], figures, sizeof figures) == sizeof figures;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!read || figures[1] == 0) {
      state.SkipWithError("the measuring process failed");
      return;
    }
    before += figures[0];
    after += figures[1];
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["before_mb"] = before / n;
  state.counters["after_mb"] = after / n;
  state.counters["after_vs_before"] = before > 0 ? after / before : 0;
}
BENCHMARK(BM_MemoryAfterSaveWithThousandLayouts)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

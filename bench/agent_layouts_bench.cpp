// The real agent on the X session with 1,000 saved layouts against the same
// with one: its CPU time from start until it answered a first command (a
// restore of a layout that does not exist), the CPU time of one save command,
// and its resident memory after that save against before it. CPU time is the
// sum of the run times of all the agent's threads (/proc/<pid>/task/*/schedstat).
// Measured twice: for a new user, whose layout menus carry the new-feature
// marker (each marked item sends a usage event), and for one who has used the
// features.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "desk_layout.h"
#include "platform/defaults/file_user_defaults.h"
#include "storage/defaults_storage.h"
#include "x11_session/x_session.h"

namespace {

using namespace std::chrono_literals;
using namespace wendrix;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMany = 1000;

using bench::deskLayout;

// Starts `argv` with `env` added; output goes to `log`.
pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& log) {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  ::dup2(out, 1);
  ::dup2(out, 2);
  for (int fd = 3; fd < 1024; ++fd)
    ::close(fd);
  for (const auto& e : env)
    ::putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

// The exit status of `pid` once it ended within `timeout`.
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    if (Clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
}

// CPU seconds of all threads of `pid`.
double cpuOf(pid_t pid) {
  double total = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "schedstat");
    double ns = 0;
    if (in >> ns) total += ns / 1e9;
  }
  return total;
}

double residentMbOf(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

struct Figures {
  double startCpu = 0;
  double saveCpu = 0;
  double rssBefore = 0;
  double rssAfter = 0;
};

// A private home with `count` saved layouts, where the agent runs.
class AgentHome {
 public:
  // `featuresUsed`: the user has opened the edit window and hidden a layout,
  // so no menu item carries the new-feature marker.
  AgentHome(std::size_t count, bool featuresUsed) : featuresUsed_(featuresUsed) {
    char pattern[] = "/tmp/wendrix-agent-bench-XXXXXX";
    home_ = ::mkdtemp(pattern);
    for (const char* dir : {"config", "runtime", "data", "cache"})
      fs::create_directories(home_ / dir);
    ::chmod((home_ / "runtime").c_str(), 0700);
    env_ = {"DISPLAY=" + x11test::XSession::shared().display(),
            "XDG_CONFIG_HOME=" + (home_ / "config").string(),
            "XDG_RUNTIME_DIR=" + (home_ / "runtime").string(),
            "XDG_DATA_HOME=" + (home_ / "data").string(),
            "XDG_CACHE_HOME=" + (home_ / "cache").string(),
            "XDG_CONFIG_DIRS=/nonexistent",
            "XDG_CURRENT_DESKTOP=",
            "QT_QPA_PLATFORM=xcb"};
    for (std::size_t i = 0; i < count; ++i)
      layouts_.push_back(deskLayout("Layout " + std::to_string(i)));
  }
  ~AgentHome() {
    std::error_code ec;
    fs::remove_all(home_, ec);
  }
  AgentHome(const AgentHome&) = delete;
  AgentHome& operator=(const AgentHome&) = delete;

  // Runs the agent once; none when a step failed.
  std::optional<Figures> run() {
    Figures figures;
    {
      // The same layouts at every start.
      auto store =
          platform::FileUserDefaults::open(home_ / "config" / "app.Wendrix" / "defaults.plist");
      if (!store) return std::nullopt;
      DefaultsStorage storage(*store, std::nullopt);
      storage.layouts().setValue(layouts_);
      if (featuresUsed_) {
        storage.featureEditWindow().setValue(true);
        storage.featureHideLayoutMenuItem().setValue(true);
      }
    }
    const pid_t agent = start({WENDRIX_PROGRAM}, env_, home_ / "agent.log");
    // Commands go to it once it listens.
    const auto socket = home_ / "runtime" / "app.Wendrix" / "agent.socket";
    const auto deadline = Clock::now() + 30s;
    while (!fs::exists(socket) && Clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    // Answered once launching has finished (the layout does not exist).
    const auto answered = command("wendrix:restore?name=NoSuchLayout");
    figures.startCpu = cpuOf(agent);
    bool ok = answered && WIFEXITED(*answered) && WEXITSTATUS(*answered) == 1;
    if (ok) {
      std::this_thread::sleep_for(300ms);  // let start-up work queued behind settle
      figures.rssBefore = residentMbOf(agent);
      const double before = cpuOf(agent);
      const auto saved = command("wendrix:save?name=Saved");
      figures.saveCpu = cpuOf(agent) - before;
      figures.rssAfter = residentMbOf(agent);
      ok = saved && WIFEXITED(*saved) && WEXITSTATUS(*saved) == 0;
    }
    ::kill(agent, SIGTERM);
    if (!waitFor(agent, 10s)) {
      ::kill(agent, SIGKILL);
      ::waitpid(agent, nullptr, 0);
    }
    if (!ok) return std::nullopt;
    return figures;
  }

 private:
  std::optional<int> command(const std::string& url) {
    return waitFor(start({WENDRIX_PROGRAM, url}, env_, home_ / "client.log"), 30s);
  }

  fs::path home_;
  std::vector<std::string> env_;
  std::vector<Layout> layouts_;
  bool featuresUsed_;
};

// state.range(0): 1 when the new-feature markers are off. While they are on,
// every layout menu of a rebuild sends a usage event, which is stored.
void BM_AgentWithThousandLayouts(benchmark::State& state) {
  if (!x11test::XSession::shared().available()) {
    state.SkipWithError(("no X session: " + x11test::XSession::shared().problem()).c_str());
    return;
  }
  const bool featuresUsed = state.range(0) == 1;
  AgentHome one(1, featuresUsed);
  AgentHome many(kMany, featuresUsed);
  Figures small;
  Figures large;
  for (auto _ : state) {
    const auto a = one.run();
    const auto b = many.run();
    if (!a || !b) {
      state.SkipWithError("the agent did not answer its commands");
      return;
    }
    small.startCpu += a->startCpu;
    small.saveCpu += a->saveCpu;
    large.startCpu += b->startCpu;
    large.saveCpu += b->saveCpu;
    large.rssBefore += b->rssBefore;
    large.rssAfter += b->rssAfter;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["start_one_cpu_ms"] = small.startCpu / n * 1e3;
  state.counters["start_thousand_cpu_ms"] = large.startCpu / n * 1e3;
  state.counters["save_one_cpu_ms"] = small.saveCpu / n * 1e3;
  state.counters["save_thousand_cpu_ms"] = large.saveCpu / n * 1e3;
  state.counters["rss_before_mb"] = large.rssBefore / n;
  state.counters["rss_after_mb"] = large.rssAfter / n;
  state.counters["start_thousand_vs_one"] = large.startCpu / small.startCpu;
  state.counters["save_thousand_vs_one"] = large.saveCpu / small.saveCpu;
  state.counters["rss_after_vs_before"] = large.rssAfter / large.rssBefore;
}
BENCHMARK(BM_AgentWithThousandLayouts)
    ->ArgName("features_used")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  x11test::XSession::shared().stop();
  benchmark::Shutdown();
  return 0;
}

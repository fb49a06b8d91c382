// Reads 100 windows (10 fixture applications of 10 windows each) on Xvfb with
// openbox: the X11 backend's capture (a new window system initialized on a new
// connection, which reads every window) against a minimal Xlib reader of the
// same data (the client list, then each window's size, root position, title,
// process and state, each request waiting for its reply), both measured in
// the same run. Reports the median wall time of each and their ratio.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsys/event_notifier.h"
#include "x11/x11_window_system.h"
#include "x11_session/x_session.h"

namespace {

using namespace std::chrono_literals;
using namespace wendrix;
using Clock = std::chrono::steady_clock;
using x11test::FixtureClient;
using x11test::XSession;

constexpr int kApps = 10;
constexpr int kWindows = 10;

class NullNotifier final : public winsys::EventNotifier {
 protected:
  void onEvent(std::string_view, std::function<void(const winsys::AnyEvent&)>) override {}
  void notifyEvent(std::string_view, winsys::AnyEvent) override {}
};

// The fixture classes "AppN" belong to "org.example.AppN".
class ClassResolver final : public platform::BundleIdResolver {
 public:
  std::optional<std::string> bundleIdentifierFor(
      const platform::WindowOwnerHints& hints) const override {
    if (!hints.wmClass) return std::nullopt;
    return "org.example." + *hints.wmClass;
  }
};

// The desktop the benchmark reads: started once, for the whole program.
struct Desktop {
  std::vector<std::unique_ptr<FixtureClient>> clients;
  std::string problem;

  static Desktop& shared() {
    static Desktop desktop;
    return desktop;
  }

 private:
  Desktop() {
    XSession& session = XSession::shared();
    if (!session.available()) {
      problem = session.problem();
      return;
    }
    for (int a = 0; a < kApps; ++a) {
      std::vector<std::string> arguments{"--class",
                                         "app" + std::to_string(a) + ".App" + std::to_string(a)};
      for (int w = 0; w < kWindows; ++w) {
        arguments.insert(
            arguments.end(),
            {"--window", "App " + std::to_string(a) + " window " + std::to_string(w), "--geometry",
             "300x200+" + std::to_string(20 * w) + "+" + std::to_string(30 * a)});
      }
      auto client = FixtureClient::start(arguments);
      if (!client) {
        problem = "the fixture client did not start";
        return;
      }
      clients.push_back(std::move(client));
    }
    if (!session.waitForClientCount(kApps * kWindows, 20s)) {
      problem = "the window manager did not list every window";
    }
  }
};

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  if (n == 0) return 0;
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What a plain Xlib reader does: one request at a time, each waiting for its
// reply. Returns the number of windows read.
std::size_t readWithXlib(Display* display, Atom clientList, Atom netWmName, Atom utf8,
                         Atom netWmPid, Atom wmState) {
  const ::Window root = DefaultRootWindow(display);
  auto property = [&](::Window window, Atom name, Atom type, auto use) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, name, 0, 1L << 16, False, type, &actual, &format,
                           &count, &after, &data) == Success &&
        data) {
      use(data, count);
    }
    if (data) XFree(data);
  };
  std::vector<::Window> windows;
  property(root, clientList, XA_WINDOW, [&](unsigned char* data, unsigned long count) {
    const auto* ids = reinterpret_cast<const unsigned long*>(data);
    windows.assign(ids, ids + count);
  });
  std::size_t read = 0;
  for (::Window window : windows) {
    ::Window rootReturn = None, child = None;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display, window, &rootReturn, &x, &y, &width, &height, &border, &depth)) {
      continue;
    }
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    std::string title;
    property(window, netWmName, utf8, [&](unsigned char* data, unsigned long count) {
      title.assign(reinterpret_cast<const char*>(data), count);
    });
    unsigned long pid = 0;
    property(window, netWmPid, XA_CARDINAL, [&](unsigned char* data, unsigned long count) {
      if (count > 0) pid = *reinterpret_cast<const unsigned long*>(data);
    });
    unsigned long state = 0;
    property(window, wmState, wmState, [&](unsigned char* data, unsigned long count) {
      if (count > 0) state = *reinterpret_cast<const unsigned long*>(data);
    });
    benchmark::DoNotOptimize(title);
    benchmark::DoNotOptimize(pid + state + static_cast<unsigned long>(x + y) + width + height);
    ++read;
  }
  return read;
}

void BM_CaptureHundredWindows(benchmark::State& state) {
  Desktop& desktop = Desktop::shared();
  if (!desktop.problem.empty()) {
    state.SkipWithError(desktop.problem.c_str());
    return;
  }
  const std::string& name = XSession::shared().display();
  auto loop = dispatch::MainLoop::create();
  if (!loop.ok()) {
    state.SkipWithError("no main loop");
    return;
  }
  Display* display = XOpenDisplay(name.c_str());
  if (!display) {
    state.SkipWithError("cannot open the display");
    return;
  }
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", False);
  const Atom wmState = XInternAtom(display, "WM_STATE", False);
  ClassResolver resolver;
  NullNotifier notifier;
  std::vector<double> backend;
  std::vector<double> reader;
  for (auto _ : state) {
    // A new connection each time, so nothing is known from the last capture.
    auto connection = x11::xconn::Connection::open(*loop.value(), name);
    if (!connection.ok()) {
      state.SkipWithError("cannot open the backend's connection");
      break;
    }
    auto system = std::make_unique<x11::X11WindowSystem>(connection.value(), resolver, nullptr);
    std::optional<base::Result<winsys::StatePtr>> captured;
    auto start = Clock::now();
    system->initialize(notifier).done(
        [&](const base::Result<winsys::StatePtr>& result) { captured = result; });
    loop.value()->runUntil([&] { return captured.has_value(); }, 10s);
    const double backendMs = millisecondsSince(start);
    std::size_t windows = 0;
    if (captured && captured->ok()) {
      for (const auto& app : captured->value()->runningApplications())
        windows += app->knownWindows().size();
    }
    system.reset();
    if (windows != kApps * kWindows) {
      state.SkipWithError("the backend did not capture every window");
      break;
    }

    start = Clock::now();
    const std::size_t read = readWithXlib(display, clientList, netWmName, utf8, netWmPid, wmState);
    const double readerMs = millisecondsSince(start);
    if (read != kApps * kWindows) {
      state.SkipWithError("the reader did not read every window");
      break;
    }
    backend.push_back(backendMs);
    reader.push_back(readerMs);
    state.SetIterationTime(backendMs / 1e3);
  }
  XCloseDisplay(display);
  if (backend.empty()) return;
  state.counters["backend_ms"] = median(backend);
  state.counters["xlib_reader_ms"] = median(reader);
  state.counters["backend_vs_reader"] = median(backend) / median(reader);
}
BENCHMARK(BM_CaptureHundredWindows)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(31);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  XSession::shared().stop();
  return 0;
}

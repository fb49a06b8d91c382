// The Wendrix agent, executed by `wendrix [URL...]` (forwarder.cpp) when it
// finds no agent to hand the URLs to. It hands them to an agent that started
// meanwhile and exits, or becomes that agent: it shows its status item and
// handles the URLs once started.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/build_info.h"
#include "app/composition.h"
#include "app/telemetry_wiring.h"
#include "app/url_delivery.h"
#include "dispatch/main_loop.h"
#include "platform/bundle/app_identity.h"
#include "toolkit/application.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/qt/qt_loop_host.h"
#include "toolkit/qt/qt_text_metrics.h"

namespace {

using namespace std::chrono_literals;

// How long a start waits for another instance that is starting at the same time.
constexpr auto kStartingInstanceWait = 5s;

// An image the program ships: installed beside the program's data, else the
// source tree's.
std::string resourcePath(const std::string& file) {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    auto installed = exe.parent_path().parent_path() / "share" / "wendrix" / file;
    if (std::filesystem::exists(installed, error)) return installed.string();
  }
  return std::string(WENDRIX_RESOURCE_DIR) + "/" + file;
}

// SIGTERM, SIGINT and SIGHUP end the program through the main loop, so that
// the socket is removed. Blocked before any thread starts.
int blockTerminationSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
  return signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

int runAgent(const std::vector<std::string>& urls, const wendrix::InstancePaths& paths,
             const platform::AppIdentity& identity) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr,
                 "wendrix: no X display: DISPLAY is not set. Wendrix runs in an X11 desktop "
                 "session; start it there or set DISPLAY.\n");
    return 1;
  }
  const int signals = blockTerminationSignals();

  int qtArgc = 1;
  char qtName[] = "wendrix";
  char* qtArgv[] = {qtName, nullptr};
  QApplication qtApp(qtArgc, qtArgv);
  QApplication::setQuitOnLastWindowClosed(false);
  auto loop = dispatch::MainLoop::create();
  if (!loop.ok()) {
    std::cerr << "wendrix: cannot start the main loop: " << loop.error() << "\n";
    return 1;
  }
  toolkit::qt::QtLoopHost host(*loop.value());
  toolkit::Application application(
      *loop.value(),
      {{{"CFBundleName", identity.bundleName},
        {"CFBundleIdentifier", identity.bundleIdentifier},
        {"CFBundleVersion", identity.bundleVersion},
        {"CFBundleShortVersionString", identity.shortVersion}},
       {{"Menu Icon", resourcePath("menu-icon.png")}, {"AppIcon", resourcePath("app-icon.png")}},
       std::make_shared<toolkit::qt::QtTextMetrics>()});

  wendrix::AgentOptions options;
  options.display = display;
  options.identity = identity;
  options.appSecret = WENDRIX_APP_SECRET;
  options.logUrl = WENDRIX_LOG_URL;
  // Runs once the agent is gone (declared before it): the telemetry stores
  // what the agent logged to its end, then stops its threads, before static
  // objects are destroyed.
  struct TelemetryShutdown {
    ~TelemetryShutdown() { wendrix::shutDownTelemetry(); }
  } telemetryShutdown;
  auto agent = wendrix::Agent::make(*loop.value(), application, options);
  if (!agent.ok()) {
    std::fprintf(stderr, "wendrix: cannot open the X display \"%s\": %s\n", display,
                 agent.error().description.c_str());
    return 1;
  }
  toolkit::qt::QtBackend backend(application);

  wendrix::Agent* running = agent.value().get();
  auto server = wendrix::URLServer::listen(
      *loop.value(), *loop.value(), paths.socket,
      [running](std::vector<std::string> received, wendrix::URLServer::Reply reply) {
        running->openURLs(std::move(received), std::move(reply));
      },
      std::cerr);
  if (!server.ok()) {
    std::cerr << "wendrix: URLs cannot reach this instance: " << server.error().description << "\n";
  }

  dispatch::WatchHandle signalWatch;
  if (signals >= 0) {
    signalWatch = loop.value()->watch(signals, dispatch::MainLoop::kReadable,
                                      [&application, signals](unsigned) {
                                        signalfd_siginfo info;
                                        while (read(signals, &info, sizeof(info)) == sizeof(info)) {
                                        }
                                        application.terminate();
                                      });
  }
  loop.value()->post([running, urls] {
    running->finishLaunching();
    running->openURLs(urls, [](const base::Status& outcome) {
      if (!outcome) std::cerr << "wendrix: " << outcome.error().description << "\n";
    });
  });
  const int status = QApplication::exec();
  signalWatch.cancel();
  if (signals >= 0) close(signals);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything below the program runs: they read the identity.
  platform::AppIdentity::install(app::buildIdentity());
  const platform::AppIdentity identity = platform::AppIdentity::current();
  std::vector<std::string> urls;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--version") {
      std::printf("%s %s (%s)\n", identity.bundleName.c_str(), identity.shortVersion.c_str(),
                  identity.bundleVersion.c_str());
      return 0;
    }
    urls.push_back(argument);
  }

  const auto paths = wendrix::InstancePaths::fromEnvironment(identity.bundleIdentifier);
  if (auto ready = paths.preparePrivateFolder(); !ready.ok()) {
    std::cerr << "wendrix: " << ready.error().description << "\n";
    return 1;
  }
  // Hand the URLs to the running instance, or become it. Another instance
  // that holds the lock is starting: its socket comes soon.
  const auto giveUp = std::chrono::steady_clock::now() + kStartingInstanceWait;
  for (;;) {
    auto sent = wendrix::sendURLsToInstance(paths.socket, urls);
    if (!sent.ok()) {
      std::cerr << "wendrix: " << sent.error().description << "\n";
      return 1;
    }
    if (sent.value()) {
      if (urls.empty()) std::cerr << "wendrix: already running\n";
      return 0;
    }
    auto lock = wendrix::InstanceLock::tryAcquire(paths.lock);
    if (!lock.ok()) {
      std::cerr << "wendrix: " << lock.error().description << "\n";
      return 1;
    }
    if (lock.value()) {
      wendrix::InstanceLock held = std::move(*lock.value());
      return runAgent(urls, paths, identity);
    }
    if (std::chrono::steady_clock::now() > giveUp) {
      std::cerr << "wendrix: another instance is starting and does not answer\n";
      return 1;
    }
    std::this_thread::sleep_for(50ms);
  }
}

// The time the crash path takes to write a report of a process with 10
// threads and at least 50 loaded images, against the time of fork() +
// waitpid() of the same process (a child that exits at once), the least a
// crash handler that hands its work to another process would pay. Prints the
// ratio write / fork.

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crashcapture/capture/reporter_setup/linux/linux_crash_platform.h"
#include "crashcapture/capture/reporter_setup/log_writer_facts.h"
#include "crashcapture/capture/writer/log_writer.h"
#include "crashcapture/capture/writer_setup/log_writer_setup.h"
#include "crashcapture/readers/core/output.h"
#include "crashcapture/readers/core/thread_capture.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace tlcrash;

constexpr int kThreads = 10;
constexpr int kImages = 50;

int loadedImages() {
  int count = 0;
  ::dl_iterate_phdr(
      [](dl_phdr_info*, std::size_t, void* data) {
        ++*static_cast<int*>(data);
        return 0;
      },
      &count);
  return count;
}

// Loads libraries of the system (with what they depend on) until the process
// has at least kImages images.
int loadImages() {
  static const char* const libraries[] = {
      "libz.so.1",      "libsqlite3.so.0",   "libcrypto.so.3",    "libssl.so.3",
      "libcurl.so.4",   "libX11.so.6",       "libXtst.so.6",      "libcairo.so.2",
      "libicuuc.so.72", "libicui18n.so.72",  "libplist-2.0.so.3", "liburiparser.so.1",
      "libuuid.so.1",   "libQt6Widgets.so.6"};
  for (const char* library : libraries) {
    if (loadedImages() >= kImages) break;
    ::dlopen(library, RTLD_LAZY | RTLD_LOCAL);
  }
  return loadedImages();
}

void* idle(void*) {
  for (;;)
    ::pause();
  return nullptr;
}

struct WriteArgs {
  tlcrash_log_writer* writer;
  TLCrashPlatform* platform;
  tlcrash_log_writer_images images;
  const char* path;
};

// The crash path's work: open the file, write the report with the calling
// thread as the crashed one, close.
tlcrash_error_t writeReport(tlcrash_async_thread_state* state, void* context) {
  auto* args = static_cast<WriteArgs*>(context);
  const int fd = ::open(args->path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, fd, 0x40000);
  const tlcrash_log_writer_crash_info crash{SIGSEGV, 1, 0, false, 0, nullptr, 0};
  const tlcrash_error_t result =
      tlcrash_log_writer_write(args->writer, tlcrash_async_thread_self(), args->platform->threads(),
                               args->platform->task(), args->images, &file, state, &crash);
  tlcrash_async_file_close(&file);
  return result;
}

void BM_CrashReportVersusFork(benchmark::State& state) {
  for (int i = 1; i < kThreads; ++i) {
    pthread_t thread;
    ::pthread_create(&thread, nullptr, idle, nullptr);
  }
  const int images = loadImages();

  TLCrashPlatform& platform = linuxCrashPlatform();
  if (!platform.armThreads(nullptr)) {
    state.SkipWithError("the thread suspender cannot be armed");
    return;
  }
  platform.refreshImages();
  tlcrash_log_writer writer;
  tlcrash_log_writer_init(&writer, platform, "app.Wendrix", "1", std::nullopt, 0, false);
  char path[] = "/tmp/crash_report_bench.XXXXXX";
  ::close(::mkstemp(path));
  WriteArgs args{&writer, &platform, platform.images(), path};

  constexpr int kRounds = 200;
  for (auto _ : state) {
    Clock::duration writeTime{};
    Clock::duration forkTime{};
    for (int round = 0; round < kRounds; ++round) {
      auto start = Clock::now();
      if (tlcrash_async_thread_state_current(writeReport, &args) != tlcrash_error_t::success) {
        state.SkipWithError("the write failed");
        break;
      }
      writeTime += Clock::now() - start;

      start = Clock::now();
      const pid_t child = ::fork();
      if (child == 0) ::_exit(0);
      int status = 0;
      ::waitpid(child, &status, 0);
      forkTime += Clock::now() - start;
    }
    const double writeUs = std::chrono::duration<double, std::micro>(writeTime).count() / kRounds;
    const double forkUs = std::chrono::duration<double, std::micro>(forkTime).count() / kRounds;
    state.counters["write_us"] = writeUs;
    state.counters["fork_us"] = forkUs;
    state.counters["ratio"] = writeUs / forkUs;
    std::printf("%d threads, %d images: report %.0f us, fork+waitpid %.0f us, ratio %.2f\n",
                kThreads, images, writeUs, forkUs, writeUs / forkUs);
  }
  ::unlink(path);
  tlcrash_log_writer_free(&writer);
}

}  // namespace

BENCHMARK(BM_CrashReportVersusFork)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();

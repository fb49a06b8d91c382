// Real crashes: a child process enables the crash reporter with its cache
// folder in a temporary folder and crashes; the parent decodes the report the
// crash left, checks it and prints it. The crash callback copies the report
// file, so the copy shows what the file held when the callback ran.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashcapture/child_process.h"
#include "crashcapture/decoder/crash_report.h"
#include "crashcapture/formatter/text_formatter.h"
#include "crashcapture/reporter/crash_reporter.h"
#include "support/temp_dir.h"

namespace tlcrash {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr const char* kIdentifier = "com.example/crasher";

Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The crash callback's copy of the report, in the child.
char gCopyFrom[512];
char gCopyTo[512];

void copyReport(siginfo_t*, ucontext_t*, void*) {
  const int from = ::open(gCopyFrom, O_RDONLY);
  const int to = ::open(gCopyTo, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char buffer[4096];
  ssize_t count;
  while (from >= 0 && to >= 0 && (count = ::read(from, buffer, sizeof buffer)) > 0)
    if (::write(to, buffer, static_cast<std::size_t>(count)) != count) break;
  ::close(from);
  ::close(to);
}

// The triggers. Each crashes inside itself (inline assembly, so that no
// sanitizer check stands in the way), and none is inlined, so the first
// frame lies in the function.
__attribute__((noinline)) void nullStore() {
  asm volatile("movl $42, (%0)" : : "r"(static_cast<std::uintptr_t>(0)) : "memory");
}

// A page past the end of an empty file.
__attribute__((noinline)) void busError() {
  const int fd = ::memfd_create("empty", 0);
  auto* page =
      static_cast<volatile char*>(::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  asm volatile("movb $1, (%0)" : : "r"(page) : "memory");
}

__attribute__((noinline)) void divideByZero() {
  asm volatile(
      "xorl %%ecx, %%ecx\n"
      "movl $1, %%eax\n"
      "cltd\n"
      "idivl %%ecx\n"
      :
      :
      : "eax", "ecx", "edx");
}

__attribute__((noinline)) void illegalInstruction() {
  asm volatile("ud2");
}

__attribute__((noinline)) void breakpoint() {
  asm volatile("int3");
}

__attribute__((noinline)) void callAbort() {
  std::abort();
  asm volatile("");
}

__attribute__((noinline)) void throwUncaught() {
  throw std::runtime_error("nobody catches this");
}

// On a thread of its own, so that nothing on its stack catches the exception
// (the test framework would, on the test's thread).
void* throwerMain(void*) {
  throwUncaught();
  return nullptr;
}

void throwUncaughtOnAThread() {
  pthread_t thread;
  ::pthread_create(&thread, nullptr, throwerMain, nullptr);
  ::pthread_join(thread, nullptr);
}

// Two threads that fault at the same moment.
pthread_barrier_t gBarrier;

void* faultTogether(void*) {
  ::pthread_barrier_wait(&gBarrier);
  nullStore();
  return nullptr;
}

void twoCrashesAtOnce() {
  ::pthread_barrier_init(&gBarrier, nullptr, 2);
  pthread_t threads[2];
  for (pthread_t& thread : threads)
    ::pthread_create(&thread, nullptr, faultTogether, nullptr);
  for (pthread_t& thread : threads)
    ::pthread_join(thread, nullptr);
}

__attribute__((noinline)) void recurse(int depth) {
  if (depth == 0)
    nullStore();
  else
    recurse(depth - 1);
  asm volatile("");  // no tail call: every level keeps its frame
}

void recurse600() {
  recurse(600);
}

// Two threads that wait for ever, so the report has others to stop.
void* idle(void*) {
  for (;;)
    ::pause();
  return nullptr;
}

struct Crash {
  const char* what;
  void (*trigger)();
  int signal;
  const char* signalName;
  const char* codeName;
  // The function the first frame lies in; none when it is elsewhere (abort()
  // stops in the C library).
  void (*firstFrameIn)();
  // What the report gives as the fault address.
  enum { zero, firstFrame, nonZero } address;
};

void PrintTo(const Crash& crash, std::ostream* out) {
  *out << crash.what;
}

class CrashTest : public ::testing::TestWithParam<Crash> {
 protected:
  // Runs `trigger` in a child whose reporter is enabled, with two idle
  // threads beside it.
  testing::ChildOutcome crashChild(void (*trigger)()) {
    const std::string cache = (home_.path() / "cache").string();
    const std::string copy = (home_.path() / "callback_copy").string();
    return testing::runInChild([&](int fd) {
      ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
      TLCrashReporter reporter(kIdentifier, "7", "1.0", TLCrashReporterConfig());
      std::strncpy(gCopyFrom, reporter.crashReportPath().c_str(), sizeof gCopyFrom - 1);
      std::strncpy(gCopyTo, copy.c_str(), sizeof gCopyTo - 1);
      reporter.setCrashCallbacks({0, nullptr, copyReport});
      ReporterError error;
      if (!reporter.enableCrashReporter(&error)) {
        testing::childSay(fd, "enable failed: " + error.description());
        return;
      }
      pthread_t thread;
      for (int i = 0; i < 2; ++i)
        ::pthread_create(&thread, nullptr, idle, nullptr);
      trigger();
    });
  }

  std::filesystem::path reportPath() const {
    return home_.path() / "cache/com.zodoradud.crashreporter.data/com.example_crasher" /
           "live_report.tlcrash";
  }

  support::TempDir home_{"crash-test"};
};

bool inFunction(std::uint64_t pc, void (*function)()) {
  const auto start = reinterpret_cast<std::uintptr_t>(function);
  return pc >= start && pc < start + 256;
}

const TLCrashReportThreadInfo* crashedThread(const TLCrashReport& report) {
  for (const auto& thread : report.threads())
    if (thread.crashed()) return &thread;
  return nullptr;
}

TEST_P(CrashTest, TheCrashLeavesAReportThatDecodes) {
  const Crash& crash = GetParam();
  const auto outcome = crashChild(crash.trigger);
  ASSERT_EQ(outcome.signal, crash.signal) << outcome.output;

  const Bytes file = readBytes(reportPath());
  // The callback ran after the file was complete.
  EXPECT_EQ(readBytes(home_.path() / "callback_copy"), file);
  const auto report = TLCrashReport::makeWithData(file);
  ASSERT_TRUE(report.ok()) << report.error().description;

  EXPECT_EQ(report->signalInfo().name(), crash.signalName);
  EXPECT_EQ(report->signalInfo().code(), crash.codeName);
  EXPECT_EQ(report->applicationInfo().applicationIdentifier(), kIdentifier);
  EXPECT_EQ(report->systemInfo().operatingSystem(), TLCrashReportOperatingSystem::LINUX);
  ASSERT_TRUE(report->hasProcessInfo());
  EXPECT_EQ(report->processInfo()->parentProcessID(), static_cast<std::uint64_t>(::getpid()));

  // The crashing thread and the two idle ones, each with frames.
  ASSERT_EQ(report->threads().size(), 3u);
  const TLCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  for (const auto& thread : report->threads())
    EXPECT_FALSE(thread.stackFrames().empty()) << "thread " << thread.threadNumber();

  // Every register of the crashed thread; rip is the first frame.
  ASSERT_EQ(crashed->registers().size(), 21u);
  EXPECT_EQ(crashed->registers()[0].registerName(), "rip");
  EXPECT_EQ(crashed->registers()[2].registerName(), "rsp");
  EXPECT_NE(crashed->registers()[2].registerValue(), 0u);
  const std::uint64_t pc = crashed->stackFrames()[0].instructionPointer();
  EXPECT_EQ(crashed->registers()[0].registerValue(), pc);
  switch (crash.address) {
    case Crash::zero:
      EXPECT_EQ(report->signalInfo().address(), 0u);
      break;
    case Crash::firstFrame:
      EXPECT_EQ(report->signalInfo().address(), pc);
      break;
    case Crash::nonZero:
      EXPECT_NE(report->signalInfo().address(), 0u);
      break;
  }
  if (crash.firstFrameIn != nullptr) {
    EXPECT_TRUE(inFunction(pc, crash.firstFrameIn)) << std::hex << pc;
  } else {
    const auto* image = report->imageForAddress(pc);
    ASSERT_NE(image, nullptr) << std::hex << pc;
    EXPECT_NE(image->imageName().find("libc.so"), std::string::npos) << image->imageName();
    // The C library has no frame pointers: its unwind tables lead out of it
    // into the function that called it.
    bool reachedCaller = false;
    for (const auto& frame : crashed->stackFrames())
      reachedCaller |= inFunction(frame.instructionPointer(), crash.trigger);
    EXPECT_TRUE(reachedCaller);
  }

  // The images: this program (with its build id) and the C library.
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  bool sawSelf = false;
  bool sawLibc = false;
  for (const auto& image : report->images()) {
    if (image.imageName() == self) {
      sawSelf = true;
      EXPECT_TRUE(image.hasImageUUID());
      EXPECT_LE(image.imageBaseAddress(), reinterpret_cast<std::uintptr_t>(crash.trigger));
    }
    sawLibc |= image.imageName().find("libc.so") != std::string::npos;
  }
  EXPECT_TRUE(sawSelf);
  EXPECT_TRUE(sawLibc);

  const std::string text = TLCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
  EXPECT_NE(text.find(std::string("Exception Type:  ") + crash.signalName), std::string::npos)
      << text;
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CrashTest,
    ::testing::Values(
        Crash{"segv", nullStore, SIGSEGV, "SIGSEGV", "SEGV_MAPERR", nullStore, Crash::zero},
        Crash{"bus", busError, SIGBUS, "SIGBUS", "BUS_ADRERR", busError, Crash::nonZero},
        Crash{"fpe", divideByZero, SIGFPE, "SIGFPE", "FPE_INTDIV", divideByZero, Crash::firstFrame},
        Crash{"ill", illegalInstruction, SIGILL, "SIGILL", "ILL_ILLOPN", illegalInstruction,
              Crash::firstFrame},
        // int3 is reported by the kernel as SI_KERNEL, which has no name.
        Crash{"trap", breakpoint, SIGTRAP, "SIGTRAP", "#128", breakpoint, Crash::zero},
        // abort() sends the signal itself (SI_TKILL): no fault address.
        Crash{"abort", callAbort, SIGABRT, "SIGABRT", "#-6", nullptr, Crash::zero}),
    [](const auto& test) { return std::string(test.param.what); });

TEST_F(CrashTest, AnUncaughtExceptionIsReportedWithItsNameReasonAndStack) {
  const auto outcome = crashChild(throwUncaughtOnAThread);
  ASSERT_EQ(outcome.signal, SIGABRT) << outcome.output;
  const auto report = TLCrashReport::makeWithData(readBytes(reportPath()));
  ASSERT_TRUE(report.ok()) << report.error().description;
  EXPECT_EQ(report->signalInfo().name(), "SIGABRT");
  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
  EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "nobody catches this");
  // The throw's frames are on the recorded stack.
  bool sawThrow = false;
  for (const auto& frame : report->exceptionInfo()->stackFrames().value())
    sawThrow |= inFunction(frame.instructionPointer(), throwUncaught);
  EXPECT_TRUE(sawThrow);
  const std::string text = TLCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
  EXPECT_NE(text.find("std::runtime_error"), std::string::npos) << text;
}

// The first crashing thread writes the report; the second waits for the
// process to end instead of writing over it.
TEST_F(CrashTest, TwoThreadsCrashingAtOnceLeaveOneReport) {
  const auto outcome = crashChild(twoCrashesAtOnce);
  ASSERT_EQ(outcome.signal, SIGSEGV) << outcome.output;
  const Bytes file = readBytes(reportPath());
  EXPECT_EQ(readBytes(home_.path() / "callback_copy"), file);
  const auto report = TLCrashReport::makeWithData(file);
  ASSERT_TRUE(report.ok()) << report.error().description;
  int crashed = 0;
  for (const auto& thread : report->threads())
    crashed += thread.crashed() ? 1 : 0;
  EXPECT_EQ(crashed, 1);
  EXPECT_EQ(report->threads().size(), 5u);
}

TEST_F(CrashTest, ADeepRecursionIsCutAt512Frames) {
  const auto outcome = crashChild(recurse600);
  ASSERT_EQ(outcome.signal, SIGSEGV) << outcome.output;
  const auto report = TLCrashReport::makeWithData(readBytes(reportPath()));
  ASSERT_TRUE(report.ok()) << report.error().description;
  const TLCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  ASSERT_EQ(crashed->stackFrames().size(), 512u);
  EXPECT_TRUE(inFunction(crashed->stackFrames()[0].instructionPointer(), nullStore));
  EXPECT_TRUE(inFunction(crashed->stackFrames()[511].instructionPointer(),
                         reinterpret_cast<void (*)()>(recurse)));
}

}  // namespace
}  // namespace tlcrash

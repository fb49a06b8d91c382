// Real crashes: a child process enables the crash reporter with its cache
// folder in a temporary folder and crashes; the parent decodes the report the
// crash left, checks it and prints it. The crash callback copies the report
// file, so the copy shows what the file held when the callback ran. The
// crashed thread's frames are named from this program's own symbol table and
// must hold the crash's known call chain, in order, down to main or the
// thread's start routine.

#include <cxxabi.h>
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashcapture/capture/reporter_setup/linux/linux_crash_platform.h"
#include "crashcapture/capture/reporter_setup/signal_handler.h"
#include "crashcapture/capture/reporter_setup/tlcrash_reporter.h"
#include "crashcapture/child_process.h"
#include "crashcapture/report/decoder/crash_report.h"
#include "crashcapture/report/formatter/text_formatter.h"
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
// The pipe to the parent, and when the first handler saw the signal.
int gParentFd = -1;
timespec gSignalSeen{};

std::int64_t nanosecondsSince(const timespec& start) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
}

// Tells the parent how long the report took, as "report-us=<n>;".
// Async-signal-safe.
void sayReportTime() {
  std::int64_t micros = nanosecondsSince(gSignalSeen) / 1000;
  char digits[24];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + micros % 10);
    micros /= 10;
  } while (micros > 0 && count < sizeof digits);
  char text[48] = "report-us=";
  std::size_t length = std::strlen(text);
  while (count > 0)
    text[length++] = digits[--count];
  text[length++] = ';';
  testing::childSay(gParentFd, std::string_view(text, length));
}

// Registered after the reporter, so it runs first: notes when the signal
// arrived and passes it on.
bool noteSignal(int signo, siginfo_t* info, ucontext_t* uap, void*,
                TLCrashSignalHandlerCallback* next) {
  ::clock_gettime(CLOCK_MONOTONIC, &gSignalSeen);
  return tlcrash_signal_handler_callback_next(next, signo, info, uap);
}

void copyReport(siginfo_t*, ucontext_t*, void*) {
  sayReportTime();
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

__attribute__((noinline)) void trapHere() {
  __builtin_trap();
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

// Callers that keep their frames (no tail call), so that the chain from the
// crash back to the test is known.
#define CALLS(name, callee)               \
  __attribute__((noinline)) void name() { \
    callee();                             \
    asm volatile("" ::: "memory");        \
  }
CALLS(nullWriteChain, nullStore)
CALLS(busErrorChain, busError)
CALLS(divideChain, divideByZero)
CALLS(trapChain, trapHere)
CALLS(breakpointChain, breakpoint)
CALLS(abortChain, callAbort)
#undef CALLS

// Runs `body` on a thread of its own and waits for it; the thread is the one
// that crashes.
void onAThread(void* (*body)(void*)) {
  pthread_t thread;
  ::pthread_create(&thread, nullptr, body, nullptr);
  ::pthread_join(thread, nullptr);
}

// On a thread of its own, so that nothing on its stack catches the exception
// (the test framework would, on the test's thread).
__attribute__((noinline)) void* throwerMain(void*) {
  throwUncaught();
  return nullptr;
}

void throwUncaughtOnAThread() {
  onAThread(throwerMain);
}

__attribute__((noinline)) void* nullWriteThreadMain(void*) {
  nullWriteChain();
  asm volatile("" ::: "memory");
  return nullptr;
}

void nullWriteOnAThread() {
  onAThread(nullWriteThreadMain);
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

// A comparison that crashes inside the C library's qsort. A sanitizer's qsort
// first calls the comparison itself on each neighbouring pair, so the crash
// comes only after those calls: from the C library's sorting either way.
constexpr int kSorted = 16;
int gComparisons = 0;

__attribute__((noinline)) int compareAndCrash(const void* a, const void* b) {
  if (++gComparisons >= kSorted) nullStore();
  asm volatile("" ::: "memory");
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

__attribute__((noinline)) void sortAndCrash() {
  int values[kSorted];
  for (int i = 0; i < kSorted; ++i)
    values[i] = (i * 7) % kSorted;
  std::qsort(values, kSorted, sizeof(int), compareAndCrash);
  asm volatile("" ::: "memory");
}

// Recursion without end (the stack's end stops it): each level keeps a
// frame with some room in it.
volatile bool gRecurse = true;

__attribute__((noinline)) void overflow(int depth) {
  volatile char room[64];
  room[0] = static_cast<char>(depth);
  if (gRecurse) overflow(depth + 1);
  asm volatile("" : : "r"(room) : "memory");
}

void overflowHere() {
  overflow(0);
}

__attribute__((noinline)) void* overflowThreadMain(void*) {
  overflow(0);
  asm volatile("" ::: "memory");
  return nullptr;
}

void overflowOnAThread() {
  onAThread(overflowThreadMain);
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

// This program's function symbols, from its own symbol table, by address
// once loaded.
class SelfSymbols {
 public:
  explicit SelfSymbols(std::uint64_t loadBias) {
    const Bytes file = readBytes("/proc/self/exe");
    if (file.size() < sizeof(Elf64_Ehdr)) return;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (header.e_shoff + sections.size() * sizeof(Elf64_Shdr) > file.size()) return;
    std::memcpy(sections.data(), file.data() + header.e_shoff,
                sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
      if (section.sh_type != SHT_SYMTAB || section.sh_link >= sections.size()) continue;
      const Elf64_Shdr& strings = sections[section.sh_link];
      for (std::uint64_t at = section.sh_offset;
           at + sizeof(Elf64_Sym) <= section.sh_offset + section.sh_size; at += sizeof(Elf64_Sym)) {
        Elf64_Sym symbol;
        std::memcpy(&symbol, file.data() + at, sizeof symbol);
        if (ELF64_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_value == 0 ||
            strings.sh_offset + symbol.st_name >= file.size())
          continue;
        const char* name =
            reinterpret_cast<const char*>(file.data() + strings.sh_offset + symbol.st_name);
        symbols_.push_back({symbol.st_value + loadBias, std::max<std::uint64_t>(symbol.st_size, 1),
                            demangle(name)});
      }
    }
  }

  // The function holding `address`; "" when none does.
  std::string at(std::uint64_t address) const {
    for (const Symbol& symbol : symbols_)
      if (address >= symbol.start && address < symbol.start + symbol.size) return symbol.name;
    return "";
  }

 private:
  struct Symbol {
    std::uint64_t start;
    std::uint64_t size;
    std::string name;
  };
  static std::string demangle(const char* name) {
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && plain != nullptr ? plain : name;
    std::free(plain);
    return result;
  }
  std::vector<Symbol> symbols_;
};

// Whether the function `symbol` names is the test function `name` (or main).
bool names(const std::string& symbol, const std::string& name) {
  if (name == "main") return symbol == "main";
  return symbol.find("::" + name + "(") != std::string::npos;
}

struct Crash {
  const char* what;
  void (*trigger)();
  int signal;
  const char* signalName;
  const char* codeName;
  // The function the first frame lies in (the chain's first); none when it
  // is elsewhere (abort() stops in the C library).
  void (*firstFrameIn)();
  // What the report gives as the fault address.
  enum { zero, firstFrame, nonZero } address;
  // The test's functions on the crashed thread's stack from the crash on,
  // ending with main or the thread's start routine.
  std::vector<const char*> chain;
  // The C library's frames lie between chain[libcAfter] and the next (qsort
  // calling the comparison); -1 for none.
  int libcAfter = -1;
  // Threads in the report: the crashing one and two idle ones, and the one
  // waiting for a crashing thread of its own.
  std::size_t threads = 3;
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
      TLCrashReporter reporter(linuxCrashPlatform(), kIdentifier, "7", "1.0",
                               TLCrashReporterConfig());
      std::strncpy(gCopyFrom, reporter.crashReportPath().c_str(), sizeof gCopyFrom - 1);
      std::strncpy(gCopyTo, copy.c_str(), sizeof gCopyTo - 1);
      gParentFd = fd;
      reporter.setCrashCallbacks({0, nullptr, copyReport});
      ReporterError error;
      if (!reporter.enableCrashReporter(&error)) {
        testing::childSay(fd, "enable failed: " + error.description());
        return;
      }
      for (const int signo : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP})
        TLCrashSignalHandler::sharedHandler()->registerHandlerForSignal(signo, noteSignal, nullptr,
                                                                        &error);
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

bool inLibc(const TLCrashReport& report, std::uint64_t pc) {
  const auto* image = report.imageForAddress(pc);
  return image != nullptr && image->imageName().find("libc.so") != std::string::npos;
}

// The load bias of this program: where its image lies in the report (the
// child is a fork of this process, so the same).
std::uint64_t selfBias(const TLCrashReport& report) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const auto& image : report.images())
    if (image.imageName() == self) return image.imageBaseAddress();
  return 0;
}

// The crashed thread's frames, one line each (for failure messages).
std::string describe(const TLCrashReport& report, const TLCrashReportThreadInfo& thread,
                     const SelfSymbols& symbols) {
  std::string text;
  std::size_t index = 0;
  for (const auto& frame : thread.stackFrames()) {
    const std::uint64_t pc = frame.instructionPointer();
    const auto* image = report.imageForAddress(pc);
    char line[64];
    std::snprintf(line, sizeof line, "%3zu 0x%llx ", index, static_cast<unsigned long long>(pc));
    text += line;
    text += image != nullptr ? image->imageName() : "(no image)";
    text += " " + symbols.at(index == 0 ? pc : pc - 1) + "\n";
    ++index;
  }
  return text;
}

TEST_P(CrashTest, TheCrashLeavesAReportThatDecodes) {
  const Crash& crash = GetParam();
  const auto outcome = crashChild(crash.trigger);
  ASSERT_EQ(outcome.signal, crash.signal) << outcome.output;
  const auto timing = outcome.output.find("report-us=");
  ASSERT_NE(timing, std::string::npos) << outcome.output;
  std::printf("[ report   ] %-14s complete %.1f ms after the signal\n", crash.what,
              std::atof(outcome.output.c_str() + timing + 10) / 1000.0);

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

  ASSERT_EQ(report->threads().size(), crash.threads);
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
  // A crash in the test's own code is checked by name below.
  if (crash.firstFrameIn == nullptr) {
    EXPECT_TRUE(inLibc(*report, pc)) << std::hex << pc;
  }

  // The crashed thread's frames: each in a loaded image, and the chain's
  // functions in order (the first at the first frame when the crash is in
  // it). Frames after the first are named by the byte before their return
  // address, which lies in the call.
  const SelfSymbols symbols(selfBias(*report));
  const auto& frames = crashed->stackFrames();
  SCOPED_TRACE(describe(*report, *crashed, symbols));
  for (const auto& frame : frames)
    EXPECT_NE(report->imageForAddress(frame.instructionPointer()), nullptr)
        << std::hex << frame.instructionPointer();
  std::vector<std::size_t> found;
  std::size_t from = 0;
  for (const char* name : crash.chain) {
    std::size_t index = from;
    while (index < frames.size() &&
           !names(symbols.at(frames[index].instructionPointer() - (index == 0 ? 0 : 1)), name))
      ++index;
    ASSERT_LT(index, frames.size()) << name << " is not on the stack after frame " << from;
    found.push_back(index);
    from = index + 1;
  }
  if (crash.firstFrameIn != nullptr) {
    EXPECT_EQ(found[0], 0u);
  }
  if (crash.libcAfter >= 0) {
    const auto after = static_cast<std::size_t>(crash.libcAfter);
    bool sawLibc = false;
    for (std::size_t i = found[after] + 1; i < found[after + 1]; ++i)
      sawLibc |= inLibc(*report, frames[i].instructionPointer());
    EXPECT_TRUE(sawLibc);
  }
  // A thread's start routine is called from the C library's thread start.
  if (std::string(crash.chain.back()) != "main") {
    EXPECT_TRUE(inLibc(*report, frames.back().instructionPointer()));
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
    ::testing::Values(Crash{"null_write",
                            nullWriteChain,
                            SIGSEGV,
                            "SIGSEGV",
                            "SEGV_MAPERR",
                            nullStore,
                            Crash::zero,
                            {"nullStore", "nullWriteChain", "main"}},
                      Crash{"bus",
                            busErrorChain,
                            SIGBUS,
                            "SIGBUS",
                            "BUS_ADRERR",
                            busError,
                            Crash::nonZero,
                            {"busError", "busErrorChain", "main"}},
                      Crash{"divide_by_zero",
                            divideChain,
                            SIGFPE,
                            "SIGFPE",
                            "FPE_INTDIV",
                            divideByZero,
                            Crash::firstFrame,
                            {"divideByZero", "divideChain", "main"}},
                      Crash{"builtin_trap",
                            trapChain,
                            SIGILL,
                            "SIGILL",
                            "ILL_ILLOPN",
                            trapHere,
                            Crash::firstFrame,
                            {"trapHere", "trapChain", "main"}},
                      // int3 is reported by the kernel as SI_KERNEL, which has no name.
                      Crash{"breakpoint",
                            breakpointChain,
                            SIGTRAP,
                            "SIGTRAP",
                            "#128",
                            breakpoint,
                            Crash::zero,
                            {"breakpoint", "breakpointChain", "main"}},
                      // abort() sends the signal itself (SI_TKILL): no fault address.
                      Crash{"abort",
                            abortChain,
                            SIGABRT,
                            "SIGABRT",
                            "#-6",
                            nullptr,
                            Crash::zero,
                            {"callAbort", "abortChain", "main"}},
                      Crash{"exception",
                            throwUncaughtOnAThread,
                            SIGABRT,
                            "SIGABRT",
                            "#-6",
                            nullptr,
                            Crash::zero,
                            {"throwUncaught", "throwerMain"},
                            -1,
                            4},
                      Crash{"thread",
                            nullWriteOnAThread,
                            SIGSEGV,
                            "SIGSEGV",
                            "SEGV_MAPERR",
                            nullStore,
                            Crash::zero,
                            {"nullStore", "nullWriteChain", "nullWriteThreadMain"},
                            -1,
                            4},
                      Crash{"qsort_callback",
                            sortAndCrash,
                            SIGSEGV,
                            "SIGSEGV",
                            "SEGV_MAPERR",
                            nullStore,
                            Crash::zero,
                            {"nullStore", "compareAndCrash", "sortAndCrash", "main"},
                            1},
                      Crash{"overflow_main",
                            overflowHere,
                            SIGSEGV,
                            "SIGSEGV",
                            "SEGV_MAPERR",
                            reinterpret_cast<void (*)()>(overflow),
                            Crash::nonZero,
                            {"overflow", "main"}},
                      // A thread's stack ends in a guard page that is mapped but closed.
                      Crash{"overflow_thread",
                            overflowOnAThread,
                            SIGSEGV,
                            "SIGSEGV",
                            "SEGV_ACCERR",
                            reinterpret_cast<void (*)()>(overflow),
                            Crash::nonZero,
                            {"overflow", "overflowThreadMain"},
                            -1,
                            4}),
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

// Past 512 frames the report keeps the innermost ones and the outermost few,
// so main is still there.
TEST_F(CrashTest, ADeepRecursionKeepsItsInnermostAndOutermostFrames) {
  const auto outcome = crashChild(recurse600);
  ASSERT_EQ(outcome.signal, SIGSEGV) << outcome.output;
  const auto report = TLCrashReport::makeWithData(readBytes(reportPath()));
  ASSERT_TRUE(report.ok()) << report.error().description;
  const TLCrashReportThreadInfo* crashed = crashedThread(*report);
  ASSERT_NE(crashed, nullptr);
  const auto& frames = crashed->stackFrames();
  ASSERT_EQ(frames.size(), 512u);
  const SelfSymbols symbols(selfBias(*report));
  SCOPED_TRACE(describe(*report, *crashed, symbols));
  EXPECT_TRUE(names(symbols.at(frames[0].instructionPointer()), "nullStore"));
  for (std::size_t i = 1; i < 496; ++i)
    EXPECT_TRUE(names(symbols.at(frames[i].instructionPointer() - 1), "recurse")) << i;
  bool sawMain = false;
  for (std::size_t i = 496; i < 512; ++i)
    sawMain |= names(symbols.at(frames[i].instructionPointer() - 1), "main");
  EXPECT_TRUE(sawMain);
}

}  // namespace
}  // namespace tlcrash

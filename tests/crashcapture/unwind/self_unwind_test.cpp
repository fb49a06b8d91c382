// Real frames of this process: a frame-pointer walk of the test's own stack
// (the project builds with frame pointers), and, in a child process that maps
// the executable Mach-O fixture at its linked address, a walk from a signal
// raised inside the fixture's call chain through compact unwind and DWARF
// back to the Linux code that called it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ucontext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_macho.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/platform/macho_format.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_capture.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/core/ucontext_state.h"
#include "crashcapture/readers/dwarf/dwarf_reader.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/linux/image_list_refresh.h"
#include "crashcapture/readers/unwind/compact_unwind.h"
#include "crashcapture/readers/unwind/frame_cursor.h"
#include "crashcapture/readers/unwind/frame_ptr.h"

#if defined(__x86_64__)

// The callback the fixture's chain calls last: a leaf without a frame that
// stops at a breakpoint, then answers n + 1.
extern "C" {
long tlcrash_test_fixture_callback(long n);
extern char tlcrash_test_fixture_callback_end[];
}
asm(R"(
  .text
  .p2align 4
  .globl tlcrash_test_fixture_callback
  .type tlcrash_test_fixture_callback, @function
tlcrash_test_fixture_callback:
  .cfi_startproc
  int3
  leaq 1(%rdi), %rax
  ret
  .cfi_endproc
  .globl tlcrash_test_fixture_callback_end
tlcrash_test_fixture_callback_end:
  .size tlcrash_test_fixture_callback, .-tlcrash_test_fixture_callback
)");

namespace tlcrash {
namespace {

using Error = tlcrash_async_frame_error_t;

// ---- Frame pointers ------------------------------------------------------

constexpr int kLevels = 4;
std::uint64_t gReturnAddresses[kLevels] = {};
std::uint64_t gWalked[16] = {};
std::size_t gWalkedCount = 0;
Error gWalkEnd = Error::success;

tlcrash_error_t walkByFramePointers(tlcrash_async_thread_state* state, void*) {
  const SelfTask task;
  tlcrash_async_frame_cursor cursor;
  tlcrash_async_frame_cursor_init(&cursor, task, state, nullptr);
  const tlcrash_async_frame_reader_t readers[] = {tlcrash_async_frame_read_frame_ptr};
  gWalkedCount = 0;
  while (gWalkedCount < std::size(gWalked) &&
         (gWalkEnd = tlcrash_async_frame_cursor_next_with_readers(&cursor, readers, 1)) ==
             Error::success) {
    tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_IP, &gWalked[gWalkedCount++]);
  }
  return tlcrash_error_t::success;
}

// level(n) calls level(n - 1) down to 0, which walks the stack; each keeps
// its own return address.
__attribute__((noinline)) void level(int n) {
  gReturnAddresses[n] = reinterpret_cast<std::uint64_t>(__builtin_return_address(0));
  if (n == 0) {
    tlcrash_async_thread_state_current(walkByFramePointers, nullptr);
  } else {
    level(n - 1);
  }
  asm volatile("" ::: "memory");
}

TEST(SelfUnwindTest, AFramePointerWalkGivesTheCallerChain) {
  level(kLevels - 1);
  // Frame 0 is level(0) at its call of the capture; then the return address
  // of each level into its caller: level(1) ... level(3), then this test.
  ASSERT_GE(gWalkedCount, 1u + kLevels) << static_cast<int>(gWalkEnd);
  const auto start = reinterpret_cast<std::uint64_t>(&level);
  EXPECT_GT(gWalked[0], start);
  EXPECT_LT(gWalked[0], start + 512);
  for (int i = 0; i < kLevels; ++i)
    EXPECT_EQ(gWalked[1 + i], gReturnAddresses[i]) << i;
  // The walk goes on through gtest's frames and ends cleanly.
  EXPECT_GT(gWalkedCount, 1u + kLevels);
  EXPECT_TRUE(gWalkEnd == Error::noFrames || gWalkEnd == Error::badFrame ||
              gWalkedCount == std::size(gWalked))
      << static_cast<int>(gWalkEnd);
}

// ---- The Mach-O fixture, run in a child ------------------------------------

const std::string kFixtures = TLCRASH_MACHO_FIXTURES;
constexpr std::uint64_t kLinkedAddress = 0x100000000;
constexpr std::uint64_t kEntry = 0x100000450;  // _entry, from the symbol dump

// Maps the segments of the executable fixture at their linked addresses, as
// the loader would. 1 when done, 0 when some address is taken, -1 on error.
int mapFixture(const std::string& path) {
  const std::vector<std::uint8_t> file = readFileBytes(path);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || file.size() < 32) return -1;
  std::uint32_t ncmds = 0;
  std::memcpy(&ncmds, file.data() + 16, 4);
  std::size_t at = 32;
  const long page = ::sysconf(_SC_PAGESIZE);
  int result = 1;
  for (std::uint32_t i = 0; i < ncmds && at + 8 <= file.size() && result == 1; ++i) {
    std::uint32_t cmd = 0, cmdsize = 0;
    std::memcpy(&cmd, file.data() + at, 4);
    std::memcpy(&cmdsize, file.data() + at + 4, 4);
    if (cmd == macho::LC_SEGMENT_64 && at + 72 <= file.size()) {
      std::uint64_t vmaddr = 0, vmsize = 0, fileoff = 0;
      std::int32_t initprot = 0;
      std::memcpy(&vmaddr, file.data() + at + 24, 8);
      std::memcpy(&vmsize, file.data() + at + 32, 8);
      std::memcpy(&fileoff, file.data() + at + 40, 8);
      std::memcpy(&initprot, file.data() + at + 60, 4);
      if (initprot != 0) {  // not __PAGEZERO
        const std::size_t length = (vmsize + page - 1) / page * page;
        void* want = reinterpret_cast<void*>(vmaddr);
        void* got = ::mmap(want, length, initprot & 7, MAP_PRIVATE | MAP_FIXED_NOREPLACE, fd,
                           static_cast<off_t>(fileoff));
        if (got == MAP_FAILED) {
          result = errno == EEXIST ? 0 : -1;
        } else if (got != want) {  // a kernel without MAP_FIXED_NOREPLACE
          ::munmap(got, length);
          result = 0;
        }
      }
    }
    at += cmdsize == 0 ? file.size() : cmdsize;
  }
  ::close(fd);
  return result;
}

// The callback's own frame holds nothing but the return address: a reader
// for it alone stands in for the unwind data of the Linux image, which the
// image list does not know.
Error readCallbackFrame(const Task& task, tlcrash_async_image_list*,
                        const tlcrash_async_thread_state* current,
                        const tlcrash_async_thread_state*, tlcrash_async_thread_state* next) {
  const std::uint64_t ip = tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_IP);
  if (ip < reinterpret_cast<std::uint64_t>(&tlcrash_test_fixture_callback) ||
      ip >= reinterpret_cast<std::uint64_t>(tlcrash_test_fixture_callback_end))
    return Error::notSupported;
  const std::uint64_t sp = tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_SP);
  std::uint64_t returnAddress = 0;
  if (tlcrash_async_task_read_uint64(task, tlcrash_async_byteorder_direct(), sp, 0,
                                     &returnAddress) != tlcrash_error_t::success)
    return Error::badFrame;
  tlcrash_async_thread_state_copy(next, current);
  tlcrash_async_thread_state_clear_volatile_regs(next);
  tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_SP, sp + 8);
  tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_IP, returnAddress);
  return Error::success;
}

struct ChildWalk {
  const SelfTask* task = nullptr;
  tlcrash_async_image_list* list = nullptr;
  std::uint64_t ips[24] = {};
  std::uint64_t fps[24] = {};
  std::size_t count = 0;
  Error end = Error::success;
};
ChildWalk gChild;

// At the breakpoint: the registers of the signal context, walked with the
// cursor's readers plus the callback's.
void walkFromBreakpoint(int, siginfo_t*, void* context) {
  tlcrash_async_thread_state state;
  tlcrash_async_thread_state_ucontext_init(&state, static_cast<ucontext_t*>(context));
  tlcrash_async_frame_cursor cursor;
  tlcrash_async_frame_cursor_init(&cursor, *gChild.task, &state, gChild.list);
  const tlcrash_async_frame_reader_t readers[] = {
      tlcrash_async_frame_read_compact_unwind, tlcrash_async_frame_read_dwarf_unwind,
      readCallbackFrame, tlcrash_async_frame_read_frame_ptr};
  while (gChild.count < std::size(gChild.ips) &&
         (gChild.end = tlcrash_async_frame_cursor_next_with_readers(&cursor, readers, 4)) ==
             Error::success) {
    tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_IP, &gChild.ips[gChild.count]);
    tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_FP, &gChild.fps[gChild.count]);
    ++gChild.count;
  }
  tlcrash_async_frame_cursor_free(&cursor);
}

std::uint64_t gCallerFrame = 0;

// The Linux caller of the fixture's entry point.
__attribute__((noinline)) long callFixture() {
  gCallerFrame = reinterpret_cast<std::uint64_t>(__builtin_frame_address(0));
  using EntryFunction = long (*)(long, long (*)(long));
  const auto entry = reinterpret_cast<EntryFunction>(kEntry);
  const long result = entry(5, tlcrash_test_fixture_callback);
  asm volatile("" ::: "memory");
  return result;
}

// The child's part: writes "skip", or the frames' instruction and frame
// pointers and the walk's end, to `out`.
void runChild(int out) {
  std::string text;
  const int mapped = mapFixture(kFixtures + "/unwind_x86_64");
  if (mapped <= 0) {
    text = mapped == 0 ? "skip" : "error mapping the fixture";
  } else {
    const SelfTask task;
    tlcrash_async_image_list list{};
    tlcrash_async_image_list_init(&list, task);
    // The fixture, and this program's own images for the frames below it.
    if (tlcrash_async_image_list_append(&list, kLinkedAddress, "unwind_x86_64") !=
            tlcrash_error_t::success ||
        tlcrash_async_image_list_refresh_elf(&list) != tlcrash_error_t::success)
      text = "error appending the images";
    gChild.task = &task;
    gChild.list = &list;
    struct sigaction action = {};
    action.sa_sigaction = walkFromBreakpoint;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGTRAP, &action, nullptr);
    const long result = callFixture();
    text += "result " + std::to_string(result) + "\ncaller " + std::to_string(gCallerFrame) +
            "\nend " + std::to_string(static_cast<int>(gChild.end)) + "\n";
    for (std::size_t i = 0; i < gChild.count; ++i)
      text += std::to_string(gChild.ips[i]) + " " + std::to_string(gChild.fps[i]) + "\n";
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(out, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

TEST(SelfUnwindTest, UnwindsOutOfTheMachOFixtureToItsLinuxCaller) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::close(pipeFds[0]);
    runChild(pipeFds[1]);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (text == "skip") GTEST_SKIP() << "0x100000000 is taken in this process";

  std::istringstream in(text);
  std::string word;
  long result = 0;
  std::uint64_t callerFrame = 0;
  int end = 0;
  in >> word >> result >> word >> callerFrame >> word >> end;
  ASSERT_TRUE(in) << text;
  std::vector<std::uint64_t> ips, fps;
  std::uint64_t ip = 0, fp = 0;
  while (in >> ip >> fp) {
    ips.push_back(ip);
    fps.push_back(fp);
  }
  // The chain returned normally after the walk: framed_outer(5 + 7) in the
  // same C as the fixture, with the callback's n + 1 at its bottom.
  EXPECT_NE(result, 0);

  const auto callback = reinterpret_cast<std::uint64_t>(&tlcrash_test_fixture_callback);
  const std::vector<std::uint64_t> fixtureFrames = {
      0x10000054e,  // _dwarf_rbx_cfa, from the callback's frame
      0x10000050c,  // _dwarf_r11, by DWARF
      0x1000004aa,  // _big_frame, by DWARF
      0x1000004e8,  // _leaf_frameless, by mode 3
      0x10000041d,  // _framed_outer, by mode 2
      0x100000460,  // _entry, by mode 1
  };
  ASSERT_GE(ips.size(), 2 + fixtureFrames.size()) << text;
  EXPECT_EQ(ips[0], callback + 1);  // just after the breakpoint
  for (std::size_t i = 0; i < fixtureFrames.size(); ++i)
    EXPECT_EQ(ips[1 + i], fixtureFrames[i]) << i;
  // entry's mode-1 frame returns into callFixture with its frame pointer.
  const auto caller = reinterpret_cast<std::uint64_t>(&callFixture);
  const std::size_t callerIndex = 1 + fixtureFrames.size();
  EXPECT_GT(ips[callerIndex], caller);
  EXPECT_LT(ips[callerIndex], caller + 512);
  EXPECT_EQ(fps[callerIndex], callerFrame);
  // From there the frame-pointer chain goes on into this test's callers.
  EXPECT_GT(ips.size(), callerIndex + 1);
}

}  // namespace
}  // namespace tlcrash

#endif  // __x86_64__

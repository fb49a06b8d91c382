// A real stack of this process walked by DWARF alone, through the .eh_frame
// of the test program and of libc: a comparison callback that libc's qsort
// calls walks its own stack (from the current-thread capture, from a signal's
// context, and from a capture inside the signal handler, across the signal's
// return trampoline) back through libc's sorting frames into the test
// function that called qsort. libc's frames are named from its .dynsym.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ucontext.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crashcapture/error_printer.h"
#include "crashcapture/platform/linux/self_task.h"
#include "crashcapture/readers/core/elf_image.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/thread_capture.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/core/ucontext_state.h"
#include "crashcapture/readers/dwarf/dwarf_reader.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/linux/image_list_refresh.h"
#include "crashcapture/readers/image/symbol_lookup.h"
#include "crashcapture/readers/unwind/frame_cursor.h"

#if defined(__x86_64__)

namespace tlcrash {
namespace {

using Error = tlcrash_async_frame_error_t;

constexpr std::size_t kMaxFrames = 64;

// Where a walk starts: at the registers the current-thread capture takes in
// the callback; at a signal's context (raised in the callback); or at the
// capture inside the signal handler, so that the walk also passes the
// signal's return trampoline.
enum class Start { capture, signalContext, captureInHandler };

struct Walk {
  const Task* task = nullptr;
  tlcrash_async_image_list* list = nullptr;
  Start start = Start::capture;
  // Stop at the caller of qsort rather than at the thread's first frame.
  bool stopAtCaller = false;
  std::uint64_t ips[kMaxFrames] = {};
  std::size_t count = 0;
  Error end = Error::success;
};

Walk* gWalk = nullptr;

bool inFunction(std::uint64_t ip, const void* function, std::uint64_t size) {
  const auto start = reinterpret_cast<std::uint64_t>(function);
  return ip > start && ip < start + size;
}

void sortWithWalk();

// Walks from `state` with the DWARF reader only.
void walkFrom(const tlcrash_async_thread_state* state) {
  Walk& walk = *gWalk;
  tlcrash_async_frame_cursor cursor;
  tlcrash_async_frame_cursor_init(&cursor, *walk.task, state, walk.list);
  const tlcrash_async_frame_reader_t readers[] = {tlcrash_async_frame_read_dwarf_unwind};
  while (walk.count < kMaxFrames && (walk.end = tlcrash_async_frame_cursor_next_with_readers(
                                         &cursor, readers, 1)) == Error::success)
    tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_IP, &walk.ips[walk.count++]);
  tlcrash_async_frame_cursor_free(&cursor);
}

tlcrash_error_t walkCaptured(tlcrash_async_thread_state* state, void*) {
  walkFrom(state);
  return tlcrash_error_t::success;
}

void walkInHandler(int, siginfo_t*, void* context) {
  if (gWalk->start == Start::captureInHandler) {
    tlcrash_async_thread_state_current(walkCaptured, nullptr);
    asm volatile("" ::: "memory");  // no tail call: the walk starts in this handler
    return;
  }
  tlcrash_async_thread_state state;
  tlcrash_async_thread_state_ucontext_init(&state, static_cast<ucontext_t*>(context));
  walkFrom(&state);
}

// The comparison qsort calls: each call walks the stack, and the last walk
// is kept. (A sanitizer's qsort calls the comparison itself before handing
// over to libc's, so only the last call surely comes from libc's sorting.)
__attribute__((noinline)) int compareAndWalk(const void* a, const void* b) {
  gWalk->count = 0;
  if (gWalk->start != Start::capture) {
    ::raise(SIGUSR1);
  } else {
    tlcrash_async_thread_state_current(walkCaptured, nullptr);
  }
  asm volatile("" ::: "memory");
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

__attribute__((noinline)) void sortWithWalk() {
  int values[] = {2, 1};
  std::qsort(values, 2, sizeof(int), compareAndWalk);
  asm volatile("" ::: "memory");
  EXPECT_EQ(values[0], 1);
}

struct Frame {
  std::uint64_t ip;
  std::string image;
  std::string symbol;  // from the image's .dynsym, "" when none names it
};

void rememberName(tlcrash_vm_address_t, const char* name, void* context) {
  *static_cast<std::string*>(context) = name;
}

class ElfUnwindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tlcrash_async_image_list_init(&list_, task_), tlcrash_error_t::success);
    ASSERT_EQ(tlcrash_async_image_list_refresh_elf(&list_), tlcrash_error_t::success);
  }
  void TearDown() override { tlcrash_async_image_list_free(&list_); }

  // The frames a walk from inside qsort's callback found, with their images
  // and symbols, and how the walk ended.
  std::vector<Frame> walk(Start start, bool stopAtCaller, Error* end) {
    Walk state;
    state.task = &task_;
    state.list = &list_;
    state.start = start;
    state.stopAtCaller = stopAtCaller;
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_sigaction = walkInHandler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &previous);
    gWalk = &state;
    sortWithWalk();
    gWalk = nullptr;
    ::sigaction(SIGUSR1, &previous, nullptr);
    *end = state.end;

    std::vector<Frame> frames;
    tlcrash_async_image_list_set_reading(&list_, true);
    for (std::size_t i = 0; i < state.count; ++i) {
      Frame frame{state.ips[i], "", ""};
      if (const tlcrash_async_image* image =
              tlcrash_async_image_list_image_for_address(&list_, frame.ip)) {
        frame.image = tlcrash_async_image_name(image);
        (void)tlcrash_async_find_image_symbol(image, TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE,
                                              nullptr, frame.ip, rememberName, &frame.symbol);
      }
      frames.push_back(frame);
    }
    tlcrash_async_image_list_set_reading(&list_, false);
    return frames;
  }

  // Gives libc an .eh_frame_hdr whose search table is in an encoding the
  // reader does not read (pc-relative), so that it searches libc's .eh_frame
  // from the start.
  void hideLibcSearchTable() {
    tlcrash_async_image_list_set_reading(&list_, true);
    for (tlcrash_async_image* image = tlcrash_async_image_list_next(&list_, nullptr);
         image != nullptr; image = tlcrash_async_image_list_next(&list_, image))
      if (image->format == tlcrash_async_image_format::elf &&
          std::string(tlcrash_async_image_name(image)).find("/libc.so") != std::string::npos) {
        const tlcrash_vm_address_t ehFrame = tlcrash_async_elf_eh_frame(&image->elf);
        ASSERT_NE(ehFrame, 0u);
        // Version 1, .eh_frame as an absolute 8-byte pointer, a 4-byte
        // count of none, a pc-relative table.
        const std::uint8_t header[4] = {1, 0x04, 0x03, 0x1b};
        const std::uint32_t count = 0;
        std::memcpy(unreadTable_, header, sizeof header);
        std::memcpy(unreadTable_ + 4, &ehFrame, sizeof ehFrame);
        std::memcpy(unreadTable_ + 12, &count, sizeof count);
        image->elf.eh_frame_hdr = reinterpret_cast<tlcrash_vm_address_t>(unreadTable_);
        image->elf.eh_frame_hdr_size = sizeof unreadTable_;
      }
    tlcrash_async_image_list_set_reading(&list_, false);
  }

  SelfTask task_;
  tlcrash_async_image_list list_{};
  alignas(8) std::uint8_t unreadTable_[16] = {};
};

std::string describe(const std::vector<Frame>& frames) {
  std::string text;
  for (const Frame& frame : frames)
    text += std::to_string(frame.ip) + " " + frame.image + " " + frame.symbol + "\n";
  return text;
}

bool isLibc(const Frame& frame) {
  return frame.image.find("/libc.so") != std::string::npos;
}

// Checks a walk from the callback: it reaches sortWithWalk through libc's
// frames, named from .dynsym; answers the frames up to sortWithWalk.
std::vector<std::uint64_t> checkWalkThroughQsort(const std::vector<Frame>& frames, Start start) {
  SCOPED_TRACE(describe(frames));
  std::size_t callback = frames.size();
  std::size_t caller = frames.size();
  // A capture in the handler starts in the handler, which may lie close
  // after the callback: the callback's frame is looked for after it.
  const std::size_t first = start == Start::captureInHandler ? 1 : 0;
  for (std::size_t i = first; i < frames.size() && caller == frames.size(); ++i) {
    if (callback == frames.size() &&
        inFunction(frames[i].ip, reinterpret_cast<const void*>(&compareAndWalk), 512))
      callback = i;
    if (inFunction(frames[i].ip, reinterpret_cast<const void*>(&sortWithWalk), 512)) caller = i;
  }
  EXPECT_LT(caller, frames.size()) << "the walk did not reach the caller of qsort";
  EXPECT_LT(callback, caller);
  if (caller == frames.size() || callback >= caller) return {};
  // The capture starts in the callback itself; a signal's walk reaches it
  // from libc's raise.
  if (start == Start::capture) {
    EXPECT_EQ(callback, 0u);
  } else {
    EXPECT_GT(callback, 0u);
    if (callback > 0) {
      EXPECT_TRUE(isLibc(frames[callback - 1])) << frames[callback - 1].image;
    }
  }
  if (start == Start::signalContext) {
    EXPECT_TRUE(isLibc(frames[0])) << frames[0].image;
  }
  if (start == Start::captureInHandler) {
    EXPECT_TRUE(inFunction(frames[0].ip, reinterpret_cast<const void*>(&walkInHandler), 512));
  }

  // Between the callback and qsort's caller: libc's sorting frames; those in
  // exported functions are named by .dynsym (its internal ones are not), and
  // the last of them is qsort's (qsort itself hands over to qsort_r).
  std::size_t libcFrames = 0;
  std::string lastLibcSymbol;
  for (std::size_t i = callback + 1; i < caller; ++i) {
    if (!isLibc(frames[i])) continue;
    ++libcFrames;
    lastLibcSymbol = frames[i].symbol;
  }
  EXPECT_GE(libcFrames, 1u);
  EXPECT_EQ(lastLibcSymbol.rfind("qsort", 0), 0u) << lastLibcSymbol;
  // The test program's own frames are in its image.
  EXPECT_TRUE(frames[caller].image.find("test_crashcapture_unwind") != std::string::npos)
      << frames[caller].image;

  std::vector<std::uint64_t> ips;
  for (std::size_t i = 0; i <= caller; ++i)
    ips.push_back(frames[i].ip);
  return ips;
}

TEST_F(ElfUnwindTest, DwarfWalksFromAQsortCallbackBackToItsCaller) {
  const struct {
    Start start;
    const char* name;
  } starts[] = {{Start::capture, "from the current-thread capture"},
                {Start::signalContext, "from a signal's context"},
                {Start::captureInHandler, "from a capture in the signal handler"}};
  for (const auto& [start, name] : starts) {
    SCOPED_TRACE(name);
    Error end = Error::success;
    const std::vector<Frame> frames = walk(start, false, &end);
    checkWalkThroughQsort(frames, start);
    // The walk goes on past the test function to the thread's first frame,
    // whose return address the call-frame information marks undefined.
    EXPECT_EQ(end, Error::noFrames);
  }
}

TEST_F(ElfUnwindTest, WithoutTheSearchTableLibcsEhFrameIsSearchedFromItsStart) {
  Error end = Error::success;
  const std::vector<std::uint64_t> indexed =
      checkWalkThroughQsort(walk(Start::capture, true, &end), Start::capture);
  ASSERT_FALSE(indexed.empty());
  hideLibcSearchTable();
  const std::vector<std::uint64_t> scanned =
      checkWalkThroughQsort(walk(Start::capture, true, &end), Start::capture);
  // The same frames up to qsort's caller.
  EXPECT_EQ(scanned, indexed);
}

}  // namespace
}  // namespace tlcrash

#endif  // __x86_64__

// The frame cursor and the frame-pointer reader over synthetic stacks in a
// fake task, for both register layouts.

#include "crashcapture/readers/unwind/frame_cursor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "crashcapture/dwarf/cfi_builder.h"
#include "crashcapture/error_printer.h"
#include "crashcapture/platform/fake/fake_task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/unwind/frame_ptr.h"

namespace tlcrash {
namespace {

using Error = tlcrash_async_frame_error_t;

struct Arch {
  cpu_type_t cpu;
  std::size_t width;
};
constexpr Arch kArchs[] = {{CPU_TYPE_X86_64, 8}, {CPU_TYPE_X86, 4}};

// A stack of frame records [saved frame pointer, return address], one word
// each in the layout's width, at `base` upwards.
struct Stack {
  testing::Bytes bytes;
  std::size_t width;
  Stack& frame(std::uint64_t savedFp, std::uint64_t returnAddress) {
    word(savedFp);
    return word(returnAddress);
  }
  Stack& word(std::uint64_t value) {
    if (width == 8) {
      bytes.u64(value);
    } else {
      bytes.u32(value);
    }
    return *this;
  }
};

tlcrash_async_thread_state startState(cpu_type_t cpu, std::uint64_t ip, std::uint64_t fp) {
  tlcrash_async_thread_state state{};
  tlcrash_async_thread_state_init(&state, cpu);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_IP, ip);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_FP, fp);
  tlcrash_async_thread_state_set_reg(&state, TLCRASH_REG_SP, fp - 0x20);
  tlcrash_async_thread_state_set_reg(&state, 3, 0xAAAA);  // rax / eax
  return state;
}

std::uint64_t ipOf(const tlcrash_async_frame_cursor& cursor) {
  std::uint64_t ip = 0;
  EXPECT_EQ(tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_IP, &ip), Error::success);
  return ip;
}

TEST(FrameCursorTest, WalksAFramePointerChainToItsEnd) {
  // The chain ends at a return address in the first page, then at a frame
  // pointer of 0.
  struct Case {
    const char* name;
    std::uint64_t lastReturnAddress;
    std::uint64_t lastSavedFp;
  };
  for (const Arch& arch : kArchs) {
    for (const Case& c :
         {Case{"return address 4096", 4096, 0x9000}, Case{"return address 0", 0, 0x9000},
          Case{"frame pointer 0", 0x5555, 0}}) {
      SCOPED_TRACE(::testing::Message() << arch.cpu << " " << c.name);
      const std::uint64_t base = 0x8000;
      const std::uint64_t w = arch.width;
      Stack stack{{}, w};
      stack.frame(base + 4 * w, 0x2222).word(0).word(0);  // frame 1 at base
      stack.frame(base + 8 * w, 0x3333).word(0).word(0);  // frame 2 at base + 4w
      stack.frame(c.lastSavedFp, c.lastReturnAddress);    // frame 3 at base + 8w
      FakeTask task;
      ASSERT_TRUE(task.map(base, stack.bytes.data()));

      const tlcrash_async_thread_state start = startState(arch.cpu, 0x1111, base);
      tlcrash_async_frame_cursor cursor;
      tlcrash_async_frame_cursor_init(&cursor, task, &start, nullptr);

      // The first frame is the starting state, untouched.
      ASSERT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::success);
      EXPECT_EQ(std::memcmp(&cursor.frame, &start, sizeof start), 0);
      std::uint64_t value = 0;
      EXPECT_EQ(tlcrash_async_frame_cursor_get_reg(&cursor, 3, &value), Error::success);
      EXPECT_EQ(value, 0xAAAAu);

      std::vector<std::uint64_t> ips = {ipOf(cursor)};
      Error error = Error::success;
      while ((error = tlcrash_async_frame_cursor_next(&cursor)) == Error::success) {
        ips.push_back(ipOf(cursor));
        // Frames from the frame-pointer chain know only their instruction and
        // frame pointers.
        EXPECT_EQ(tlcrash_async_frame_cursor_get_reg(&cursor, TLCRASH_REG_SP, &value),
                  Error::notSupported);
        EXPECT_EQ(tlcrash_async_frame_cursor_get_reg(&cursor, 3, &value), Error::notSupported);
      }
      if (c.lastSavedFp == 0) {
        EXPECT_EQ(ips, (std::vector<std::uint64_t>{0x1111, 0x2222, 0x3333, 0x5555}));
      } else {
        EXPECT_EQ(ips, (std::vector<std::uint64_t>{0x1111, 0x2222, 0x3333}));
      }
      EXPECT_EQ(error, Error::noFrames);
      EXPECT_EQ(cursor.depth, ips.size());
      // A failed step changes nothing: the same answer again.
      EXPECT_EQ(ipOf(cursor), ips.back());
      EXPECT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::noFrames);
      tlcrash_async_frame_cursor_free(&cursor);
    }
  }
}

TEST(FrameCursorTest, AChainThatTurnsBackOrLeavesMemoryIsCorrupted) {
  for (const Arch& arch : kArchs) {
    SCOPED_TRACE(arch.cpu);
    const std::uint64_t base = 0x8000;
    const std::uint64_t w = arch.width;
    Stack stack{{}, w};
    stack.frame(base + 4 * w, 0x2222).word(0).word(0);
    stack.frame(base, 0x3333);  // points back below itself
    FakeTask task;
    ASSERT_TRUE(task.map(base, stack.bytes.data()));
    tlcrash_async_thread_state start = startState(arch.cpu, 0x1111, base);
    tlcrash_async_frame_cursor cursor;
    tlcrash_async_frame_cursor_init(&cursor, task, &start, nullptr);
    ASSERT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::success);
    ASSERT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::success);
    ASSERT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::success);
    EXPECT_EQ(ipOf(cursor), 0x3333u);
    EXPECT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::badFrame);
    EXPECT_EQ(ipOf(cursor), 0x3333u);

    // An unreadable frame record, and a frame without a frame pointer.
    start = startState(arch.cpu, 0x1111, 0x20000);
    tlcrash_async_frame_cursor_init(&cursor, task, &start, nullptr);
    tlcrash_async_frame_cursor_next(&cursor);
    EXPECT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::badFrame);
    tlcrash_async_thread_state_clear_reg(&start, TLCRASH_REG_FP);
    tlcrash_async_frame_cursor_init(&cursor, task, &start, nullptr);
    tlcrash_async_frame_cursor_next(&cursor);
    EXPECT_EQ(tlcrash_async_frame_cursor_next(&cursor), Error::badFrame);
  }
}

TEST(FrameCursorTest, AnUpwardGrowingStackMustNotMoveUp) {
  // On a stack that grows up, callers lie at lower addresses.
  FakeTask task;
  ASSERT_TRUE(task.map(0x8000, testing::Bytes().u64(0x7000).u64(0x2222).data()));
  tlcrash_async_thread_state state = startState(CPU_TYPE_X86_64, 0x1111, 0x8000);
  state.stack_direction = 1;
  tlcrash_async_thread_state previous = state;
  tlcrash_async_thread_state next{};
  struct Case {
    std::uint64_t previousFp;
    Error expected;
  };
  for (const Case& c : {Case{0x9000, Error::success}, Case{0x8000, Error::success},
                        Case{0x7000, Error::badFrame}}) {
    SCOPED_TRACE(c.previousFp);
    tlcrash_async_thread_state_set_reg(&previous, TLCRASH_REG_FP, c.previousFp);
    EXPECT_EQ(tlcrash_async_frame_read_frame_ptr(task, nullptr, &state, &previous, &next),
              c.expected);
  }
  // Without a previous frame (or its frame pointer) nothing is compared.
  EXPECT_EQ(tlcrash_async_frame_read_frame_ptr(task, nullptr, &state, nullptr, &next),
            Error::success);
  tlcrash_async_thread_state_clear_reg(&previous, TLCRASH_REG_FP);
  EXPECT_EQ(tlcrash_async_frame_read_frame_ptr(task, nullptr, &state, &previous, &next),
            Error::success);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_REG_FP), 0x7000u);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&next, TLCRASH_REG_IP), 0x2222u);
  EXPECT_EQ(next.valid_regs, 0b11u);
}

// Readers that answer a fixed error, or a fixed caller.
Error answersNotSupported(const Task&, tlcrash_async_image_list*, const tlcrash_async_thread_state*,
                          const tlcrash_async_thread_state*, tlcrash_async_thread_state*) {
  return Error::notSupported;
}
Error answersBadFrame(const Task&, tlcrash_async_image_list*, const tlcrash_async_thread_state*,
                      const tlcrash_async_thread_state*, tlcrash_async_thread_state*) {
  return Error::badFrame;
}
int gPreviousSeen = 0;
Error answersCaller(const Task&, tlcrash_async_image_list*,
                    const tlcrash_async_thread_state* current,
                    const tlcrash_async_thread_state* previous, tlcrash_async_thread_state* next) {
  gPreviousSeen += previous != nullptr ? 1 : 0;
  *next = *current;
  tlcrash_async_thread_state_set_reg(
      next, TLCRASH_REG_IP, tlcrash_async_thread_state_get_reg(current, TLCRASH_REG_IP) + 0x1000);
  return Error::success;
}

TEST(FrameCursorTest, TriesTheReadersInOrder) {
  FakeTask task;
  const tlcrash_async_thread_state start = startState(CPU_TYPE_X86_64, 0x10000, 0x8000);
  tlcrash_async_frame_cursor cursor;
  tlcrash_async_frame_cursor_init(&cursor, task, &start, nullptr);

  // Depth 0 needs no reader; above it, an empty list is an error.
  EXPECT_EQ(tlcrash_async_frame_cursor_next_with_readers(&cursor, nullptr, 0), Error::success);
  EXPECT_EQ(tlcrash_async_frame_cursor_next_with_readers(&cursor, nullptr, 0),
            Error::invalidArgument);

  // Every reader fails: the last one's error.
  const tlcrash_async_frame_reader_t failing[] = {answersNotSupported, answersBadFrame};
  EXPECT_EQ(tlcrash_async_frame_cursor_next_with_readers(&cursor, failing, 2), Error::badFrame);
  EXPECT_EQ(cursor.depth, 1u);

  // The first success wins; the previous frame is passed from depth 2 on.
  gPreviousSeen = 0;
  const tlcrash_async_frame_reader_t readers[] = {answersNotSupported, answersCaller,
                                                  answersBadFrame};
  EXPECT_EQ(tlcrash_async_frame_cursor_next_with_readers(&cursor, readers, 3), Error::success);
  EXPECT_EQ(ipOf(cursor), 0x11000u);
  EXPECT_EQ(tlcrash_async_frame_cursor_next_with_readers(&cursor, readers, 3), Error::success);
  EXPECT_EQ(ipOf(cursor), 0x12000u);
  EXPECT_EQ(gPreviousSeen, 1);
  EXPECT_EQ(tlcrash_async_thread_state_get_reg(&cursor.prev_frame, TLCRASH_REG_IP), 0x11000u);
  EXPECT_EQ(cursor.depth, 3u);
}

TEST(FrameCursorTest, NamesTheRegistersOfTheCurrentFrame) {
  FakeTask task;
  for (const Arch& arch : kArchs) {
    const tlcrash_async_thread_state start = startState(arch.cpu, 0x10000, 0x8000);
    tlcrash_async_frame_cursor cursor;
    tlcrash_async_frame_cursor_init(&cursor, task, &start, nullptr);
    EXPECT_EQ(tlcrash_async_frame_cursor_get_regcount(&cursor), arch.width == 8 ? 21u : 16u);
    EXPECT_STREQ(tlcrash_async_frame_cursor_get_regname(&cursor, 2),
                 arch.width == 8 ? "rsp" : "esp");
  }
}

}  // namespace
}  // namespace tlcrash

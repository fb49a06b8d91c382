#pragma once

// The frame cursor: walks a thread's stack from the frame it starts at to
// each caller in turn, asking a list of frame readers for the caller of the
// current frame. The default readers, in order: compact unwind, DWARF
// call-frame information, the frame-pointer chain.
// Crash path: async-signal-safe, no allocation.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"
#include "crashcapture/readers/image/image_list.h"

namespace tlcrash {

// A frame reader: fills `next` with the caller of `current` and answers
// success, or answers why it cannot (`next` is then not to be used).
// `previous` is the frame returned before `current`, null for the first.
// `image_list` may be null; readers that need images then answer
// notSupported.
using tlcrash_async_frame_reader_t = tlcrash_async_frame_error_t (*)(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next);

// A plain value, usually on the caller's stack; it borrows the task and the
// image list.
struct tlcrash_async_frame_cursor {
  const Task* task;
  tlcrash_async_image_list* image_list;
  // Frames returned so far.
  std::size_t depth;
  // The frame returned before the current one, and the current one.
  tlcrash_async_thread_state prev_frame;
  tlcrash_async_thread_state frame;
  // The DWARF reader's rules of the last step, for the next one.
  tlcrash_async_dwarf_unwind_memo dwarf_memo;
};

// Starts a walk at `state`; the first next() answers that frame itself.
void tlcrash_async_frame_cursor_init(tlcrash_async_frame_cursor* cursor, const Task& task,
                                     const tlcrash_async_thread_state* state,
                                     tlcrash_async_image_list* image_list) noexcept;

// Steps to the caller with the default readers.
tlcrash_async_frame_error_t tlcrash_async_frame_cursor_next(
    tlcrash_async_frame_cursor* cursor) noexcept;

// Steps to the caller with `readers`, tried in order until one succeeds. At
// depth 0 it returns the starting frame without reading. A caller whose
// instruction pointer is missing, 4096 or less, or (with an image list) in no
// listed image counts as a failure of the reader that found it (noFrames),
// and the next reader is asked. invalidArgument without readers; the last
// reader's error when all fail. A failed step leaves the cursor as it was.
tlcrash_async_frame_error_t tlcrash_async_frame_cursor_next_with_readers(
    tlcrash_async_frame_cursor* cursor, const tlcrash_async_frame_reader_t* readers,
    std::size_t reader_count) noexcept;

// The value of register `reg` in the current frame; notSupported (nothing
// written) when it is not known there.
tlcrash_async_frame_error_t tlcrash_async_frame_cursor_get_reg(
    const tlcrash_async_frame_cursor* cursor, int reg, std::uint64_t* value) noexcept;
const char* tlcrash_async_frame_cursor_get_regname(const tlcrash_async_frame_cursor* cursor,
                                                   int reg) noexcept;
std::size_t tlcrash_async_frame_cursor_get_regcount(
    const tlcrash_async_frame_cursor* cursor) noexcept;

void tlcrash_async_frame_cursor_free(tlcrash_async_frame_cursor* cursor) noexcept;

}  // namespace tlcrash

#pragma once

// A frame cursor that steps by the frame-pointer chain alone.
// Crash path: async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/async/error.h"
#include "crashcapture/async/frame_error.h"
#include "crashcapture/async/thread_state.h"
#include "crashcapture/image/image_list.h"
#include "crashcapture/platform/task.h"

namespace tlcrash {

struct tlcrash_async_frame_cursor {
  const Task* task;
  tlcrash_async_image_list* image_list;
  std::size_t depth;
  tlcrash_async_thread_state prev_frame;
  tlcrash_async_thread_state frame;
};

void tlcrash_async_frame_cursor_init(tlcrash_async_frame_cursor* cursor, const Task& task,
                                     const tlcrash_async_thread_state* state,
                                     tlcrash_async_image_list* image_list) noexcept;
// The first call gives the state of init; each later one the caller's frame.
// noFrames at the end of the chain (an instruction pointer of 4096 or less);
// the cursor is unchanged on failure.
tlcrash_async_frame_error_t tlcrash_async_frame_cursor_next(
    tlcrash_async_frame_cursor* cursor) noexcept;
// notSupported when the register is not known in the current frame.
tlcrash_error_t tlcrash_async_frame_cursor_get_reg(const tlcrash_async_frame_cursor* cursor,
                                                   int reg, std::uint64_t* value) noexcept;
const char* tlcrash_async_frame_cursor_get_regname(const tlcrash_async_frame_cursor* cursor,
                                                   int reg) noexcept;
std::size_t tlcrash_async_frame_cursor_get_regcount(
    const tlcrash_async_frame_cursor* cursor) noexcept;
void tlcrash_async_frame_cursor_free(tlcrash_async_frame_cursor* cursor) noexcept;

}  // namespace tlcrash

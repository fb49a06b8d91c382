#pragma once

// The frame reader of last resort: follows the frame-pointer chain. At a
// frame pointer lie the caller's frame pointer and the return address.
// Crash path: async-signal-safe.

#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/image/image_list.h"

namespace tlcrash {

// badFrame without a valid frame pointer, when the chain moves against the
// stack's growth (below the previous frame's on a downward-growing stack) or
// when the two words cannot be read; noFrames for a frame pointer of 0. The
// caller's frame has only its instruction and frame pointers valid. Needs no
// image list.
tlcrash_async_frame_error_t tlcrash_async_frame_read_frame_ptr(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept;

}  // namespace tlcrash

#pragma once

// The DWARF frame reader of the cursor: finds the image holding a frame's
// instruction pointer in the image list and unwinds the frame by the image's
// call-frame information: for a Mach-O image its __TEXT,__eh_frame (or,
// without it, __DWARF,__debug_frame); for an ELF image its .eh_frame, read at
// the one FDE that .eh_frame_hdr's search table gives (searched from the start
// only without a usable table). A frame is looked up by its instruction
// pointer, or the byte before it when that is a return address.
// Crash path: async-signal-safe.

#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_unwind.h"
#include "crashcapture/readers/image/image_list.h"

namespace tlcrash {

// badFrame without a valid instruction pointer; notSupported when it is 0,
// when no image (or no list) holds it, or when the section has no usable
// entry for it; noFrames when the image has no call-frame section or the rules
// cannot be applied; invalidArgument for a section the reader cannot take.
// The image list's reader hold is taken for the lookup and released on every
// path.
tlcrash_async_frame_error_t tlcrash_async_frame_read_dwarf_unwind(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept;

// The same, keeping the rules last found in `memo` (one walk's own), so that
// a recursion's frames are unwound without reading the tables again.
tlcrash_async_frame_error_t tlcrash_async_frame_read_dwarf_unwind_with_memo(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, tlcrash_async_thread_state* next,
    tlcrash_async_dwarf_unwind_memo* memo) noexcept;

}  // namespace tlcrash

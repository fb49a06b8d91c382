#pragma once

// The threads of the calling process, read from /proc/self/task without
// allocating: the directory is read with getdents64(2) into a buffer on the
// stack.

#include <cstddef>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

// Stores the kernel thread ids of the calling process into `threads`, at most
// `capacity` of them, and their number into `*count`. noMemory when the
// process has more threads than `capacity` (the first `capacity` are stored);
// internal when the directory cannot be read (`*count` is then 0).
// Crash path: async-signal-safe; errno is kept.
tlcrash_error_t tlcrash_linux_task_threads(tlcrash_thread_t* threads, std::size_t capacity,
                                           std::size_t* count) noexcept;

}  // namespace tlcrash

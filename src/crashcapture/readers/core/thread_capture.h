#pragma once

// The current thread, and the registers of the calling thread at the point of
// a call, as a thread state the frame cursor can start from.
// Crash path: async-signal-safe.

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/thread_state.h"

namespace tlcrash {

// The calling thread (its kernel thread id).
tlcrash_thread_t tlcrash_async_thread_self() noexcept;

using tlcrash_async_thread_state_current_callback =
    tlcrash_error_t (*)(tlcrash_async_thread_state* state, void* context);

// Captures the caller's general registers as they are at this call: the
// instruction pointer is the return address into the caller (marked as one),
// the frame pointer the caller's, the stack pointer the caller's once the
// call has returned (the return address is the word just below it); the
// other general registers and the flags as they were on entry, cs, fs and gs
// as they are; the exception state zero. Calls `callback(state, context)`
// while the capture's frame is still live and answers what the callback
// answers. An assembly routine on x86-64, whatever the compiler does with the
// caller (a tail call into it included); notSupported on other machines.
extern "C" tlcrash_error_t tlcrash_async_thread_state_current(
    tlcrash_async_thread_state_current_callback callback, void* context) noexcept;

}  // namespace tlcrash

#pragma once

// The thread state of a Linux signal context: the registers the kernel saved
// when it delivered a signal (to a crashing thread, or to a thread stopped by
// the suspension signal) translated into the x86-64 thread and exception
// states. x86-64 Linux only.
// Crash path: async-signal-safe.

#include <sys/ucontext.h>

#include "crashcapture/readers/core/thread_state.h"

namespace tlcrash {

// The state of the general registers in `mcontext`, every register valid:
// rax ... r15, rip, rflags, and cs, fs and gs from the packed segment word;
// the exception state from the trap number, the error code and the fault
// address (cr2) the kernel stored; cpu 0.
void tlcrash_async_thread_state_linux_mcontext_init(tlcrash_async_thread_state* state,
                                                    const mcontext_t* mcontext) noexcept;

// The same from the machine context of `context`.
void tlcrash_async_thread_state_ucontext_init(tlcrash_async_thread_state* state,
                                              const ucontext_t* context) noexcept;

}  // namespace tlcrash

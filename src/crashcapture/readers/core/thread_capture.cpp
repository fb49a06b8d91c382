#include "crashcapture/readers/core/thread_capture.h"

#include <unistd.h>

#include <cstddef>

namespace tlcrash {

tlcrash_thread_t tlcrash_async_thread_self() noexcept {
  return ::gettid();
}

#if defined(__x86_64__)

// Second half of the capture, called by the assembly routine below with the
// machine context it filled on its own stack.
extern "C" tlcrash_error_t tlcrash_async_thread_state_current_finish(
    const tlcrash_mcontext64* mcontext, tlcrash_async_thread_state_current_callback callback,
    void* context) noexcept {
  tlcrash_async_thread_state state;
  tlcrash_async_thread_state_mcontext_init(&state, mcontext);
  // The instruction pointer is the return address into the caller.
  state.ip_is_return_address = true;
  return callback(&state, context);
}

// The machine-context offsets the routine writes to.
static_assert(offsetof(tlcrash_mcontext64, ss) == 16);
static_assert(sizeof(tlcrash_mcontext64) == 184);
static_assert(offsetof(tlcrash_x86_thread_state64, rbp) == 48);
static_assert(offsetof(tlcrash_x86_thread_state64, rsp) == 56);
static_assert(offsetof(tlcrash_x86_thread_state64, rip) == 128);
static_assert(offsetof(tlcrash_x86_thread_state64, rflags) == 136);
static_assert(offsetof(tlcrash_x86_thread_state64, gs) == 160);

// Written in assembly so that what it records does not depend on how the
// compiler builds the caller or this file. On entry %rdi holds the callback
// and %rsi the context. The routine saves the flags before any instruction
// changes them, sets up a frame, fills a tlcrash_mcontext64 at 0(%rsp)
// (registers from 16(%rsp) on) with the registers as the caller had them at
// the call (the stack pointer as it is once the call has returned) and calls
// the finish routine with (context record, callback, context).
//
// Frame: 0(%rbp) the caller's %rbp, 8(%rbp) the return address, -8(%rbp) the
// flags, 0..183(%rsp) the context; 208 bytes below %rbp keep %rsp 16-aligned
// at the call.
asm(R"(
    .pushsection .text
    .p2align 4
    .globl tlcrash_async_thread_state_current
    .type tlcrash_async_thread_state_current, @function
tlcrash_async_thread_state_current:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    pushfq
    subq $200, %rsp
    movq %rax, 16(%rsp)
    movq %rbx, 24(%rsp)
    movq %rcx, 32(%rsp)
    movq %rdx, 40(%rsp)
    movq %rdi, 48(%rsp)
    movq %rsi, 56(%rsp)
    movq 0(%rbp), %rax
    movq %rax, 64(%rsp)
    leaq 16(%rbp), %rax
    movq %rax, 72(%rsp)
    movq %r8, 80(%rsp)
    movq %r9, 88(%rsp)
    movq %r10, 96(%rsp)
    movq %r11, 104(%rsp)
    movq %r12, 112(%rsp)
    movq %r13, 120(%rsp)
    movq %r14, 128(%rsp)
    movq %r15, 136(%rsp)
    movq 8(%rbp), %rax
    movq %rax, 144(%rsp)
    movq -8(%rbp), %rax
    movq %rax, 152(%rsp)
    xorl %eax, %eax
    movw %cs, %ax
    movq %rax, 160(%rsp)
    movw %fs, %ax
    movq %rax, 168(%rsp)
    movw %gs, %ax
    movq %rax, 176(%rsp)
    movq $0, 0(%rsp)
    movq $0, 8(%rsp)
    movq %rsi, %rdx
    movq %rdi, %rsi
    movq %rsp, %rdi
    call tlcrash_async_thread_state_current_finish@PLT
    leave
    .cfi_def_cfa %rsp, 8
    ret
    .cfi_endproc
    .size tlcrash_async_thread_state_current, .-tlcrash_async_thread_state_current
    .popsection
)");

#else

// No capture routine for this architecture yet: reports start elsewhere.
extern "C" tlcrash_error_t tlcrash_async_thread_state_current(
    tlcrash_async_thread_state_current_callback callback, void* context) noexcept {
  (void)callback;
  (void)context;
  return tlcrash_error_t::notSupported;
}

#endif

}  // namespace tlcrash
